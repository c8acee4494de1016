#include "testwindow.h"

#include "conversions.h"
#include "decoders.h"
#include "modbus.h"
#include "numtext.h"
#include "prompt.h"
#include "settingsfiles.h"

#include <QMouseEvent>

#include <algorithm>


TestWindow::TestWindow(const ModelRow &model, int widthTwips, QWidget *parent)
    : ModuleWindow(model.name, model.name, widthTwips, 7080, parent), m_model(model)
{
}

WindowTimer *TestWindow::makeTimer(const QString &name, int timingLine)
{
    auto *timer = new WindowTimer(name, this);
    if (timingLine > 0)
        m_timingLines.append({timer, timingLine});
    return timer;
}

int TestWindow::addReadCycle(const ReadCycle &cycle)
{
    m_cycles.append(cycle);
    return int(m_cycles.size()) - 1;
}

void TestWindow::setWriteCycle(const WriteCycle &write)
{
    m_write = write;
}

// The reply length of a cycle's read, whatever the address.
static int replyBytes(const ReadCycle &c)
{
    return expectedReplyLength(readRequest(0, c.function, c.start, c.count));
}

void TestWindow::finishCycles()
{
    int longest = 8;
    for (const ReadCycle &c : m_cycles)
        longest = qMax(longest, replyBytes(c));
    setLongestReply(longest);
}

void TestWindow::loadTimings()
{
    const TimingFile timing = readTmRc(sysFilePath(QStringLiteral("tm.rc")));
    QList<int> unusable; // lines of this window's timers that are there but give no interval
    for (const auto &[timer, line] : m_timingLines) {
        timer->setInterval(timing.intervals.value(line - 1));
        if (line <= timing.linesRead && !timing.usable(line) && !unusable.contains(line))
            unusable.append(line);
    }
    std::sort(unusable.begin(), unusable.end());
    const QString label = QStringLiteral("Cannot read %1").arg(sysFileLabel(QStringLiteral("tm.rc")));
    QStringList problems;
    if (!timing.complete())
        problems << (timing.linesRead > 0
                         ? label + QStringLiteral(": it holds %1 of its %2 lines").arg(timing.linesRead).arg(kTimingLines)
                         : label);
    if (!unusable.isEmpty()) {
        QStringList numbers;
        for (int line : unusable)
            numbers << QString::number(line);
        problems << label
                        + (unusable.size() == 1 ? QStringLiteral(": line %1 gives no interval")
                                                : QStringLiteral(": lines %1 give no interval"))
                              .arg(numbers.join(QStringLiteral(", ")));
    }
    // Told once, on load: a timer of 0 never fires, and a window that polls nothing says nothing.
    if (!problems.isEmpty())
        Prompt(this, problems.join(QLatin1Char('\n')));
}

bool TestWindow::acquiring(int cycle) const
{
    return m_cycles[cycle].button->text() == kStopCaption;
}

bool TestWindow::otherCycleRunning(int cycle) const
{
    for (int i = 0; i < m_cycles.size(); ++i)
        if (i != cycle && m_cycles[i].acquisition->isEnabled())
            return true;
    return false;
}

void TestWindow::stopCycle(int cycle)
{
    m_cycles[cycle].acquisition->setEnabled(false);
    m_cycles[cycle].button->setText(kAcquisitionCaption);
}

void TestWindow::startStop(int cycle)
{
    ReadCycle &c = m_cycles[cycle];
    if (c.button->text() == kAcquisitionCaption) {
        // Only one cycle polls the shared port at a time.
        for (int i = 0; i < m_cycles.size(); ++i)
            if (i != cycle && acquiring(i))
                stopCycle(i);
        c.acquisition->setEnabled(true);
        c.button->setText(kStopCaption);
    } else if (c.button->text() == kStopCaption) {
        stopCycle(cycle);
    }
}

