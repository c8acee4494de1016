// The tool's start-up for the benchmark: main() of app/main.cpp line for line, with a probe that
// reports when Main is first shown and quits the program then.
#include "toolwindows.h"
#include "models.h"
#include "modulewindow.h"
#include "setfrm.h"
#include "testwindow.h"

#include "startup_probe.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    StartupProbe probe(argc > 1 ? argv[1] : nullptr);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));

    ToolWindows tool;
    MainWindow &main = tool.main;
    probe.watch(&main);
    main.show();
    return app.exec();
}
