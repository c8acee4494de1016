// The three eight-channel analog-input windows (temperature, current, voltage): one read of
// holding registers 0..7 per acquisition tick, each register shown in the model's unit.
#pragma once

#include "testwindow.h"

class AnalogInputWindow : public TestWindow
{
    Q_OBJECT
public:
    explicit AnalogInputWindow(const ModelRow &model, QWidget *parent = nullptr);

    void TM_Acquisition_A_Timer() { acquisitionTick(0); }
    void TM_Overtime_A_Timer() { judgeRead(0); }

    QGroupBox *Frame7 = nullptr;
    QLabel *Label17 = nullptr;
    QPushButton *Command_OK1 = nullptr;
    QVector<QLabel *> Label18;
    WindowTimer *TM_Acquisition_A = nullptr, *TM_Overtime_A = nullptr;

protected:
    void loadPanels() override;
};
