#include "checkoutreport.h"

#include "csv.h"
#include "linesettings.h"
#include "valuelog.h"

#include <QDateTime>

#include <algorithm>

QVector<ReportRow> reportRows(const CheckJournal &journal)
{
    QVector<ReportRow> rows;
    for (const CheckChannel &c : checkChannels(journal.site)) {
        const SiteModule &m = journal.site.modules[c.module];
        rows.append({&m, c, journal.result(m.address, c.channel)});
    }
    return rows;
}

ReportCounts reportCounts(const QVector<ReportRow> &rows)
{
    ReportCounts n;
    for (const ReportRow &r : rows) {
        switch (r.verdict()) {
        case Verdict::Pass: ++n.pass; break;
        case Verdict::Fail: ++n.fail; break;
        case Verdict::NotTested: ++n.notTested; break;
        case Verdict::Untested: ++n.untested; break;
        }
    }
    return n;
}

QString reportTestText(const CheckChannel &channel)
{
    QStringList targets;
    for (const CheckPoint &p : channel.points)
        targets << QString::number(p.target);
    QString text = checkKindText(channel.kind);
    if (!targets.isEmpty())
        text += QStringLiteral(" %1 %2 ± %3").arg(targets.join(QStringLiteral(", ")), channel.unit).arg(channel.points[0].tolerance);
    else if (!channel.unit.isEmpty())
        text += QStringLiteral(", %1 against a reference").arg(channel.unit);
    return text;
}

namespace {

// A time as the clock that recorded it showed it, wherever the report is made.
QDateTime recorded(qint64 wallMs, int utcOffsetS)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs, Qt::OffsetFromUTC, utcOffsetS);
}

QString verdictShown(Verdict v) { return v == Verdict::Untested ? QStringLiteral("Untested") : verdictText(v); }

// The tag a row shows: the one kept with its result, else the site's.
QString tagOf(const ReportRow &r) { return r.result && !r.result->tag.isEmpty() ? r.result->tag : r.channel.tag; }

// What the technician wrote about a result: why it was not tested, then the comment.
QString remarks(const ReportRow &r)
{
    if (!r.result)
        return {};
    QStringList parts{r.result->reason, r.result->comment};
    parts.removeAll(QString());
    return parts.join(QStringLiteral(" - "));
}

QString moduleName(const SiteModule &m)
{
    return QStringLiteral("%1 at address %2").arg(m.model).arg(m.address) + (m.tag.isEmpty() ? QString() : QStringLiteral(", ") + m.tag);
}

// A table row of escaped texts.
QString htmlRow(const QStringList &cells, const char *cell = "td", const QString &attributes = {})
{
    QString row = QStringLiteral("<tr%1>").arg(attributes);
    for (const QString &c : cells)
        row += QStringLiteral("<%1>%2</%1>").arg(QLatin1String(cell), c.toHtmlEscaped());
    return row + QStringLiteral("</tr>\n");
}

const QString kTable = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">\n");

QString headerHtml(const CheckJournal &j)
{
    QDateTime first = recorded(j.startedMs, j.utcOffsetS), last = first;
    if (!j.records.isEmpty()) {
        const auto [lo, hi] = std::minmax_element(j.records.begin(), j.records.end(),
                                                  [](const CheckRecord &a, const CheckRecord &b) { return a.wallMs < b.wallMs; });
        first = recorded(lo->wallMs, lo->utcOffsetS);
        last = recorded(hi->wallMs, hi->utcOffsetS);
    }
    QString html = QStringLiteral("<h1>Checkout report - %1</h1>\n").arg(j.site.name.toHtmlEscaped()) + kTable;
    html += htmlRow({QStringLiteral("Site"), j.site.name + (j.sitePath.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(j.sitePath))});
    html += htmlRow({QStringLiteral("Technician"), j.technician});
    html += htmlRow({QStringLiteral("Dates"), first.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" to ") + last.toString(QStringLiteral("yyyy-MM-dd HH:mm"))});
    html += htmlRow({QStringLiteral("Tool version"), j.toolVersion});
    html += htmlRow({QStringLiteral("Port and line"), QStringLiteral("%1 at %2").arg(j.site.port, communicationParameterText(j.site.code))});
    html += QStringLiteral("</table>\n<h2>Modules</h2>\n") + kTable + htmlRow({"Model", "Address", "Code", "Tag"}, "th");
    for (const SiteModule &m : j.site.modules)
        html += htmlRow({m.model, QString::number(m.address),
                         QStringLiteral("%1 (%2)").arg(m.code).arg(communicationParameterText(m.code)), m.tag});
    return html + QStringLiteral("</table>\n");
}

