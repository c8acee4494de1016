#include "toolwindows.h"

#include "busfinder.h"
#include "models.h"
#include "modulewindow.h"
#include "setfrm.h"
#include "testwindow.h"

ToolWindows::ToolWindows()
{
    for (const ModelRow &row : modelTable())
        registry.add(row.name, [name = row.name] { return createTestWindow(name); });
    registry.add(QStringLiteral("SetFrm"), [] { return createSetFrm(); });
    registry.add(QStringLiteral("BusFinder"), [] { return createBusFinder(); });
    BusFinderWindow::setOpenWindow([this](const QString &name) { return registry.open(name); });
    ModuleWindow::setShowMain([this] { main.show(); });
    main.Form_Load();
}

ToolWindows::~ToolWindows()
{
    ModuleWindow::setShowMain({});
    BusFinderWindow::setOpenWindow({});
}
