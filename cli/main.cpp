// korvant-cli: the tool's module operations from a shell, without a display.
#include "commands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Without TZ, glibc looks at /etc/localtime again on every clock reading (a poll prints one
    // an exchange) to notice a change of zone; named here, the file is read once.
    if (qEnvironmentVariableIsEmpty("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvant-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments());
    // COMn is looked up where the launcher runs the windows, unless the working folder has its own sys/.
    const QString home = QDir::homePath();
    parsed.options.sysFolder = toolSysFolder(QDir::currentPath(), qEnvironmentVariable("XDG_DATA_HOME"), home);
    if (parsed.options.help) {
        // Said with ~ for the home folder, so the manual page made from it is the same on every machine.
        const QString folder = parsed.options.sysFolder;
        out << helpText(folder.startsWith(home + QLatin1Char('/')) ? QStringLiteral("~") + folder.mid(home.size()) : folder);
        return ExitOk;
    }
    if (parsed.options.version) {
        out << QStringLiteral("korvant-cli %1\n").arg(QStringLiteral(KORVANT_VERSION));
        return ExitOk;
    }
    if (!parsed.error.isEmpty()) {
        err << QStringLiteral("korvant-cli: %1\nTry 'korvant-cli --help'.\n").arg(parsed.error);
        return ExitUsage;
    }
    return runCommand(parsed.options, out, err);
}
