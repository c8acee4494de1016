// The report of a checkout, made from its journal: the site and who checked it, each module's
// model, address and code, the failures and the channels not tested first, the counts, a table per
// module (channel, tag, test, values, verdict, time, comment) and lines for the signatures. HTML
// (which the report program and the checkout window also print to PDF) and CSV, a row a channel.
// QtCore only: korvant-cli writes both without a display.
#pragma once

#include "checkout.h"

#include <QString>
#include <QVector>

// Every channel of the journal's site with the result that holds for it (none: untested).
struct ReportRow {
    const SiteModule *module = nullptr;
    CheckChannel channel;
    const CheckRecord *result = nullptr;
    Verdict verdict() const { return result ? result->verdict : Verdict::Untested; }
};
QVector<ReportRow> reportRows(const CheckJournal &journal);

// How many channels passed, failed, were not tested (with a reason) and are still untested.
struct ReportCounts {
    int pass = 0, fail = 0, notTested = 0, untested = 0;
};
ReportCounts reportCounts(const QVector<ReportRow> &rows);

// The test of a channel as the report names it: "analog input 4, 12, 20 mA ± 0.1".
QString reportTestText(const CheckChannel &channel);

// The whole report as an HTML document; every text from the journal is escaped.
QString checkoutReportHtml(const CheckJournal &journal);
// "address,model,module_tag,channel,tag,test,verdict,values,time,comment,reason", then a row a
// channel in the site's order, untested ones included; each line ends with a newline.
QString checkoutReportCsv(const CheckJournal &journal);
// The HTML and the CSV written whole to the paths given (an empty path: that one not written);
// false with why ("r.html: No space left on device").
bool writeReportFiles(const CheckJournal &journal, const QString &htmlPath, const QString &csvPath, QString *error);
