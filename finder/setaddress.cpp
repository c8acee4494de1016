// "Set address…" on a row of the Bus Finder: the new address asked, then written to that module
// alone as korvant-cli's set-address --to-address does: the module read, the new address read
// (nobody may answer there), the write, and the module read at its new address.
#include "busfinder.h"

#include "exchange.h"
#include "linesettings.h"
#include "numtext.h"
#include "prompt.h"
#include "serialgroup.h"

#include <QInputDialog>

void BusFinderWindow::setAddressOfRow(int row)
{
    const QTableWidgetItem *item = Table_Results->item(row, 0);
    if (!item || m_finder.running() || m_write)
        return;
    const int index = item->data(Qt::UserRole).toInt();
    const FinderRow r = m_rows.value(index);
    if (!r.isModule())
        return;
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("Input_Address"));
    ask.setWindowTitle(QStringLiteral("Set address"));
    ask.setLabelText(QStringLiteral("New address for the module at address %1 (1 to 255):").arg(r.address));
    if (ask.exec() != QDialog::Accepted)
        return;
    const std::optional<std::uint8_t> to = addressFromText(ask.textValue());
    if (!to || *to < 1) {
        Prompt(this, QStringLiteral("The address must be 1 to 255！"));
        return;
    }
    const int port = portNumber();
    if (!ProbePort(port))
        return;
    setTrafficTag(r.heardCode ? communicationParameterTexts().value(r.heardCode - 1) : QString());
    if (!ConfigurePort(port, settingsText(LineSettings{r.baud(), r.parity()})))
        return;
    Frame1->showOpen(true);
    const qint64 turnaroundUs = addressFromText(Combo_Turnaround->currentText()).value_or(20) * 1000LL;
    // A request, its echo where the adapter gives one, and the parameter reply; no less than four
    // times the slowest response heard (a module at the new address may be that one).
    double slowestMs = 0;
    for (const FinderRow &other : std::as_const(m_rows))
        slowestMs = qMax(slowestMs, other.responseMs);
    m_writeWaitUs = qMax(lineTimeUs(r.heardCode, 8 + 8 + 11) + turnaroundUs, qint64(slowestMs * 4000));
    m_write = OneModuleWrite::address(std::uint8_t(r.address), *to);
    m_writeRow = index;
    m_writeTo = *to;
    sendWriteStep();
}

void BusFinderWindow::sendWriteStep()
{
    clearExchange();
    m_request = m_write->request();
    applyExchange(CycleAction(CycleAction::Send, m_request));
    TM_Probe->start(int((m_writeWaitUs + 999) / 1000));
}

void BusFinderWindow::judgeWriteStep()
{
    Exchange x(m_request);
    x.echoKnown = echoKnown();
    x.judge(received());
    recordVerdict(x.verdict, int(x.echo.size()), x.echoKnown);
    m_write->heard(x.verdict);
    if (m_write->step() == OneModuleWrite::Step::Done)
        writeDone(x);
    else
        sendWriteStep();
}

// Written: the row shows the module at its new address, with what it said of itself there.
// Refused: said in a box, in korvant-cli's words; the row stays.
void BusFinderWindow::writeDone(const Exchange &last)
{
    const OneModuleWrite plan = *m_write;
    m_write.reset();
    line()->close();
    Frame1->showOpen(false);
    FinderRow &r = m_rows[m_writeRow];
    if (plan.outcome() == OneModuleWrite::Outcome::Written) {
        Label_TimeLeft->setText(QStringLiteral("address %1 written to the module at address %2").arg(m_writeTo).arg(r.address));
        r.address = m_writeTo;
        if (last.accepted()) {
            const ModuleParameters p = moduleParameters(last.reply);
            r.kind = FinderRow::Module;
            r.code = p.code;
            r.model = p.model;
            r.note.clear();
        }
        sortRows();
        showRows();
        return;
    }
    QString why = plan.refusal();
    if (plan.outcome() == OneModuleWrite::Outcome::WriteRefused)
        why = last.verdict.refusal == Refusal::Exception ? QStringLiteral("the module answered with %1").arg(last.verdict.reason())
                                                         : QStringLiteral("no valid reply: %1").arg(last.verdict.reason());
    Prompt(this, why.first(1).toUpper() + why.sliced(1));
}
