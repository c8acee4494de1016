#include "mainwindow.h"
#include "models.h"
#include "modulewindow.h"
#include "setfrm.h"
#include "testwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));

    WindowRegistry registry;
    for (const ModelRow &row : modelTable())
        registry.add(row.name, [name = row.name] { return createTestWindow(name); });
    registry.add(QStringLiteral("SetFrm"), [] { return createSetFrm(); });

    MainWindow main(&registry);
    ModuleWindow::setShowMain([&main] { main.show(); });
    main.Form_Load();
    main.show();
    return app.exec();
}
