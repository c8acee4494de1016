// SetFrm, the one parameter window for every model: finds the address, baud rate and parity a
// module listens at by a broadcast read at each of the eight line settings in turn, shows its
// parameter registers, and writes a new address or new communication parameters.
#pragma once

#include "modulewindow.h"
#include "scan.h"

#include <QPlainTextEdit>
#include <QStringList>

extern const QString kExplainMessage;       // the one-module warning

class SetFrm : public ModuleWindow
{
    Q_OBJECT
public:
    explicit SetFrm(QWidget *parent = nullptr);

    // The scan's tick: judges a reply due, then reopens the line at the next step's settings.
    void TM_Acquisition_A_Timer();

    QGroupBox *Frame7 = nullptr, *Frame2 = nullptr, *Frame3 = nullptr;
    QPlainTextEdit *Text_Parameter = nullptr;
    QVector<QPushButton *> Explain;
    QPushButton *Command_OK1 = nullptr, *Command_OK2 = nullptr, *Command_OK3 = nullptr;
    QLabel *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr;
    ChoiceBox *Combo_Baud = nullptr;
    WindowTimer *TM_Acquisition_A, *TM_Overtime_A, *TM_Overtime_B;

    // Combinations the current scan has tried; the next tick tries combination ScanStep.
    qint16 ScanStep = 0;

protected:
    void loadPanels() override;
    void onLineLost() override { apply(m_scan.lineLost()); }
    // A port the technician closed must not be reopened by the next scan step.
    void onPortClosed() override { apply(m_scan.portClosed()); }

    WindowTimer *cycleTimer(TimerRef ref) const override;
    QPushButton *cycleButton(int) const override { return Command_OK1; }
    void decodeReply(const CycleAction &) override { Text_Parameter->setPlainText(parameterLines(m_scan.found())); }
    void mirrorMachine() override { ScanStep = qint16(m_scan.step()); }

private:
    ParameterCycle m_scan;
};

// The parameter window, loaded.
ModuleWindow *createSetFrm(QWidget *parent = nullptr);
