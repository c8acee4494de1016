#include "serialgroup.h"

#include "linesettings.h"

#include <QColor>

const QString kPortOpenCaption = QStringLiteral("Colse Port");
const QString kPortClosedCaption = QStringLiteral("Open Port");

SerialGroup::SerialGroup(QWidget *window) : QGroupBox(QStringLiteral(" Communication Set"), window)
{
    placed(this, QStringLiteral("Frame1"), 120, 120, 2415, 6855);
    const QStringList captions = {QStringLiteral("Serial No."), QStringLiteral("Baud Rate"),
                                  QStringLiteral("Parity Bit"), QStringLiteral("Data Bit"),
                                  QStringLiteral("Stop Bit")};
    QLabel **labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5};
    ChoiceBox **combos[] = {&Combo1, &Combo2, &Combo3, &Combo4, &Combo5};
    for (int i = 0; i < 5; ++i) {
        *labels[i] = placed(new QLabel(captions[i], this), QStringLiteral("Label%1").arg(i + 1), 120, 480 + 360 * i, 1200, 210);
        *combos[i] = new ChoiceBox(QStringLiteral("Combo%1").arg(i + 1), this);
        placed(*combos[i], (*combos[i])->objectName(), 1320, 480 + 360 * i, 975, 300);
    }
    Shape1 = placed(new Lamp(this), QStringLiteral("Shape1"), 240, 2400, 255, 375);
    Command_Port = placed(new QPushButton(kPortClosedCaption, this), QStringLiteral("Command_Port"), 720, 2400, 1455, 495);
    Label13 = placed(new QLabel(QStringLiteral("Serial Send Data"), this), QStringLiteral("Label13"), 120, 3240, 1680, 210);
    Label14 = placed(new QLabel(QStringLiteral("Serial Recieve Data"), this), QStringLiteral("Label14"), 120, 4320, 1995, 210);
    Label19 = placed(new QLabel(QStringLiteral("Serial Comm Status "), this), QStringLiteral("Label19"), 120, 5760, 1995, 210);
    TextBox **texts[] = {&Text_Send, &Text_Receive, &Text_Message};
    const char *textNames[] = {"Text_Send", "Text_Receive", "Text_Message"};
    const int textTops[] = {3600, 4680, 6120};
    const int textHeights[] = {615, 975, 615};
    for (int i = 0; i < 3; ++i) {
        *texts[i] = placed(new TextBox(QString::fromLatin1(textNames[i]), this), QString::fromLatin1(textNames[i]), 120,
                           textTops[i], 2175, textHeights[i]);
    }
    Text_Message->setFont(withFullWidthMarks(Text_Message->font()));
}

void SerialGroup::show(const SerialChoice &choice)
{
    for (int i = 1; i <= 9; ++i)
        Combo1->addItem(QStringLiteral("COM%1").arg(i));
    for (const int baud : baudRates())
        Combo2->addItem(QString::number(baud));
    Combo3->addItems({QStringLiteral("None"), QStringLiteral("Even")});
    Combo4->addItem(QStringLiteral("8"));
    Combo5->addItem(QStringLiteral("1"));
    Combo4->setEnabled(false);
    Combo5->setEnabled(false);

    Combo2->setCurrentIndex(-1);
    Combo2->setEditText(choice.baud);
    Combo3->setCurrentIndex(-1);
    Combo3->setEditText(choice.parity);
    Combo4->setEditText(QStringLiteral("8"));
    Combo5->setEditText(QStringLiteral("1"));
    const int portIndex = portIndexFromLine(choice.port);
    Combo1->setCurrentIndex(portIndex);
    if (portIndex < 0)
        Combo1->setEditText(QStringLiteral("COM") + choice.port);
    showOpen(false);
}

SerialChoice SerialGroup::choice() const
{
    SerialChoice choice;
    choice.port = QString::number(portNumber());
    choice.baud = Combo2->currentText();
    choice.parity = Combo3->currentText();
    return choice;
}

void SerialGroup::showOpen(bool open)
{
    m_open = open;
    Command_Port->setText(open ? kPortOpenCaption : kPortClosedCaption);
    Shape1->setFillColor(open ? QColor(0, 255, 0) : QColor(0, 0, 0));
    if (!open)
        Shape1->repaint();
}
