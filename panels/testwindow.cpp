#include "testwindow.h"

#include "conversions.h"
#include "decoders.h"
#include "valuelog.h"
#include "modbus.h"
#include "numtext.h"
#include "prompt.h"
#include "settingsfiles.h"
#include "trendwindow.h"

#include <QAction>
#include <QMouseEvent>

#include <algorithm>


TestWindow::TestWindow(const ModelRow &model, int widthTwips, QWidget *parent)
    : ModuleWindow(model.name, model.name, widthTwips, 7080, parent), m_model(model)
{
    // The analog output window reads nothing: no trend there.
    if (model.channels() == 0)
        return;
    auto *trend = new QAction(QStringLiteral("Trend…"), this);
    trend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(trend, &QAction::triggered, this, &TestWindow::openTrend);
    addAction(trend);
    for (TextBox *box : {Text_Send, Text_Receive, Text_Message})
        box->addAction(trend);
}

WindowTimer *TestWindow::makeTimer(const QString &name, int timingLine, const std::function<void()> &fire)
{
    auto *timer = new WindowTimer(name, this);
    if (timingLine > 0)
        m_timingLines.append({timer, timingLine});
    connect(timer, &WindowTimer::Timer, this, fire);
    return timer;
}

void TestWindow::addReadHead(QGroupBox *panel, QLabel *&caption, const QString &captionName, QPushButton *&button,
                             const QString &buttonName, WindowTimer *acquisition, WindowTimer *overtime,
                             std::function<void()> decode, int buttonTop, int buttonHeight)
{
    const int cycle = int(m_cycles.size());
    const PanelHead head = addPanelHead(panel, captionName, cycle, buttonName, kAcquisitionCaption, buttonTop, buttonHeight);
    caption = head.caption;
    button = head.button;
    connect(button, &QPushButton::clicked, this, [this, cycle] { startStop(cycle); });
    m_cycles.append({button, acquisition, overtime, cycle, std::move(decode)});
}

void TestWindow::addWriteHead(QGroupBox *panel, QLabel *&caption, const QString &captionName, QPushButton *&button,
                              const QString &buttonName, int addressIndex, WindowTimer *overtime,
                              std::function<QByteArray(std::uint8_t)> request, int buttonTop, int buttonHeight)
{
    const PanelHead head = addPanelHead(panel, captionName, addressIndex, buttonName, QStringLiteral("Validate"), buttonTop,
                                        buttonHeight);
    caption = head.caption;
    button = head.button;
    connect(button, &QPushButton::clicked, this, &TestWindow::validate);
    m_write = {button, overtime, addressIndex, std::move(request)};
}

void TestWindow::finishCycles()
{
    m_machine = AcquisitionCycle(modelReads(m_model));
    Q_ASSERT(m_machine.reads() == m_cycles.size());
    int longest = kEchoLength;
    for (int i = 0; i < m_machine.reads(); ++i) {
        const AcquisitionCycle::Read &r = m_machine.read(i);
        longest = qMax(longest, replyLength(r.function, r.count));
    }
    setLongestReply(longest);
    describeTraffic(qMax(longest, m_write.request ? int(m_write.request(0).size()) : 0), false);
}

void TestWindow::loadTimings()
{
    const TimingFile timing = readTmRc(sysFilePath(QStringLiteral("tm.rc")));
    // This window's lines that give no interval: missing from the file, or there but damaged.
    QList<int> unusable;
    for (const auto &[timer, line] : m_timingLines) {
        timer->setInterval(timing.intervals.value(line - 1));
        if (!timing.usable(line) && !unusable.contains(line))
            unusable.append(line);
    }
    std::sort(unusable.begin(), unusable.end());
    const QString file = sysFileLabel(QStringLiteral("tm.rc"));
    QStringList problems;
    if (!timing.opened)
        problems << QStringLiteral("Cannot read %1").arg(file);
    else if (!timing.complete())
        problems << QStringLiteral("%1 holds %2 of its %3 lines").arg(file).arg(timing.linesRead).arg(kTimingLines);
    if (!unusable.isEmpty()) {
        QStringList numbers;
        for (int line : unusable)
            numbers << QString::number(line);
        problems << QStringLiteral("%1 gives no interval in %2 %3")
                        .arg(file, unusable.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
                             numbers.join(QStringLiteral(", ")));
    }
    // Told once, on load: a timer of 0 never fires, and a window that polls nothing says nothing.
    if (!problems.isEmpty())
        Prompt(this, problems.join(QLatin1Char('\n')));
}

WindowTimer *TestWindow::cycleTimer(TimerRef ref) const
{
    switch (ref.kind) {
    case TimerRef::Acquisition: return m_cycles[ref.index].acquisition;
    case TimerRef::ReadTimeout: return m_cycles[ref.index].overtime;
    case TimerRef::WriteTimeout: return m_write.overtime;
    }
    return nullptr;
}

void TestWindow::decodeReply(const CycleAction &judged)
{
    if (m_cycles[judged.cycle].decode)
        m_cycles[judged.cycle].decode();
}

void TestWindow::acquisitionTick(int cycle)
{
    const BoxAddress address =
        addressFromBox(Combo_Addr[m_cycles[cycle].addressBox]->currentText(), m_machine.read(cycle).emptyMessage());
    m_machine.framing = framing();
    apply(m_machine.tick(cycle, portIsOpen(), address, received(), echoKnown()));
}