void TestWindow::acquisitionTick(int cycle)
{
    // A busy machine can deliver the next tick before an overdue time-out: judge the earlier
    // request first, so its reply is neither lost nor judged against the new request.
    for (int i = 0; i < m_cycles.size(); ++i)
        if (m_cycles[i].overtime->isEnabled())
            judgeRead(i);
    ReadCycle &c = m_cycles[cycle];
    clearExchange();
    if (!portIsOpen()) {
        stopCycle(cycle);
        Prompt(this, kOpenPortFirst);
        return;
    }
    const QString text = Combo_Addr[c.addressBox]->currentText();
    const auto address = addressFromText(text);
    if (!address) {
        stopCycle(cycle);
        Prompt(this, text.isEmpty() ? c.emptyAddressMessage : kAddressRangeMessage);
        return;
    }
    sendFrame(readRequest(*address, c.function, c.start, c.count));
    c.overtime->setEnabled(true);
}

void TestWindow::judgeRead(int cycle)
{
    ReadCycle &c = m_cycles[cycle];
    if (AcceptReply(ReceiveHex, SendHex, replyBytes(c))) {
        Text_Receive->setPlainText(ReceiveHex);
        if (c.decode)
            c.decode();
        Text_Message->setPlainText(kDataNormal);
    } else {
        Text_Message->setPlainText(kDataError);
    }
    c.overtime->setEnabled(false);
}

void TestWindow::validate()
{
    for (int i = 0; i < m_cycles.size(); ++i) {
        if (acquiring(i)) {
            m_cycles[i].acquisition->setEnabled(false);
            ResumeAcquisition = i + 1;
            Pause(300);
            break;
        }
    }
    clearExchange();
    if (!portIsOpen()) {
        // No port to poll either: the suspended cycle ends here, or its next tick would say
        // the same again.
        if (ResumeAcquisition > 0)
            stopCycle(ResumeAcquisition - 1);
        ResumeAcquisition = 0;
        Prompt(this, kOpenPortFirst);
        return;
    }
    const auto address = requestAddress(m_write.addressBox, kAddressNotSelected);
    if (!address) {
        resumeSuspended();
        return;
    }
    sendFrame(m_write.request(*address));
    m_write.overtime->setEnabled(true);
}

void TestWindow::judgeWrite()
{
    // The reply to a write is its echo, whatever the address and the values written.
    if (AcceptReply(ReceiveHex, SendHex, expectedReplyLength(m_write.request(0)))) {
        Text_Receive->setPlainText(ReceiveHex);
        Text_Message->setPlainText(kDataNormal);
    } else {
        Text_Message->setPlainText(kDataError);
    }
    m_write.overtime->setEnabled(false);
    resumeSuspended();
}

void TestWindow::resumeSuspended()
{
    const int cycle = ResumeAcquisition - 1;
    ResumeAcquisition = 0;
    // A cycle the user stopped meanwhile, or one whose place another cycle took, stays stopped.
    if (cycle >= 0 && cycle < m_cycles.size() && acquiring(cycle) && !otherCycleRunning(cycle))
        m_cycles[cycle].acquisition->setEnabled(true);
}

void TestWindow::onLineLost()
{
    for (int i = 0; i < m_cycles.size(); ++i)
        if (acquiring(i))
            stopCycle(i);
    ResumeAcquisition = 0;
}

void TestWindow::showRegisters(const QVector<QLabel *> &labels)
{
    const QStringList texts = analogTexts(bytesFromHexText(ReceiveHex), m_model.conversion, int(labels.size()));
    for (int i = 0; i < labels.size(); ++i)
        labels[i]->setText(texts[i]);
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

bool TestWindow::indicatorOn(const QLabel *indicator)
{
    return indicator->text() == kOn;
}

void TestWindow::toggleIndicator(QLabel *indicator)
{
    setIndicator(indicator, indicator->text() == kOff);
}

QLabel *TestWindow::makeIndicator(QWidget *parent, const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    setIndicator(label, false);
    return label;
}

QLabel *TestWindow::makeValueLabel(QWidget *parent, const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setStyleSheet(QStringLiteral("background-color: #000000; color: #FFFFFF; border: 1px solid #808080;"));
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    label->setFont(font);
    return label;
}
