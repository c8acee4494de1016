#include "toolwindows.h"

#include "models.h"
#include "modulewindow.h"
#include "setfrm.h"
#include "testwindow.h"

ToolWindows::ToolWindows()
{
    for (const ModelRow &row : modelTable())
        registry.add(row.name, [name = row.name] { return createTestWindow(name); });
    registry.add(QStringLiteral("SetFrm"), [] { return createSetFrm(); });
    ModuleWindow::setShowMain([this] { main.show(); });
    main.Form_Load();
}

ToolWindows::~ToolWindows()
{
    ModuleWindow::setShowMain({});
}