void TestWindow::validate()
{
    apply(m_machine.validate(portIsOpen(), addressFromBox(Combo_Addr[m_write.addressBox]->currentText(), kAddressNotSelected),
                             m_write.request));
}

void TestWindow::Show_AI_Data()
{
    const QStringList texts = analogTexts(reply(), m_model.conversion, int(AI_SHOW.size()));
    for (int i = 0; i < AI_SHOW.size(); ++i)
        AI_SHOW[i]->setText(texts[i]);
}

void TestWindow::Show_DI_Data()
{
    // Four inputs of a combined module: the low half of the data byte; the high half is never looked at.
    const QList<bool> on = digitalInputs(reply(), int(DI_SHOW.size()));
    for (int i = 0; i < DI_SHOW.size(); ++i)
        setIndicator(DI_SHOW[i], on[i]);
}

void TestWindow::valuesAccepted(int cycle)
{
    const QByteArray &bytes = reply();
    // Stamped when the reply was complete, not when it was judged (at its time-out, or the next tick).
    m_values.add(valueRows(m_model, m_machine.read(cycle), bytes, bytes.isEmpty() ? 0 : std::uint8_t(bytes[0]),
                           WindowValues::now() - qint64(msSinceLastByte()), windowTitle()));
}

TrendWindow *TestWindow::openTrend()
{
    if (!m_trend) {
        m_trend = new TrendWindow(&m_values.startTrend(), &m_values, windowTitle(), m_model.conversion, this);
        m_trend->setAttribute(Qt::WA_DeleteOnClose);
    }
    showRaised(m_trend);
    return m_trend;
}

void TestWindow::setIndicator(QLabel *indicator, bool on)
{
    static const QString onStyle = QStringLiteral("background-color: #000000; color: #00FF00;");
    static const QString offStyle = QStringLiteral("background-color: #000000; color: #FFFFFF;");
    indicator->setText(on ? kOn : kOff);
    // Setting a style sheet re-polishes and repaints the label even when it is the same one, and
    // most replies repeat the inputs of the one before: restyle only on a change.
    const QString &style = on ? onStyle : offStyle;
    if (indicator->styleSheet() != style)
        indicator->setStyleSheet(style);
}

void TestWindow::resetOutputs()
{
    m_outputs = QList<bool>(DO_SHOW.size(), false);
    for (ClickLabel *indicator : DO_SHOW)
        setIndicator(indicator, false);
}

void TestWindow::DO_SHOW_Click(int index)
{
    m_outputs[index] = !m_outputs[index];
    setIndicator(DO_SHOW[index], m_outputs[index]);
}

// Caption i of a panel's rows, named on from firstCaption.
static QLabel *rowCaption(QGroupBox *frame, const QString &text, const QString &name, int number)
{
    return named(new QLabel(text, frame), QStringLiteral("%1_%2").arg(name).arg(number));
}

void TestWindow::addAnalogRows(QGroupBox *frame, const QStringList &texts, int count, const QString &captionName,
                               int firstCaption, QVector<QLabel *> &captions, const RowPlan &plan)
{
    QVector<QLabel *> added;
    for (int i = 0; i < count; ++i) {
        added.append(rowCaption(frame, texts.value(i), captionName, firstCaption + i));
        auto *value = named(new QLabel(frame), QStringLiteral("AI_SHOW_%1").arg(i));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFrameStyle(QFrame::Box | QFrame::Plain);
        value->setStyleSheet(QStringLiteral("background-color: #000000; color: #FFFFFF; border: 1px solid #808080;"));
        QFont font = value->font();
        font.setPointSizeF(font.pointSizeF() * 1.4);
        font.setBold(true);
        value->setFont(font);
        AI_SHOW.append(value);
    }
    layOutRows(added, AI_SHOW, plan);
    captions += added;
}

// An indicator of a row.
template <typename Label>
static Label *rowIndicator(QGroupBox *frame, const QString &name, int i, bool fill)
{
    auto *indicator = named(new Label(frame), QStringLiteral("%1_%2").arg(name).arg(i));
    indicator->setAlignment(Qt::AlignCenter);
    if (fill)
        indicator->setAutoFillBackground(true);
    return indicator;
}

void TestWindow::addInputRows(QGroupBox *frame, const QStringList &texts, const QString &captionName, int firstCaption,
                              QVector<QLabel *> &captions, const RowPlan &plan, bool fill)
{
    QVector<QLabel *> added;
    for (int i = 0; i < texts.size(); ++i) {
        added.append(rowCaption(frame, texts[i], captionName, firstCaption + i));
        DI_SHOW.append(rowIndicator<QLabel>(frame, QStringLiteral("DI_SHOW"), i, fill));
        setIndicator(DI_SHOW.last(), false);
    }
    layOutRows(added, DI_SHOW, plan);
    captions += added;
}

void TestWindow::addOutputRows(QGroupBox *frame, const QStringList &texts, const QString &captionName,
                               QVector<QLabel *> &captions, const RowPlan &plan, bool fill)
{
    QVector<QLabel *> added;
    for (int i = 0; i < texts.size(); ++i) {
        added.append(rowCaption(frame, texts[i], captionName, i));
        ClickLabel *indicator = rowIndicator<ClickLabel>(frame, QStringLiteral("DO_SHOW"), i, fill);
        indicator->setCursor(Qt::PointingHandCursor);
        connect(indicator, &ClickLabel::clicked, this, [this, i] { DO_SHOW_Click(i); });
        DO_SHOW.append(indicator);
    }
    layOutRows(added, DO_SHOW, plan);
    captions += added;
    resetOutputs();
}
