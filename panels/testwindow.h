// The request/reply cycle every test window runs: timer-driven reads ("Acquisition"/"Stop"), one
// write per "Validate" that suspends and resumes a running read, and the judgement of each reply
// when its time-out timer fires. Windows describe their cycles; this class runs them.
#pragma once

#include "modulewindow.h"
#include "models.h"
#include "windowvalues.h"

#include <cstdint>
#include <functional>


// The widgets of a read cycle; what it sends comes from the model's reads, in the same order.
struct ReadCycle {
    QPushButton *button = nullptr; // shows the cycle's state
    WindowTimer *acquisition = nullptr;
    WindowTimer *overtime = nullptr;
    int addressBox = 0;
    std::function<void()> decode; // shows an accepted reply in the panel
};

struct WriteCycle {
    QPushButton *button = nullptr;
    WindowTimer *overtime = nullptr;
    int addressBox = 1;
    // The framed request, for a module address.
    std::function<QByteArray(std::uint8_t address)> request;
};

class TrendWindow;

class TestWindow : public ModuleWindow
{
    Q_OBJECT
public:
    TestWindow(const ModelRow &model, int widthTwips, QWidget *parent = nullptr);

    const ModelRow &model() const { return m_model; }
    bool acquiring(int cycle) const;

    // 0: nothing to resume; n: read cycle n-1 is suspended for a write.
    int ResumeAcquisition = 0;
    const AcquisitionCycle &cycle() const { return m_machine; }

    // The values of every accepted read, and the trend window over them (Ctrl+G, or "Trend…"
    // on a right-click, in the windows with analog inputs).
    WindowValues &values() { return m_values; }
    TrendWindow *openTrend();

protected:
    WindowTimer *makeTimer(const QString &name, int timingLine);
    int addReadCycle(const ReadCycle &cycle);
    void setWriteCycle(const WriteCycle &write);
    void finishCycles(); // after the cycles are described: the machine and the reply bound

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

    // The on/off states of output indicators, for a coil write.
    template <typename Indicator>
    static QList<bool> outputStates(const QVector<Indicator *> &outputs);
    // Writes register i of the accepted reply into label i by the model's conversion.
    void showRegisters(const QVector<QLabel *> &labels);

    QVector<ReadCycle> m_cycles;
    WriteCycle m_write;

private:
    // Does what the machine says, then mirrors its state.
    void apply(const CycleActions &actions);
    WindowTimer *timer(TimerRef ref) const;

    // An accepted reply of a read cycle that its panel shows: its values, a row per channel.
    void valuesAccepted(int cycle);

    AcquisitionCycle m_machine;
    WindowValues m_values;
    QPointer<TrendWindow> m_trend;
    ModelRow m_model;
    QVector<QPair<WindowTimer *, int>> m_timingLines;
};

template <typename Indicator>
QList<bool> TestWindow::outputStates(const QVector<Indicator *> &outputs)
{
    QList<bool> states;
    for (const Indicator *output : outputs)
        states << indicatorOn(output);
    return states;
}

// The test window of a model, loaded; null for a name that is not a model.
ModuleWindow *createTestWindow(const QString &model, QWidget *parent = nullptr);
