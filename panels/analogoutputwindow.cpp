#include "analogoutputwindow.h"

#include "conversions.h"
#include "modbus.h"
#include "panellayout.h"
#include "prompt.h"


AnalogOutputWindow::AnalogOutputWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, kOneColumnWidth, parent)
{
    TM_Overtime_B = makeTimer(QStringLiteral("TM_Overtime_B"), model.lineOvertimeB, [this] { judgeWrite(); });
}

static QLabel *displayLabel(QLabel *label, Qt::Alignment alignment)
{
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setStyleSheet(QStringLiteral("background-color: #000000; color: #00FF00;"));
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 2.4);
    font.setBold(true);
    label->setFont(font);
    return label;
}

void AnalogOutputWindow::loadPanels()
{
    Frame6 = addPanel(QStringLiteral("Frame6"), QStringLiteral(" Analog Output "), kFirstPanelLeft, kPanelTop, kPanelWidth, kPanelHeight);
    addWriteHead(Frame6, Label16, QStringLiteral("Label16"), Command_OK2, QStringLiteral("Command_OK2"), 1, TM_Overtime_B,
                 [this](std::uint8_t address) { return writeRegisterRequest(address, 0, std::uint16_t(HScroll1->value())); });

    HScroll1 = placed(new QScrollBar(Qt::Horizontal, Frame6), QStringLiteral("HScroll1"), 240, 2040, 2775, 300);
    HScroll1->setRange(0, kOutputFullScale);
    // An arrow moves one thousandth of a milliampere for fine trimming, a click in the track a
    // whole milliampere, so the 4-20 mA points of a loop are a few clicks apart.
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(1000);
    HScroll1->setValue(0);
    // The display follows the thumb only when it is let go, like the arrows and the track.
    HScroll1->setTracking(false);

    Label_I = displayLabel(placed(new QLabel(QStringLiteral("0.00"), Frame6), QStringLiteral("Label_I"), 240, 2640, 1935, 735),
                           Qt::AlignRight);
    Label_mA = displayLabel(placed(new QLabel(QStringLiteral("mA"), Frame6), QStringLiteral("Label_mA"), 2175, 2640, 840, 735),
                            Qt::AlignHCenter);

    connect(HScroll1, &QScrollBar::valueChanged, this, &AnalogOutputWindow::HScroll1_Change);
    finishCycles();
}

void AnalogOutputWindow::HScroll1_Change()
{
    Label_I->setText(outputCurrentText(HScroll1->value()));
}
