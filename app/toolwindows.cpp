#include "toolwindows.h"

#include "busfinder.h"
#include "models.h"
#include "modulewindow.h"
#include "setfrm.h"
#include "sitewindow.h"
#include "testwindow.h"
#include "trafficmonitor.h"

ToolWindows::ToolWindows()
{
    for (const ModelRow &row : modelTable())
        registry.add(row.name, [this, name = row.name] { return wired(createTestWindow(name)); });
    registry.add(QStringLiteral("SetFrm"), [this] { return wired(createSetFrm()); });
    registry.add(QStringLiteral("BusFinder"), [this] { return wired(createBusFinder()); });
    ModuleWindow::setOpenWindow([this](const QString &name) { return registry.open(name); });
    BusFinderWindow::setOpenSite([this](const QString &path) { main.openSite(path); });
    // One site at a time: another one opened closes the one before.
    main.setSiteOpener([this](const QString &path) -> ModuleWindow * {
        if (ModuleWindow *open = registry.window(QStringLiteral("SiteWindow")))
            open->close();
        ModuleWindow *w = wired(createSiteWindow(path));
        if (!w)
            return nullptr;
        registry.adopt(QStringLiteral("SiteWindow"), w);
        w->show();
        return w;
    });
    main.Form_Load();
}

ToolWindows::~ToolWindows()
{
    // A window that outlives the tool shows no Main and passes its frames nowhere.
    for (ModuleWindow *w : registry.windows())
        w->setHooks({});
    ModuleWindow::setOpenWindow({});
    BusFinderWindow::setOpenSite({});
}

ModuleWindow *ToolWindows::wired(ModuleWindow *window)
{
    if (!window)
        return window;
    WindowHooks hooks;
    hooks.showMain = [this] { main.show(); };
    hooks.trafficSink = [this](const QString &caption, const TrafficRow &row) {
        if (trafficSink)
            trafficSink(caption, row);
    };
    hooks.openMonitor = [](ModuleWindow *w) { openTrafficMonitorWhenIdle(w); };
    window->setHooks(std::move(hooks));
    return window;
}
