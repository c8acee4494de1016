// The five digital module windows: an input panel of ON/OFF indicators polled with function 02,
// and an output panel whose indicators the user switches and writes with function 15.
#pragma once

#include "testwindow.h"

class DigitalWindow : public TestWindow
{
    Q_OBJECT
public:
    explicit DigitalWindow(const ModelRow &model, QWidget *parent = nullptr);

    void TM_Acquisition_A_Timer() { acquisitionTick(0); }
    void TM_Overtime_A_Timer() { judgeRead(0); }

    QGroupBox *Frame7 = nullptr; // input panel
    QGroupBox *Frame6 = nullptr; // output panel
    QLabel *Label17 = nullptr, *Label16 = nullptr;
    QPushButton *Command_OK1 = nullptr, *Command_OK2 = nullptr;
    QVector<QLabel *> Label18, Label15;
    WindowTimer *TM_Acquisition_A = nullptr, *TM_Overtime_A = nullptr, *TM_Overtime_B = nullptr;

protected:
    void loadPanels() override;

};
