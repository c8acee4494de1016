// The tool's start-up for the benchmark: main() of app/main.cpp line for line, with a probe that
// reports when Main is first shown and quits the program then.
#include "mainwindow.h"
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

    WindowRegistry registry;
    for (const ModelRow &row : modelTable())
        registry.add(row.name, [name = row.name] { return createTestWindow(name); });
    registry.add(QStringLiteral("SetFrm"), [] { return createSetFrm(); });

    MainWindow main(&registry);
    ModuleWindow::setShowMain([&main] { main.show(); });
    main.Form_Load();
    probe.watch(&main);
    main.show();
    return app.exec();
}
