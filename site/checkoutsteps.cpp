// The checkout window's tests as they run: what the poll's exchanges tell the watches, an output
// switched for its test and set again until its read-back shows it, the technician's keys.
#include "checkoutwindow.h"

#include "conversions.h"
#include "sitewindow.h"
#include "trafficlog.h"

namespace {
std::uint16_t microamps(const CheckPoint &point)
{
    return std::uint16_t(qBound(0, qRound(point.target * 1000), kOutputFullScale));
}
} // namespace

// The values of an accepted read fed to the undecided inputs' watches; an output's read-back kept.
void CheckoutWindow::heard(const SiteRequest &request, bool accepted)
{
    if (!accepted)
        return;
    const SiteModuleState &s = m_site->poll().state(request.module);
    const QVector<ValueRow> values = request.kind == SiteRequest::Read ? s.reads.value(request.read)
                                     : request.kind == SiteRequest::ReadBack ? s.readBackRows : QVector<ValueRow>();
    for (const ValueRow &value : values) {
        const int k = m_byChannel.value(key(request.module, value.channel), -1);
        if (k < 0)
            continue;
        Row &row = m_rows[k];
        if (request.kind == SiteRequest::ReadBack) {
            heardBack(k, value);
        } else if (row.verdict == Verdict::Untested && row.channel.kind == CheckKind::Input) {
            hearInput(k, value);
        } else if (row.verdict == Verdict::Untested && row.channel.kind == CheckKind::AnalogInput) {
            hearAnalog(k, value);
        }
    }
}

// The output under test as read back.
void CheckoutWindow::heardBack(int k, const ValueRow &value)
{
    if (k == m_test && m_rows[k].on) {
        m_rows[k].readBack = value.text;
        showRow(m_rows[k]);
    }
}

void CheckoutWindow::hearInput(int k, const ValueRow &value)
{
    Row &row = m_rows[k];
    const qsizetype changes = row.input.changes.size();
    row.input.heard(value.value == 1.0, value.wallMs);
    if (row.input.changes.size() == changes)
        return;
    showRow(row);
    if (row.input.passed())
        decide(k, Verdict::Pass, seen(row));
}

void CheckoutWindow::hearAnalog(int k, const ValueRow &value)
{
    Row &row = m_rows[k];
    bool passed = !row.points.isEmpty();
    for (PointWatch &point : row.points) {
        point.heard(value.value, value.wallMs);
        passed = passed && point.passed;
    }
    row.now = value.text;
    showRow(row);
    if (passed)
        decide(k, Verdict::Pass, seen(row));
}

// Space: an output switched on (that one alone), or the analog output set to its first point.
void CheckoutWindow::start()
{
    const int k = current();
    if (k < 0)
        return;
    Row &row = m_rows[k];
    if (m_test >= 0)
        return say(QStringLiteral("First pass (Enter) or fail (F) %1").arg(m_rows[m_test].channel.channel));
    if (row.channel.kind == CheckKind::Output) {
        if (!m_site->setOutput(row.channel.module, row.channel.index + 1, true))
            return say(QStringLiteral("%1 cannot be switched: its module has not answered as its model").arg(row.channel.channel));
        m_test = k;
        row.readBack.clear();
        row.on = true;
        showRow(row);
        return say(QStringLiteral("%1 is on: Enter passes, F fails").arg(row.channel.channel));
    }
    if (row.channel.kind != CheckKind::AnalogOutput)
        return say(QStringLiteral("%1 passes by itself; F fails it").arg(row.channel.channel));
    if (row.channel.points.isEmpty())
        return say(QStringLiteral("Type the points of %1 first (P)").arg(row.channel.channel));
    row.before = m_site->poll().state(row.channel.module).analogWanted; // as last set, its write perhaps under way
    row.point = 0;
    row.measured.clear();
    m_test = k;
    setPoint(row);
}

void CheckoutWindow::setPoint(Row &row)
{
    const CheckPoint &p = row.channel.points[row.point];
    if (!m_site->setAnalogOutput(row.channel.module, microamps(p))) {
        m_test = -1;
        return say(QStringLiteral("%1 cannot be set: its module has not answered as its model").arg(row.channel.channel));
    }
    say(QStringLiteral("%1 set to %2 mA: type what the meter shows and Enter (Enter alone confirms), F fails").arg(row.channel.channel, numberText(p.target)));
    Edit_Measured->clear();
    Edit_Measured->setFocus();
}

