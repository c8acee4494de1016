#include "testwindow.h"

#include "analoginputwindow.h"
#include "analogoutputwindow.h"
#include "combinedwindow.h"
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
        window = new AnalogInputWindow(*row, parent);
        break;
    case PanelKind::AnalogOutput:
        window = new AnalogOutputWindow(*row, parent);
        break;
    case PanelKind::Combined:
        window = new CombinedWindow(*row, parent);
        break;
    }
    if (window)
        window->Form_Load();
    return window;
}