QString summaryHtml(const QVector<ReportRow> &rows)
{
    const ReportCounts n = reportCounts(rows);
    QString html = QStringLiteral("<h2>Summary</h2>\n<p>%1 channels: %2 passed, %3 failed, %4 not tested, %5 untested.</p>\n")
                       .arg(rows.size()).arg(n.pass).arg(n.fail).arg(n.notTested).arg(n.untested);
    const std::pair<QString, QVector<Verdict>> lists[] = {{QStringLiteral("Failures"), {Verdict::Fail}},
                                                          {QStringLiteral("Not tested and untested"), {Verdict::NotTested, Verdict::Untested}}};
    for (const auto &[title, verdicts] : lists) {
        QString table;
        for (const ReportRow &r : rows)
            if (verdicts.contains(r.verdict()))
                table += htmlRow({QStringLiteral("%1 at %2").arg(r.module->model).arg(r.module->address), r.channel.channel, tagOf(r), verdictShown(r.verdict()),
                                  r.result ? r.result->values : QString(), remarks(r)});
        html += QStringLiteral("<h3>%1</h3>\n").arg(title)
                + (table.isEmpty() ? QStringLiteral("<p>None.</p>\n")
                                   : kTable + htmlRow({"Module", "Channel", "Tag", "Verdict", "Values", "Comment"}, "th") + table
                                         + QStringLiteral("</table>\n"));
    }
    return html;
}

QString moduleTablesHtml(const QVector<ReportRow> &rows)
{
    QString html;
    const SiteModule *module = nullptr;
    for (const ReportRow &r : rows) {
        if (r.module != module) {
            html += QString(module ? QStringLiteral("</table>\n") : QString()) + QStringLiteral("<h2>%1</h2>\n").arg(moduleName(*r.module).toHtmlEscaped())
                    + kTable + htmlRow({"Channel", "Tag", "Test", "Values", "Verdict", "Time", "Comment"}, "th");
            module = r.module;
        }
        html += htmlRow({r.channel.channel, tagOf(r), reportTestText(r.channel), r.result ? r.result->values : QString(),
                         verdictShown(r.verdict()), r.result ? recorded(r.result->wallMs, r.result->utcOffsetS).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString(), remarks(r)},
                        "td", r.verdict() == Verdict::Fail ? QStringLiteral(" style=\"color:#b00000\"") : QString());
    }
    return html + (module ? QStringLiteral("</table>\n") : QString());
}

} // namespace

QString checkoutReportHtml(const CheckJournal &journal)
{
    const QVector<ReportRow> rows = reportRows(journal);
    const QString signature = QStringLiteral("<td width=\"40%\">&nbsp;<br>&nbsp;</td>");
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Checkout report - %1</title></head>\n"
                          "<body style=\"font-family: sans-serif; font-size: 9pt\">\n")
               .arg(journal.site.name.toHtmlEscaped())
           + headerHtml(journal) + summaryHtml(rows) + moduleTablesHtml(rows)
           + QStringLiteral("<h2>Signatures</h2>\n") + kTable
           + QStringLiteral("<tr><th>Technician</th>%1<th>Date</th>%1</tr>\n<tr><th>Witness</th>%1<th>Date</th>%1</tr>\n").arg(signature)
           + QStringLiteral("</table>\n</body></html>\n");
}

QString checkoutReportCsv(const CheckJournal &journal)
{
    QString csv = QStringLiteral("address,model,module_tag,channel,tag,test,verdict,values,time,comment,reason\n");
    for (const ReportRow &r : reportRows(journal)) {
        const CheckRecord *x = r.result;
        const QStringList fields{QString::number(r.module->address), r.module->model, r.module->tag, r.channel.channel, tagOf(r),
                                 reportTestText(r.channel), verdictShown(r.verdict()), x ? x->values : QString(),
                                 x ? isoTime(recorded(x->wallMs, x->utcOffsetS)) : QString(), x ? x->comment : QString(), x ? x->reason : QString()};
        QStringList line;
        for (const QString &f : fields)
            line << csvField(f);
        csv += line.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return csv;
}

bool writeReportFiles(const CheckJournal &journal, const QString &htmlPath, const QString &csvPath, QString *error)
{
    return (htmlPath.isEmpty() || writeWhole(htmlPath, checkoutReportHtml(journal).toUtf8(), error))
           && (csvPath.isEmpty() || writeWhole(csvPath, checkoutReportCsv(journal).toUtf8(), error));
}
