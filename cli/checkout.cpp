// korvant-cli checkout report: a checkout journal's report as HTML and CSV, written here, and as
// PDF, which korvant-report makes (Qt's PDF writer needs QtGui, which korvant-cli does not load).
#include "checkoutreport.h"
#include "commands.h"
#include "context.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace {

// korvant-report beside this program makes the PDF; what it says on stderr is passed on.
int writePdf(Context &c)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/korvant-report");
    if (!QFileInfo(program).isExecutable())
        return c.fail(ExitPort, QStringLiteral("no PDF written: korvant-report, which makes it, is missing beside korvant-cli (%1)")
                                    .arg(program));
    QProcess report;
    report.start(program, {c.o.file, QStringLiteral("--pdf"), c.o.pdfPath});
    const bool finished = report.waitForFinished(-1) && report.exitStatus() == QProcess::NormalExit;
    // Its own messages, but for the journal's warning, said already.
    for (const QString &line : QString::fromLocal8Bit(report.readAllStandardError()).split('\n', Qt::SkipEmptyParts))
        if (line.startsWith(QLatin1String("korvant-report: ")) && !line.startsWith(QLatin1String("korvant-report: warning: ")))
            c.err << line << '\n';
    if (!finished)
        return c.fail(ExitPort, QStringLiteral("no PDF written: korvant-report failed: %1").arg(report.errorString()));
    return report.exitCode();
}

} // namespace

int runCheckout(Context &c)
{
    QString error;
    const std::optional<CheckJournal> journal = readJournal(c.o.file, &error);
    if (!journal)
        return c.fail(ExitUsage, error);
    if (!journal->warning.isEmpty())
        c.warn(journal->warning);
    if (!writeReportFiles(*journal, c.o.htmlPath, c.o.csvPath, &error))
        return c.fail(ExitPort, QStringLiteral("cannot write the report: ") + error);
    return c.o.pdfPath.isEmpty() ? int(ExitOk) : writePdf(c);
}
