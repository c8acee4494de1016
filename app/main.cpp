#include "modulewindow.h"
#include "prompt.h"
#include "toolwindows.h"
#include "trafficlogfile.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("KORVANT Debugging Software"));
    parser.addHelpOption();
    const QCommandLineOption trafficLog(QStringLiteral("traffic-log"),
                                        QStringLiteral("Append every frame of every window to FILE, a line each."),
                                        QStringLiteral("FILE"));
    parser.addOption(trafficLog);
    parser.process(app);

    ToolWindows tool;
    std::unique_ptr<TrafficLogFile> log;
    if (parser.isSet(trafficLog)) {
        const QString path = parser.value(trafficLog);
        log = std::make_unique<TrafficLogFile>(path, [path](const QString &why) {
            Prompt(nullptr, QStringLiteral("Cannot write the traffic log %1: %2").arg(path, why));
        });
        ModuleWindow::setTrafficSink([&log](const QString &caption, const TrafficRow &row) { log->write(caption, row); });
    }
    tool.main.show();
    const int rc = app.exec();
    ModuleWindow::setTrafficSink({});
    return rc;
}
