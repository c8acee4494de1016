// A serial line that passes everything through to another line and notes when each frame went
// out and when the first byte of its answer came back, so the benchmark can time what a window
// really does on the wire without touching the window.
#pragma once

#include "serialline.h"

#include <QtGlobal>

#include <memory>
#include <vector>

struct LineTimes {
    std::vector<qint64> writesNs;  // steady clock, one per frame written
    std::vector<qint64> replyNs;   // first byte after a write, minus that write's time
    qint64 receivedBytes = 0;      // every byte that came
};

class RecordingLine : public SerialLine
{
    Q_OBJECT
public:
    RecordingLine(std::unique_ptr<SerialLine> inner, LineTimes *times);

    Result probe(int port) override { return m_inner->probe(port); }
    Result open(int port, const QString &settings) override { return m_inner->open(port, settings); }
    void close() override { m_inner->close(); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void write(const QByteArray &frame) override;
    QString deviceName(int port) const override { return m_inner->deviceName(port); }
    void setReceiver(Receiver receiver) override;

private:
    std::unique_ptr<SerialLine> m_inner;
    LineTimes *m_times;
    bool m_awaitingReply = false;
};

qint64 steadyNowNs();
