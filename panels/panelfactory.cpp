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
    if (row->kind == PanelKind::Digital)
        window = new DigitalWindow(*row, parent);
    else if (row->kind == PanelKind::AnalogInput)
        window = new AnalogInputWindow(*row, parent);
    else if (row->kind == PanelKind::AnalogOutput)
        window = new AnalogOutputWindow(*row, parent);
    else
        window = new CombinedWindow(*row, parent);
    window->Form_Load();
    return window;
}
