#include "trafficmonitor.h"

#include "modulewindow.h"
#include "trafficwindow.h"

TrafficWindow *openTrafficMonitor(ModuleWindow *window)
{
    auto *monitor = window->findChild<TrafficWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!monitor) {
        monitor = new TrafficWindow(&window->traffic(), window->windowTitle(), window->longestFrame(),
                                    window->tagsTraffic(), window);
        monitor->setAttribute(Qt::WA_DeleteOnClose);
    }
    showRaised(monitor);
    return monitor;
}

void openTrafficMonitorWhenIdle(ModuleWindow *window)
{
    window->whenLineIdle([window] { openTrafficMonitor(window); });
}
