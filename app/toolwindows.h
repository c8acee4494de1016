// The program's windows wired together: every model's test window and SetFrm registered, Main
// loaded, and every window opened with the program's hooks: Main shown again when it closes, its
// frames passed on to trafficSink, its traffic monitor opened. The program, the benchmark, the
// screenshot tool and the tests all start the tool this one way.
#pragma once

#include "mainwindow.h"
#include "trafficlog.h"

#include <functional>

struct ToolWindows {
    ToolWindows();
    ~ToolWindows();
    // Where every window's frames go as well (the traffic log file), with the window's caption.
    std::function<void(const QString &caption, const TrafficRow &row)> trafficSink;
    WindowRegistry registry;
    MainWindow main{&registry};

private:
    ModuleWindow *wired(ModuleWindow *window);
};
