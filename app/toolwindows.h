// The program's windows wired together: every model's test window and SetFrm registered, Main
// loaded, and every child window showing Main again when it closes. The program, the benchmark,
// the screenshot tool and the tests all start the tool this one way.
#pragma once

#include "mainwindow.h"

struct ToolWindows {
    ToolWindows();
    ~ToolWindows();
    WindowRegistry registry;
    MainWindow main{&registry};
};
