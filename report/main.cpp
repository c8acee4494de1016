// korvant-report: a checkout journal's report as PDF (Qt's PDF writer needs QtGui, which
// korvant-cli does not load; korvant-cli writes the HTML and CSV itself and starts this for --pdf).
// It runs without a display on the offscreen platform.
#include "checkoutreport.h"
#include "reportpdf.h"

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
    parser.setApplicationDescription(QStringLiteral("A checkout journal's report as PDF."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("JOURNAL"), QStringLiteral("the checkout journal, NAME.checkout.jsonl"));
    parser.addOption({QStringLiteral("pdf"), QStringLiteral("write the PDF report to FILE"), QStringLiteral("FILE")});
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
    if (parser.isSet("pdf") && !writeReportPdf(checkoutReportHtml(*journal), parser.value("pdf"), &error))
        return fail(3, error);
    return 0;
}