// Enter: the output under test passes, the analog output's point is confirmed.
void CheckoutWindow::pass()
{
    if (m_test >= 0 && m_rows[m_test].channel.kind == CheckKind::Output)
        return finishOutput(m_test, Verdict::Pass);
    if (m_test >= 0)
        return measured();
    if (const int k = current(); k >= 0)
        say((m_rows[k].channel.kind == CheckKind::Output || m_rows[k].channel.kind == CheckKind::AnalogOutput
                 ? QStringLiteral("Space starts the test of %1") : QStringLiteral("%1 passes by itself; F fails it")).arg(m_rows[k].channel.channel));
}

// F: the test under way fails, or the selected channel.
void CheckoutWindow::fail()
{
    if (m_test >= 0 && m_rows[m_test].channel.kind == CheckKind::Output)
        return finishOutput(m_test, Verdict::Fail);
    if (m_test >= 0)
        return finishAnalog(m_test, Verdict::Fail);
    if (const int k = current(); k >= 0)
        decide(k, Verdict::Fail, seen(m_rows[k]));
}

// The analog output's point measured (within its tolerance passes) or confirmed (nothing typed).
void CheckoutWindow::measured()
{
    if (m_test < 0 || m_rows[m_test].channel.kind != CheckKind::AnalogOutput)
        return;
    Row &row = m_rows[m_test];
    const CheckPoint &p = row.channel.points[row.point];
    const QString text = Edit_Measured->text().trimmed();
    bool ok = true;
    const double value = text.toDouble(&ok);
    if (!text.isEmpty() && !ok)
        return say(QStringLiteral("Type the measured value in mA, or nothing to confirm"));
    row.measured << numberText(p.target) + QStringLiteral(" mA: ") + (text.isEmpty() ? QStringLiteral("confirmed") : numberText(value));
    showRow(row);
    if (!text.isEmpty() && qAbs(value - p.target) > p.tolerance + 1e-9)
        return finishAnalog(m_test, Verdict::Fail);
    if (++row.point < row.channel.points.size())
        return setPoint(row);
    finishAnalog(m_test, Verdict::Pass);
}

void CheckoutWindow::finishOutput(int k, Verdict verdict)
{
    const QString values = seen(m_rows[k]);
    endTest();
    decide(k, verdict, values);
}

void CheckoutWindow::finishAnalog(int k, Verdict verdict)
{
    Edit_Measured->clear();
    List->setFocus();
    finishOutput(k, verdict);
}

// The test under way ends: its output switched off again, the analog output set back.
void CheckoutWindow::endTest()
{
    if (m_test < 0)
        return;
    Row &row = m_rows[std::exchange(m_test, -1)];
    if (row.channel.kind == CheckKind::Output)
        m_site->setOutput(row.channel.module, row.channel.index + 1, false);
    else
        m_site->setAnalogOutput(row.channel.module, row.before.value_or(0));
    row.on = false;
    row.measured.clear();
    showRow(row);
}

// N: the selected channel "Not tested", with the reason typed.
void CheckoutWindow::notTested()
{
    const int k = current();
    const QString reason = Edit_Reason->text().trimmed();
    if (k < 0)
        return;
    if (reason.isEmpty()) {
        Edit_Reason->setFocus();
        return say(QStringLiteral("Type why %1 is not tested, then Enter").arg(m_rows[k].channel.channel));
    }
    if (k == m_test)
        return say(QStringLiteral("First pass (Enter) or fail (F) %1").arg(m_rows[k].channel.channel));
    List->setFocus();
    if (decide(k, Verdict::NotTested, QString(), reason))
        Edit_Reason->clear();
}

// C: the comment goes with the selected channel's verdict; a decided channel's is recorded again.
void CheckoutWindow::comment()
{
    const int k = current();
    List->setFocus();
    if (k < 0)
        return;
    Row &row = m_rows[k];
    row.comment = Edit_Comment->text().trimmed();
    showRow(row);
    if (row.verdict != Verdict::Untested)
        decide(k, row.verdict, row.verdict == Verdict::NotTested ? QString() : row.values, row.verdict == Verdict::NotTested ? row.values : QString());
}

// P: an analog channel's points as typed; its watches begin again.
void CheckoutWindow::points()
{
    const int k = current();
    if (k < 0 || k == m_test)
        return;
    const std::optional<QVector<CheckPoint>> points = pointsFromText(Edit_Points->text());
    if (!points)
        return say(QStringLiteral("Points are typed as 4 ±0.2, 12 ±0.2 (or +- for ±)"));
    Row &row = m_rows[k];
    row.channel.points = *points;
    row.points.clear();
    for (const CheckPoint &p : *points)
        row.points.append(PointWatch{p, -1, std::nullopt, {}, false});
    showRow(row);
    say(QString());
    List->setFocus();
}
