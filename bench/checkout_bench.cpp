// korvant-checkout-bench: a checkout of 500 channels (55 modules), every channel decided, and what
// its journal and report cost: each result appended and fsynced, the journal read back, the HTML
// and CSV made, the PDF laid out, and korvant-cli checkout report writing all three as a user
// runs it (goal: under a second). Each figure the median of three runs.
#include "checkoutreport.h"
#include "reportpdf.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

Site bigSite()
{
    Site site{QStringLiteral("Bench plant"), QStringLiteral("COM1"), 2, {}, {}};
    const std::pair<const char *, int> models[] = {{"KV7710ADAM", 20}, {"KV5530ADAM", 10}, {"KV1730ADAM", 5}, {"KV1720ADAM", 20}};
    for (const auto &[model, count] : models)
        for (int i = 0; i < count; ++i)
            site.modules.append({int(site.modules.size()) + 1, QString::fromLatin1(model), 2, QStringLiteral("cabinet <%1>").arg(i), {}, {}});
    return site;
}

double medianMs(const std::function<void()> &run)
{
    std::vector<double> ms;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[1];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    CheckJournal head{bigSite(), QStringLiteral("bench.kvsite"), QStringLiteral("Bench"), 1772366400000, QStringLiteral("bench"), {}, {}};
    const QVector<CheckChannel> channels = checkChannels(head.site);
    const QString path = dir.filePath(QStringLiteral("bench.checkout.jsonl"));
    QString error;
    if (!startJournal(path, head, &error))
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    QElapsedTimer appending;
    appending.start();
    for (int i = 0; i < channels.size(); ++i) {
        const CheckChannel &c = channels[i];
        const SiteModule &m = head.site.modules[c.module];
        const CheckRecord r{head.startedMs + i * 1000, m.address, m.model, c.channel, c.kind, QStringLiteral("tag & <%1>").arg(i),
                            i % 50 == 7 ? Verdict::Fail : Verdict::Pass, QStringLiteral("4.01, 12.00, 19.98 mA"),
                            i % 50 == 7 ? QStringLiteral("wired to the next terminal") : QString(), QString()};
        if (!appendResult(path, r, &error))
            return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    }
    const double appendMs = double(appending.nsecsElapsed()) / 1e6 / double(channels.size());
    std::optional<CheckJournal> journal;
    const double readMs = medianMs([&] { journal = readJournal(path, &error); });
    QString html, csv;
    const double textMs = medianMs([&] { html = checkoutReportHtml(*journal), csv = checkoutReportCsv(*journal); });
    const double pdfMs = medianMs([&] { writeReportPdf(html, dir.filePath(QStringLiteral("r.pdf")), &error); });
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/korvant-cli");
    const double cliMs = medianMs([&] {
        QProcess::execute(cli, {"checkout", "report", path, "--html", dir.filePath("r.html"), "--csv", dir.filePath("r.csv"), "--pdf",
                                dir.filePath("c.pdf")});
    });
    std::printf("checkout of %lld channels, %lld modules (median of 3)\n", qlonglong(channels.size()), qlonglong(head.site.modules.size()));
    std::printf("  append + fsync a result      %8.2f ms each\n", appendMs);
    std::printf("  read the journal             %8.1f ms\n", readMs);
    std::printf("  HTML and CSV                 %8.1f ms (%lld + %lld bytes)\n", textMs, qlonglong(html.toUtf8().size()), qlonglong(csv.toUtf8().size()));
    std::printf("  PDF laid out and written     %8.1f ms\n", pdfMs);
    std::printf("  korvant-cli checkout report  %8.1f ms (--html --csv --pdf; goal: under 1000 ms)\n", cliMs);
    return cliMs < 1000 ? 0 : 1;
}
