// The line of one module window and what went over it: the serial line, the last request as hex
// text (SendHex) and the bytes received since, as hex text (ReceiveHex) with a bound, so a flood
// costs nothing and a reply too long stays recognisable as too long.
#pragma once

#include "serialline.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class ModuleLine : public QObject
{
    Q_OBJECT
public:
    explicit ModuleLine(QObject *parent = nullptr);
    ~ModuleLine() override;

    SerialLine *line() const { return m_line.get(); }
    // Empties both texts: a new exchange starts.
    void clear();
    // The frame becomes SendHex and goes out in one write.
    void send(const QByteArray &frame);
    // The bytes received since the last request (ReceiveHex as bytes).
    QByteArray received() const { return m_received; }
    // Bytes beyond this many since the last request are dropped: the longest reply plus a margin.
    void setLongestReply(int bytes);

    QString SendHex;
    QString ReceiveHex;

signals:
    // The line failed while open (adapter pulled out); it is closed now.
    void failed();
    // Bytes as they came, before the bound (the traffic record sees them all).
    void arrived(const QByteArray &bytes);

private:
    void take(const QByteArray &bytes);
    std::unique_ptr<SerialLine> m_line;
    qsizetype m_maxReceiveChars = 300 * 3;
    QByteArray m_received;
};
