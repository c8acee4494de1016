#include "prompt.h"
#include "toolwindows.h"
#include "trafficlogfile.h"
#include "valuelog.h"
#include "windowvalues.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>
#include <memory>

namespace {
// Whether the command line asks only for the help or the version: those are printed without
// opening a display, so they work over SSH and for help2man at build time.
bool asksOnlyForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--traffic-log") == 0 || std::strcmp(argv[i], "--value-log") == 0) {
            ++i; // its FILE, whatever it is called
            continue;
        }
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}
} // namespace

int main(int argc, char *argv[])
{
    std::unique_ptr<QCoreApplication> app;
    if (asksOnlyForText(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    // The help and the version name the program; while it runs, its application title is the one
    // every message box carries.
    QCoreApplication::setApplicationName(QStringLiteral("korvant-debug"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("KORVANT Debugging Software: tests KV remote I/O modules and sets "
                                                    "their parameters over RS-485 (Modbus RTU)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption trafficLog(QStringLiteral("traffic-log"),
                                        QStringLiteral("Append every frame of every window to FILE, a line each."),
                                        QStringLiteral("FILE"));
    parser.addOption(trafficLog);
    const QCommandLineOption valueLog(QStringLiteral("value-log"),
                                      QStringLiteral("Append every value every window reads to FILE as CSV, a line per "
                                                     "channel; rotated at 100 MB, five files kept."),
                                      QStringLiteral("FILE"));
    parser.addOption(valueLog);
    parser.process(*app);
    QCoreApplication::setApplicationName(QStringLiteral("Prompt"));

    ToolWindows tool;
    // A log's trouble, told as a sentence of its own.
    const auto tell = [](const QString &message) { Prompt(nullptr, message.first(1).toUpper() + message.sliced(1)); };
    std::unique_ptr<TrafficLogFile> log;
    if (parser.isSet(trafficLog)) {
        log = std::make_unique<TrafficLogFile>(parser.value(trafficLog), tell);
        tool.trafficSink = [&log](const QString &caption, const TrafficRow &row) { log->write(caption, row); };
    }
    std::unique_ptr<ValueLog> values;
    if (parser.isSet(valueLog)) {
        values = std::make_unique<ValueLog>(parser.value(valueLog), tell);
        WindowValues::setProgramSink([&values](const QVector<ValueRow> &rows) { values->write(rows); });
    }
    tool.main.show();
    const int rc = app->exec();
    tool.trafficSink = {};
    WindowValues::setProgramSink({});
    return rc;
}
