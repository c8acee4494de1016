// The request/reply cycle every test window runs: timer-driven reads ("Acquisition"/"Stop"), one
// write per "Validate" that suspends and resumes a running read, and the judgement of each reply
// when its time-out timer fires. Windows describe their cycles; this class runs them.
#pragma once

#include "modulewindow.h"
#include "models.h"
#include "panellayout.h"
#include "windowvalues.h"

#include <QPointer>

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
    bool acquiring(int cycle) const { return m_machine.acquiring(cycle); }

    // 0: nothing to resume; n: read cycle n-1 is suspended for a write.
    int ResumeAcquisition = 0;
    const AcquisitionCycle &cycle() const { return m_machine; }

    // The analog values and input indicators of the last accepted reply.
    QVector<QLabel *> AI_SHOW;
    QVector<QLabel *> DI_SHOW;
    // The output indicators the user switches. What they show is kept in m_outputs and set on
    // them from there, never read back from their texts.
    QVector<ClickLabel *> DO_SHOW;

    // The values of every accepted read, and the trend window over them (Ctrl+G, or "Trend…"
    // on a right-click, in the windows with analog inputs).
    WindowValues &values() { return m_values; }
    TrendWindow *openTrend();

    // What the panels show of an accepted reply: the analog values (AI_SHOW, by the model's
    // conversion), the inputs (DI_SHOW); and a click on output indicator index, which switches its
    // state and shows the new one.
    void Show_AI_Data();
    void Show_DI_Data();
    void DO_SHOW_Click(int index);

protected:
    // A timer whose interval is tm.rc's line timingLine (0: none), calling fire.
    WindowTimer *makeTimer(const QString &name, int timingLine, const std::function<void()> &fire);
    void finishCycles(); // after the cycles are described: the machine and the reply bound
    // A read panel's head (addPanelHead, "Acquisition"), caption and button set to its own: the
    // button starts and stops the next read cycle, which polls with the two timers through the
    // address box of its own index; decode shows an accepted reply.
    void addReadHead(QGroupBox *panel, QLabel *&caption, const QString &captionName, QPushButton *&button,
                     const QString &buttonName, WindowTimer *acquisition, WindowTimer *overtime,
                     std::function<void()> decode, int buttonTop = 840, int buttonHeight = 495);
    // A write panel's head ("Validate"): its button sends request for the address in box addressIndex.
    void addWriteHead(QGroupBox *panel, QLabel *&caption, const QString &captionName, QPushButton *&button,
                      const QString &buttonName, int addressIndex, WindowTimer *overtime,
                      std::function<QByteArray(std::uint8_t)> request, int buttonTop = 840, int buttonHeight = 495);

    void startStop(int cycle) { apply(m_machine.click(cycle)); }
    void acquisitionTick(int cycle);
    void judgeRead(int cycle)
    {
        m_machine.framing = framing();
        apply(m_machine.readTimeout(cycle, received(), echoKnown()));
    }
    void validate();
    void judgeWrite()
    {
        m_machine.framing = framing();
        apply(m_machine.writeTimeout(received(), echoKnown()));
    }

    void loadTimings() override;
    void onLineLost() override { apply(m_machine.lineLost()); }

    // The panels' rows, one builder per kind, which every window with such a panel uses: per
    // text a caption (captionName_<firstCaption + i>, appended to captions), then its value label
    // (AI_SHOW_i), input indicator (DI_SHOW_i, OFF) or output indicator (DO_SHOW_i, OFF, a click
    // switches it), laid out by plan. fill: the indicators fill their background themselves.
    void addAnalogRows(QGroupBox *frame, const QStringList &texts, int count, const QString &captionName,
                       int firstCaption, QVector<QLabel *> &captions, const RowPlan &plan);
    void addInputRows(QGroupBox *frame, const QStringList &texts, const QString &captionName, int firstCaption,
                      QVector<QLabel *> &captions, const RowPlan &plan, bool fill);
    void addOutputRows(QGroupBox *frame, const QStringList &texts, const QString &captionName,
                       QVector<QLabel *> &captions, const RowPlan &plan, bool fill);

    static void setIndicator(QLabel *indicator, bool on);

    // Every output off, and DO_SHOW showing it; once DO_SHOW is built.
    void resetOutputs();
    // The on/off states of the outputs, for a coil write.
    const QList<bool> &outputStates() const { return m_outputs; }

    QVector<ReadCycle> m_cycles;
    WriteCycle m_write;

    WindowTimer *cycleTimer(TimerRef ref) const override;
    QPushButton *cycleButton(int cycle) const override { return m_cycles[cycle].button; }
    void decodeReply(const CycleAction &judged) override;
    void keepReply(const CycleAction &judged) override { valuesAccepted(judged.cycle); }
    void mirrorMachine() override { ResumeAcquisition = m_machine.suspended(); }

private:

    // An accepted reply of a read cycle that its panel shows: its values, a row per channel.
    void valuesAccepted(int cycle);

    AcquisitionCycle m_machine;
    WindowValues m_values;
    QPointer<TrendWindow> m_trend;
    ModelRow m_model;
    QVector<QPair<WindowTimer *, int>> m_timingLines;
    QList<bool> m_outputs;
};

// The test window of a model, loaded; null for a name that is not a model.
ModuleWindow *createTestWindow(const QString &model, QWidget *parent = nullptr);
