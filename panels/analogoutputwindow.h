// The analog-output window: a slider sets the output current in thousandths of a milliampere,
// and "Validate" writes it to holding register 0 with one function-06 write. It never polls.
#pragma once

#include "testwindow.h"

#include <QScrollBar>

class AnalogOutputWindow : public TestWindow
{
    Q_OBJECT
public:
    explicit AnalogOutputWindow(const ModelRow &model, QWidget *parent = nullptr);

    void HScroll1_Change();

    QGroupBox *Frame6 = nullptr;
    QLabel *Label16 = nullptr;
    QPushButton *Command_OK2 = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QLabel *Label_I = nullptr, *Label_mA = nullptr;
    WindowTimer *TM_Overtime_B = nullptr;

protected:
    void loadPanels() override;
};
