// The two combined module windows (six current inputs or four temperature inputs, plus four
// digital inputs and four digital outputs): two read cycles that take turns on the one port, and
// one write that suspends whichever of them runs.
#pragma once

#include "testwindow.h"

class CombinedWindow : public TestWindow
{
    Q_OBJECT
public:
    explicit CombinedWindow(const ModelRow &model, QWidget *parent = nullptr);

    QGroupBox *Frame2 = nullptr; // analog inputs, middle column
    QGroupBox *Frame7 = nullptr; // digital inputs, right column above
    QGroupBox *Frame6 = nullptr; // digital outputs, right column below
    QLabel *Label6 = nullptr, *Label17 = nullptr, *Label16 = nullptr;
    QPushButton *Command_OK1 = nullptr, *Command_OK2 = nullptr, *Command_OK3 = nullptr;
    // Channel captions. Label18 holds the analog captions first and the digital-input captions
    // after them (Label18_0 .. Label18_{n-1}, then Label18_n .. Label18_{n+3}), so that each
    // element keeps a name of its own; Label15 holds the output captions.
    QVector<QLabel *> Label18, Label15;
    WindowTimer *TM_Overtime_A = nullptr, *TM_Overtime_B = nullptr, *TM_Overtime_C = nullptr;
    WindowTimer *TM_Acquisition_A = nullptr, *TM_Acquisition_B = nullptr;

protected:
    void loadPanels() override;
};
