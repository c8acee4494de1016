// The request/reply cycle every test window runs: timer-driven reads ("Acquisition"/"Stop"), one
// write per "Validate" that suspends and resumes a running read, and the judgement of each reply
// when its time-out timer fires. Windows describe their cycles; this class runs them.
#pragma once

#include "modulewindow.h"
#include "models.h"

#include <cstdint>
#include <functional>

extern const QString kAcquisitionCaption; // "Acquisition"
extern const QString kAnalogAddressNotSelected; // "Moudle address not selected！"

struct ReadCycle {
    QPushButton *button = nullptr; // its caption is the cycle's state
    WindowTimer *acquisition = nullptr;
    WindowTimer *overtime = nullptr;
    int addressBox = 0;
    std::uint8_t function = 0x02;
    std::uint16_t start = 0;
    std::uint16_t count = 0;
    int replyBytes = 0;
    QString emptyAddressMessage;
    std::function<void()> decode; // runs on an accepted reply
};

struct WriteCycle {
    QPushButton *button = nullptr;
    WindowTimer *overtime = nullptr;
    int addressBox = 1;
    // The request without its CRC, for a module address.
    std::function<QByteArray(std::uint8_t address)> payload;
};

class TestWindow : public ModuleWindow
{
    Q_OBJECT
public:
    TestWindow(const ModelRow &model, int widthTwips, QWidget *parent = nullptr);

    const ModelRow &model() const { return m_model; }
    bool acquiring(int cycle) const;

    // 0: nothing to resume; n: read cycle n-1 is suspended for a write.
    int ResumeAcquisition = 0;

protected:
    WindowTimer *makeTimer(const QString &name, int timingLine);
    int addReadCycle(const ReadCycle &cycle);
    void setWriteCycle(const WriteCycle &write);
    void finishCycles(); // after the cycles are described: reply bound

    void startStop(int cycle);
    void acquisitionTick(int cycle);
    void judgeRead(int cycle);
    void validate();
    void judgeWrite();

    void loadTimings() override;
    void onLineLost() override;

    // Indicator helpers shared by the digital and combined panels.
    static void setIndicator(QLabel *indicator, bool on);
    static bool indicatorOn(const QLabel *indicator);
    static QLabel *makeIndicator(QWidget *parent, const QString &name);
    void toggleIndicator(QLabel *indicator);
    static QLabel *makeValueLabel(QWidget *parent, const QString &name);

    // A write of the output indicators to coils 0.. (function 15): one data bit per indicator,
    // channel 1 in bit 0 of the first data byte.
    template <typename Indicator>
    static QByteArray coilWritePayload(std::uint8_t address, const QVector<Indicator *> &outputs);
    // Writes register i of the accepted reply (hex text from position 6i+10) into label i by the
    // model's conversion.
    void showRegisters(const QVector<QLabel *> &labels);

    QVector<ReadCycle> m_cycles;
    WriteCycle m_write;

private:
    void stopCycle(int cycle);
    void resumeSuspended();
    bool otherCycleRunning(int cycle) const;

    ModelRow m_model;
    QVector<QPair<WindowTimer *, int>> m_timingLines;
};

template <typename Indicator>
QByteArray TestWindow::coilWritePayload(std::uint8_t address, const QVector<Indicator *> &outputs)
{
    const int count = int(outputs.size());
    const int dataBytes = (count + 7) / 8;
    QByteArray payload;
    payload += char(address);
    payload += char(0x0F);
    payload += char(0x00); // start at coil 0
    payload += char(0x00);
    payload += char(count >> 8);
    payload += char(count & 0xFF);
    payload += char(dataBytes);
    for (int b = 0; b < dataBytes; ++b) {
        int data = 0;
        for (int bit = 0; bit < 8 && b * 8 + bit < count; ++bit)
            if (indicatorOn(outputs[b * 8 + bit]))
                data |= 1 << bit;
        payload += char(data);
    }
    return payload;
}

// The test window of a model, loaded; null for a name that is not a model.
ModuleWindow *createTestWindow(const QString &model, QWidget *parent = nullptr);
