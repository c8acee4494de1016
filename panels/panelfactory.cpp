#include "testwindow.h"

#include "digitalwindow.h"

ModuleWindow *createTestWindow(const QString &name, QWidget *parent)
{
    const ModelRow *row = findModel(name);
    if (!row)
        return nullptr;
    TestWindow *window = nullptr;
    switch (row->kind) {
    case PanelKind::Digital:
        window = new DigitalWindow(*row, parent);
        break;
    case PanelKind::AnalogInput:
    case PanelKind::AnalogOutput:
    case PanelKind::Combined:
        break;
    }
    if (window)
        window->Form_Load();
    return window;
}
