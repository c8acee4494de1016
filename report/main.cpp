// korvant-report: a checkout journal's report as PDF, HTML and CSV. korvant-cli's checkout report
// starts it for the PDF; it runs without a display on the offscreen platform.
#include "checkoutreport.h"
#include "reportpdf.h"
#include "sitefile.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A checkout journal's report as PDF, HTML and CSV."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("JOURNAL"), QStringLiteral("the checkout journal, NAME.checkout.jsonl"));
    for (const char *format : {"pdf", "html", "csv"})
        parser.addOption({QString::fromLatin1(format), QStringLiteral("write the %1 report to FILE").arg(QString::fromLatin1(format).toUpper()),
                          QStringLiteral("FILE")});
    parser.process(app);
    QTextStream err(stderr);
    const auto fail = [&err](int status, const QString &message) {
        err << "korvant-report: " << message << Qt::endl;
        return status;
    };
    if (parser.positionalArguments().size() != 1)
        return fail(2, QStringLiteral("give one journal (korvant-report --help)"));
    QString error;
    const std::optional<CheckJournal> journal = readJournal(parser.positionalArguments()[0], &error);
    if (!journal)
        return fail(2, error);
    if (!journal->warning.isEmpty())
        fail(0, QStringLiteral("warning: ") + journal->warning);
    const QString html = checkoutReportHtml(*journal);
    if (parser.isSet("pdf") && !writeReportPdf(html, parser.value("pdf"), &error))
        return fail(3, error);
    if (parser.isSet("html") && !writeWhole(parser.value("html"), html.toUtf8(), &error))
        return fail(3, error);
    if (parser.isSet("csv") && !writeWhole(parser.value("csv"), checkoutReportCsv(*journal).toUtf8(), &error))
        return fail(3, error);
    return 0;
}
