// The GUI on simulated modules, offscreen. The windows' wiring: Main opens every model's window,
// each shows its model row, polls and writes through its buttons; the serial group; SetFrm's scan
// and writes (the rules behind the buttons are the core's). What people type into the editable
// boxes: only the exact text of a list entry is a choice; focus moving away or Return picks
// nothing; a user's change of the entry is a Click. The read-only text box beside the
// QPlainTextEdit it stands in for; the traffic monitor; settings files that cannot be written or
// read (as root the not-writable case skips: CTest runs it again as user 65534).

#include "support/fakesystem.h"
#include "support/guitest.h"
#include "support/modeltable.h"

#include "decoders.h"
#include "models.h"
#include "modbus.h"
#include "setfrm.h"
#include "digitalwindow.h"
#include "portsdialog.h"
#include "testwindow.h"
#include "toolwindows.h"
#include "trafficlogfile.h"
#include "trafficcells.h"
#include "trafficmonitor.h"
#include "trafficwindow.h"
#include "trendwindow.h"
#include "windowvalues.h"
#include "widgets.h"

#include <QAccessible>
#include <QCategoryAxis>
#include <QChart>
#include <QLineSeries>
#include <QCheckBox>
#include <QChartView>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QGroupBox>
#include <QPointer>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QToolTip>
#include <QHeaderView>
#include <QWheelEvent>

#include <unistd.h>

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kFault = QStringLiteral("Serial fault, Please check the serial port");

// The labels prefix_0, prefix_1, ...: their texts joined by '|', or as indicators, '1' for "ON" in
// green, '0' for "OFF" in white, '?' for anything else.
QString texts(QWidget *w, const QString &prefix, bool indicators = false)
{
    QStringList t;
    for (int i = 0; auto *l = w->findChild<QLabel *>(prefix + QString::number(i)); ++i) {
        const QString style = l->styleSheet();
        t << (!indicators ? l->text()
              : l->text() == QLatin1String("ON") && style.contains(QLatin1String("#00FF00"))    ? QStringLiteral("1")
              : l->text() == QLatin1String("OFF") && style.contains(QLatin1String("#FFFFFF")) ? QStringLiteral("0")
                                                                                                : QStringLiteral("?"));
    }
    return t.join(indicators ? QString() : QStringLiteral("|"));
}

QString message(ModuleWindow *w)
{
    return w->Text_Message->toPlainText();
}

// The port button's caption and the lamp beside it.
QString port(ModuleWindow *w)
{
    return w->Command_Port->text() + QLatin1Char(' ') + w->Shape1->fillColor().name();
}

// The tool with Main shown; the windows it opened go with it.
struct Tool : ToolWindows {
    Tool() { main.show(); }
    ~Tool()
    {
        for (const ModelRow &row : modelTable())
            delete registry.window(row.name);
        delete registry.window(QStringLiteral("SetFrm"));
    }
    ModuleWindow *choose(int modelIndex)
    {
        main.Combo_Model->setCurrentIndex(modelIndex);
        QTest::mouseClick(main.Command1[0], Qt::LeftButton);
        return registry.window(main.Combo_Model->currentText());
    }
};


// Counts the paint events a widget receives.
struct PaintCounter : QObject {
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

const QString kRequest = QStringLiteral("01 04 00 00 00 08 F1 CC ");
const QString kLongReply =
    QStringLiteral("01 04 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 E4 59 01 04 10 00 00 ");

// Every pass of the event loop that is due now, posted events (and the repaints they ask for)
// included; no waiting.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// Whether the window shows in w's area (the part in view) what w paints. A window's grab is what
// its backing store holds offscreen and what the server shows on X: what was painted, blitted or
// drawn there, however it got there.
bool showsItsPaint(QWidget *w)
{
    const QRect part = w->visibleRegion().boundingRect();
    const QRect area(w->mapTo(w->window(), part.topLeft()), part.size());
    const QImage shown = w->screen()->grabWindow(w->window()->winId(), area.x(), area.y(), area.width(), area.height())
                             .toImage().convertToFormat(QImage::Format_RGB32);
    return shown == w->grab(part).toImage().convertToFormat(QImage::Format_RGB32);
}

// A cell of index in table's font, as a delegate that has seen nothing draws it over the base colour.
QImage drawnAfresh(QTableView *table, const QModelIndex &index, QSize size)
{
    QStyleOptionViewItem option;
    option.initFrom(table);
    option.rect = QRect(QPoint(), size);
    option.font = table->font();
    option.fontMetrics = QFontMetrics(option.font);
    if (table->selectionModel()->isSelected(index))
        option.state |= QStyle::State_Selected;
    QImage drawn(size, QImage::Format_RGB32);
    drawn.fill(option.palette.color(QPalette::Base));
    QPainter painter(&drawn);
    TrafficCells().paint(&painter, option, index);
    return drawn;
}

// Whether each cell of a monitor's table in view looks as a delegate that has seen nothing draws it
// (glyph by glyph, over the row's background, selected or not): the table's own draws most cells from pictures.
bool cellsLookDrawnAfresh(QTableView *table)
{
    QWidget *viewport = table->viewport();
    const QImage shown = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QAbstractItemModel *model = table->model();
    int compared = 0;
    for (int r = qMax(0, table->rowAt(0)); r < model->rowCount(); ++r) {
        for (int c = 0; c < model->columnCount(); ++c) {
            const QRect rect = table->visualRect(model->index(r, c));
            if (table->isColumnHidden(c) || !viewport->rect().contains(rect))
                continue;
            if (shown.copy(rect) != drawnAfresh(table, model->index(r, c), rect.size())) {
                qWarning("row %d column %d drawn unlike a fresh cell", r, c);
                return false;
            }
            ++compared;
        }
    }
    return compared > 0;
}

// A box in a group box, as the serial group holds it, shown.
struct Framed {
    explicit Framed(QSize size, int x = 8) : frame(QStringLiteral(" Communication Set")), box(QStringLiteral("box"), &frame)
    {
        frame.resize(400, 200);
        box.setGeometry(QRect(QPoint(x, 30), size));
        frame.show();
    }
    QGroupBox frame;
    TextBox box;
};
// Whether every shown column of a monitor's table is as wide as its cells and header ask for.
bool columnsFit(QTableView *t)
{
    for (int c = 0; c < TrafficModel::Columns; ++c)
        if (!t->isColumnHidden(c)
            && (static_cast<QAbstractItemView *>(t)->sizeHintForColumn(c) > t->columnWidth(c) || t->horizontalHeader()->sectionSizeHint(c) > t->columnWidth(c)))
            return false;
    return t->model()->rowCount() > 0;
}

} // namespace


class TestWindows : public QObject
{
    Q_OBJECT
private slots:
    void everyModel_data()
    {
        QTest::addColumn<int>("index");
        for (const ModelRow &row : modelTable())
            QTest::newRow(qPrintable(row.name)) << int(&row - modelTable().data());
    }

    // Opened from Main: the window shows its row, each read cycle polls module 7 (typed into its
    // address box, the other read boxes say "x") and shows it, a damaged reply leaves the values, a
    // write to module 9 (the write's box) suspends the running read and reaches that module, and
    // closing brings Main back. The frames, captions and conversions are the model row's, which is
    // the table written out in support/modeltable.h; register 0 of an analog module holds 253.
    void everyModel()
    {
        QFETCH(int, index);
        const ModelRow &row = modelTable()[index];
        // Each timer tells which line it was given: line n holds 30 + n, or 150 + n for a period.
        const QList<int> periods{2, 5, 8, 11, 15, 19, 20};
        QByteArray numbered;
        for (int n = 1; n <= 20; ++n)
            numbered += QStringLiteral("Line %1%2\r\n").arg(n, -6).arg((periods.contains(n) ? 150 : 30) + n, 5).toLatin1();
        GuiTestEnvironment env(numbered);
        SimModule *module = env.bus.addModule(row.name.mid(2, 4).toInt(), 7, 2);
        module->setDiscreteInput(0, true);
        module->setDiscreteInput(2, true);
        module->setHolding(0, 253);
        module->setHolding(1, 4095); // full scale: the widest values
        SimModule *target = env.bus.addModule(row.name.mid(2, 4).toInt(), 9, 2);
        Tool tool;
        QPointer<ModuleWindow> w = tool.choose(index);
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->objectName() + w->windowTitle(), row.name + row.name);
        QCOMPARE(w->size(), QSize(row.twoColumns() ? 625 : 402, 472)); // 15 twips a pixel at 96 DPI
        QStringList titles;
        for (QGroupBox *g : w->findChildren<QGroupBox *>())
            if (g != w->Frame1)
                titles << g->title();
        QStringList frames{row.analogFrame, row.inputFrame, row.outputFrame};
        frames.removeAll(QString());
        QCOMPARE(titles, row.kind == PanelKind::AnalogOutput ? QStringList{" Analog Output "} : frames);
        QCOMPARE(texts(w, "Label18_"), (row.analogCaptions + row.inputCaptions).join('|'));
        QCOMPARE(texts(w, "Label15_"), row.outputCaptions.join('|'));
        const QList<std::pair<const char *, int>> timers{{"TM_Overtime_A", row.lineOvertimeA},
            {"TM_Overtime_B", row.lineOvertimeB}, {"TM_Overtime_C", row.lineOvertimeC},
            {"TM_Acquisition_A", row.lineAcquisitionA}, {"TM_Acquisition_B", row.lineAcquisitionB}};
        for (const auto &[name, line] : timers) {
            auto *t = w->findChild<WindowTimer *>(QString::fromLatin1(name));
            QVERIFY2(line ? t && t->interval() == (QByteArray(name).contains("Acq") ? 150 : 30) + line : !t, name);
        }
        const char *validateName = kModelLines[index].validate;
        if (validateName) // the write's own address box
            enterText(child<QComboBox>(w, QStringLiteral("Combo_Addr_%1").arg(row.kind == PanelKind::Combined ? 2 : 1)), "9", false);
        QVERIFY(openPort(w));

        const QVector<AcquisitionCycle::Read> reads = modelReads(row);
        for (int c = 0; c < reads.size(); ++c) {
            for (int other = 0; other < reads.size(); ++other) // a cycle reading another's box would say so
                enterText(child<QComboBox>(w, QStringLiteral("Combo_Addr_%1").arg(other)), other == c ? "7" : "x", false);
            auto *button = child<QPushButton>(w, QStringLiteral("Command_OK%1").arg(c + 1));
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(button->text(), QStringLiteral("Stop"));
            const QString request = HexText(readRequest(7, reads[c].function, 0, reads[c].count));
            QTRY_COMPARE(message(w) + w->Text_Send->toPlainText(), kNormal + request);
            const QByteArray reply = QByteArray::fromHex(w->ReceiveHex().toLatin1());
            if (reads[c].function == 0x03) // register 0 holds 253
                QCOMPARE(texts(w, "AI_SHOW_") + reply.mid(3, 2).toHex(),
                         analogTexts(reply, row.conversion, reads[c].count).join('|') + "00fd");
            else
                QCOMPARE(texts(w, "DI_SHOW_", true), QStringLiteral("1010000000000000").left(reads[c].count));
            QCOMPARE(cutTexts(w), QStringList());
        }
        // A reply with a bad CRC says so and changes nothing shown.
        const QString before = texts(w, "AI_SHOW_") + texts(w, "DI_SHOW_", true);
        module->setDiscreteInput(0, false);
        module->setHolding(0, 1);
        module->faults.badCrc = !reads.isEmpty();
        if (!reads.isEmpty()) {
            QTRY_COMPARE(message(w), kError);
            QCOMPARE(texts(w, "AI_SHOW_") + texts(w, "DI_SHOW_", true) + w->Text_Receive->toPlainText(), before);
        }
        module->faults.badCrc = false;

        auto *validate = validateName ? child<QPushButton>(w, QString::fromLatin1(validateName)) : nullptr;
        if (row.outputs() > 0) {
            for (const int i : {0, 2, 2, row.outputs() - 1})
                QTest::mouseClick(child<QLabel>(w, QStringLiteral("DO_SHOW_%1").arg(i)), Qt::LeftButton);
            QCOMPARE(texts(w, "DO_SHOW_", true), QStringLiteral("1").leftJustified(row.outputs() - 1, '0') + QLatin1Char('1'));
        } else if (row.kind == PanelKind::AnalogOutput) {
            // Arrows step 1, the track 1000; a drag shows only when the thumb is let go.
            auto *slider = child<QScrollBar>(w, QStringLiteral("HScroll1"));
            QCOMPARE(slider->geometry(), QRect(16, 136, 185, 20)); // 240, 2040, 2775 and 300 twips
            slider->setSliderDown(true);
            slider->setSliderPosition(16500);
            QCOMPARE(child<QLabel>(w, "Label_I")->text(), QStringLiteral("0.00"));
            slider->setSliderDown(false);
            QCOMPARE(child<QLabel>(w, "Label_I")->text(), QStringLiteral("16.50"));
            slider->setValue(0);
            slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            for (int i = 0; i < 4; ++i)
                slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
            QCOMPARE(child<QLabel>(w, "Label_I")->text(), QStringLiteral("4.00"));
        }
        if (validate) {
            QCOMPARE(validate->text(), QStringLiteral("Validate"));
            QList<bool> on(row.outputs(), false);
            if (!on.isEmpty())
                on[0] = on.last() = true;
            const QString frame = HexText(row.outputs() ? writeCoilsRequest(9, on) : writeRegisterRequest(9, 0, 4001));
            if (reads.isEmpty()) // clicks and the slider alone send nothing
                QVERIFY(simLine(w)->writes().isEmpty());
            QTest::mouseClick(validate, Qt::LeftButton);
            QCOMPARE(w->Text_Send->toPlainText(), frame);
            QCOMPARE(env.pauses, reads.isEmpty() ? QList<int>() : QList<int>{300}); // a running read waits
            QTRY_COMPARE(message(w), kNormal);
            QCOMPARE(cutTexts(w), QStringList());
            QCOMPARE(row.outputs() ? int(target->coil(0)) + int(target->coil(2)) + int(target->coil(row.outputs() - 1))
                                   : int(target->holding(0)),
                     row.outputs() ? 2 : 4001);
        }
        if (!reads.isEmpty()) {
            auto *running = child<QPushButton>(w, QStringLiteral("Command_OK%1").arg(reads.size()));
            QTest::mouseClick(running, Qt::LeftButton);
            QCOMPARE(running->text(), QStringLiteral("Acquisition"));
        }
        QVERIFY(env.messages.isEmpty());
        w->close();
        QVERIFY(tool.main.isVisible());
        QTRY_VERIFY(!w);
    }

    // The " Communication Set" frame: set.rc in the boxes, open and close, the faults of a port, the
    // receive buffer, and set.rc written on close (a line that fails while polling is test_e2e's).
    void serialGroup()
    {
        GuiTestEnvironment env(shortTimingFile(), "3\r\n19200\r\nEven\r\n");
        Tool tool;
        auto *w = static_cast<DigitalWindow *>(tool.choose(4));
        QCOMPARE(w->Frame1->title() + '|' + port(w) + '|' + QString::number(w->Combo1->count()),
                 QStringLiteral(" Communication Set|Open Port #000000|9"));
        QCOMPARE(w->Combo1->currentText() + w->Combo2->currentText() + w->Combo3->currentText() + w->Combo4->currentText()
                     + w->Combo5->currentText(), QStringLiteral("COM319200Even81"));
        QVERIFY(!w->Combo4->isEnabled() && !w->Combo5->isEnabled());
        QVERIFY(openPort(w));
        QCOMPARE(port(w) + ' ' + simLine(w)->lastSettings(), QStringLiteral("Colse Port #00ff00 19200,E,8,1"));
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        QCOMPARE(port(w), QStringLiteral("Open Port #000000"));
        // Parity words as letters; one it does not know keeps the letter of the previous open.
        for (const char *parity : {"Odd", "odd"}) {
            enterText(w->Combo3, QString::fromLatin1(parity), false);
            QVERIFY(openPort(w));
            QCOMPARE(simLine(w)->lastSettings(), QStringLiteral("19200,O,8,1"));
            QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        }
        enterText(w->Combo3, QStringLiteral("Even"), false);
        // A port that is missing or taken, and a rate the line refuses.
        const auto restorePorts = qScopeGuard([] { SimLine::resetPorts(); });
        for (const auto fault : {&SimLine::setPortMissing, &SimLine::setPortInUse}) {
            fault(3, true);
            QVERIFY(!openPort(w));
            SimLine::resetPorts();
        }
        enterText(w->Combo2, QStringLiteral("1234x"), true);
        QVERIFY(!openPort(w));
        QCOMPARE(env.messages, (QStringList{"Serial port does not exist！", "Serial port is already open！", kFault}));
        QCOMPARE(port(w), QStringLiteral("Open Port #000000"));
        enterText(w->Combo2, QStringLiteral("9600"), false);
        QVERIFY(openPort(w));
        // Bytes arriving in pieces are joined; a flood is cut to the longest reply and a margin.
        simLine(w)->injectBytes(QByteArray::fromHex("0102"));
        simLine(w)->injectBytes(QByteArray::fromHex("000A44"));
        QTRY_COMPARE(w->ReceiveHex(), QStringLiteral("01 02 00 0A 44 "));
        for (int i = 0; i < 16; ++i)
            simLine(w)->injectBytes(QByteArray(4096, '\xA5'));
        QTRY_COMPARE(w->ReceiveHex().size(), (8 + 16) * 3);
        // Closing writes the boxes to set.rc; the next window of the model starts from them.
        w->Combo1->setCurrentIndex(4);
        w->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("5\r\n9600\r\nEven\r\n"));
        QTRY_VERIFY(!tool.registry.window(QStringLiteral("KV5510ADAM")));
        ModuleWindow *again = tool.choose(4);
        QCOMPARE(again->Combo1->currentText() + again->Combo2->currentText() + again->Command_Port->text(),
                 QStringLiteral("COM59600Open Port"));
        again->Combo1->setCurrentIndex(-1);
        again->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")).left(3), QByteArray("0\r\n"));
    }

    // SetFrm: its own fixed timers, the scan that finds a module, both writes, a failing line, and
    // its traffic monitor.
    void parameterWindow()
    {
        GuiTestEnvironment env(shortTimingFile(5, 5, 5));
        SimModule *module = env.bus.addModule(1740, 4, 3);
        Tool tool;
        QCOMPARE(tool.main.objectName() + '|' + tool.main.windowTitle(), QStringLiteral("Main|KORVANT Debugging Software_V1.42B"));
        QCOMPARE(tool.main.Combo_Model->currentText() + '|' + tool.main.Command1[0]->text() + '|' + tool.main.Command1[1]->text(),
                 QStringLiteral("Combo_Model|Function Testing|Parameter Setting"));
        // Typed, then a click on "Function Testing": only a model's name opens its window. Tab and
        // Return leave the model box as they leave every ChoiceBox (onlyTheUsersChangeClosesThePort,
        // onlyAListEntryIsAChoice).
        QApplication::setActiveWindow(&tool.main);
        for (const char *text : {"kv5510adam", "KV55", "KV5510ADAM"}) {
            enterText(tool.main.Combo_Model, QString::fromLatin1(text), false);
            QTest::mouseClick(tool.main.Command1[0], Qt::LeftButton);
            const bool opens = QByteArray(text) == "KV5510ADAM";
            ModuleWindow *chosen = tool.registry.window(QStringLiteral("KV5510ADAM"));
            QVERIFY2(tool.main.isVisible() != opens && (chosen && chosen->isVisible()) == opens, text);
        }
        const QString select = QStringLiteral("Please select module model！");
        QCOMPARE(env.titles + env.messages, (QStringList{"Prompt", "Prompt", select, select}));
        tool.registry.window(QStringLiteral("KV5510ADAM"))->close();
        env.messages.clear();
        // "Parameter Setting" opens SetFrm whatever the model box says.
        QTest::mouseClick(tool.main.Command1[1], Qt::LeftButton);
        auto *w = static_cast<SetFrm *>(tool.registry.window(QStringLiteral("SetFrm")));
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->windowTitle() + '|' + w->Combo_Baud->currentText() + '|' + w->Command_OK1->text(),
                 QStringLiteral("Parameter Setting|9600,None,8,1|Read"));
        QCOMPARE(QList<int>({w->TM_Acquisition_A->interval(), w->TM_Overtime_A->interval(), w->TM_Overtime_B->interval(),
                             int(w->Combo_Baud->count())}), QList<int>({150, 120, 300, 8}));
        QVERIFY(openPort(w));
        for (QPushButton *b : std::as_const(w->Explain))
            b->click();
        QCOMPARE(env.messages, QStringList(2, "You need keep only one module in RS485 network when you use this order."));
        QVERIFY(simLine(w)->writes().isEmpty());
        env.messages.clear();
        w->Command_OK1->click();
        QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(w->Command_OK1->text() == QStringLiteral("Read") && !w->TM_Overtime_A->isEnabled(), 5000);
        QCOMPARE(w->Text_Parameter->toPlainText(),
                 QStringLiteral("Moudle address: 4\nCommunication parameters: 19200,None,8,1\nMoudle model: KV1740ADAM"));
        QCOMPARE(message(w) + w->Combo2->currentText() + w->Combo3->currentText() + simLine(w)->lastSettings(),
                 kNormal + "19200None19200,N,8,1");
        QCOMPARE(cutTexts(w), QStringList());
        QCOMPARE(simLine(w)->writes(), QList<QByteArray>(3, QByteArray::fromHex("00030064000345C5")));
        // The new address, broadcast; then module 9 to 38400,Even.
        enterText(w->Combo_Addr[0], QStringLiteral("9"), false);
        w->Command_OK2->click();
        QTRY_COMPARE(message(w), kNormal);
        QCOMPARE(int(module->address()), 9);
        enterText(w->Combo_Addr[0], QStringLiteral("x"), false); // the parameter write must not read it
        enterText(w->Combo_Addr[1], QStringLiteral("9"), true);
        enterText(w->Combo_Baud, QStringLiteral("38400,Even,8,1"), false);
        w->Command_OK3->click();
        QTRY_COMPARE(message(w), kNormal);
        QCOMPARE(QString::number(module->code()) + ' ' + w->Text_Parameter->toPlainText().left(17), "8 Moudle address: 4");
        QVERIFY(env.messages.isEmpty());
        // A line that fails ends the scan and stays closed (the other ends are test_core's scanEnds).
        module->faults.silent = true;
        w->Command_OK1->click();
        QTRY_VERIFY(w->ScanStep >= 2);
        simLine(w)->fail();
        const int opens = simLine(w)->openCount();
        QTRY_VERIFY(w->Command_OK1->text() == QStringLiteral("Read") && !w->TM_Overtime_A->isEnabled() && w->ScanStep == 0);
        QVERIFY(!w->TM_Acquisition_A->isEnabled() && !w->portIsOpen() && simLine(w)->openCount() == opens);
        QCOMPARE(env.messages, QStringList{kFault});
        // Its monitor has the Line column, showing the line each frame of the scan went at.
        TrafficWindow *monitor = openTrafficMonitor(w);
        monitor->refresh();
        QVERIFY(!monitor->Table->isColumnHidden(TrafficModel::Line) && columnsFit(monitor->Table));
        QCOMPARE(monitor->Table->model()->index(0, TrafficModel::Line).data().toString(), QStringLiteral("4800,None"));
        QVERIFY(cellsLookDrawnAfresh(monitor->Table));
        w->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")).left(3), QByteArray("1\r\n"));
        QVERIFY(tool.main.isVisible());
    }

    void onlyAListEntryIsAChoice()
    {
        const QString notValid = QStringLiteral("Communication parameters are not valid！");
        const QString noPort = QStringLiteral("Serial port does not exist！");
        // An empty message: the choice is taken (by Command_OK3, the parameter write, or Command_Port);
        // frame: what reaches the module.
        const struct { const char *window, *box, *text; bool paste; QString message; QByteArray frame; } cases[] = {
            {"SetFrm", "Combo_Baud", "9600", false, notValid, {}}, {"SetFrm", "Combo_Baud", "9600,even,8,1", true, notValid, {}},
            {"SetFrm", "Combo_Baud", "19200,Even,8,1", false, {}, QByteArray::fromHex("010600650007D817")},
            {"KV5510ADAM", "Combo1", "COM12", false, noPort, {}}, {"KV1730ADAM", "Combo1", "COM0", false, noPort, {}},
            {"SetFrm", "Combo1", "com2", true, noPort, {}}, {"KV7710ADAM", "Combo1", "COM2", false, {}, {}}};
        for (const auto &c : cases) {
            GuiTestEnvironment env;
            env.bus.addModule(5510, 1, 2);
            Tool tool;
            ModuleWindow *w = tool.registry.open(QString::fromLatin1(c.window));
            QApplication::setActiveWindow(w);
            auto *box = child<QComboBox>(w, QString::fromLatin1(c.box));
            const bool portBox = box == w->Combo1;
            QVERIFY(portBox || openPort(w));
            enterText(box, QString::fromLatin1(c.text), c.paste);
            QTest::keyClick(box, Qt::Key_Return);
            // The port box's tool tip names the device of the text as it stands (COM2 here, else none).
            QVERIFY(!portBox || box->toolTip() == (c.message.isEmpty() ? QStringLiteral("simulated COM2") : QString()));
            QTest::mouseClick(portBox ? w->Command_Port : child<QPushButton>(w, QStringLiteral("Command_OK3")), Qt::LeftButton);
            QCOMPARE(box->currentText(), QString::fromLatin1(c.text)); // nothing completed or replaced it
            QCOMPARE(env.messages, c.message.isEmpty() ? QStringList() : QStringList{c.message});
            QVERIFY(!portBox || (w->portIsOpen() == c.message.isEmpty() && simLine(w)->isOpen() == c.message.isEmpty()));
            QCOMPARE(simLine(w)->writes(), c.frame.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{c.frame});
        }
    }

    // The rule lives in the serial group all windows share: each action once, each in another window.
    void onlyTheUsersChangeClosesThePort_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("action");
        // Tab leaves the box as a click away does, PageDown steps it as Down does.
        const char *actions[] = {"click away", "Return", "click into it, then Colse Port", "Down", "wheel", "pick from the list"};
        for (int i = 0; i < 6; ++i) {
            const QString window = i == 5 ? QStringLiteral("SetFrm") : modelTable()[i * 3 % 11].name;
            QTest::addRow("%s, %s", qPrintable(window), actions[i]) << window << QString::fromLatin1(actions[i]);
        }
    }

    void onlyTheUsersChangeClosesThePort()
    {
        QFETCH(QString, window);
        QFETCH(QString, action);
        GuiTestEnvironment env;
        Tool tool;
        ModuleWindow *w = tool.registry.open(window);
        QApplication::setActiveWindow(w);
        QVERIFY(openPort(w));
        // The baud box for keys and focus, the parity box for the wheel and the list.
        QComboBox *baud = w->Combo2;
        QTest::mouseClick(baud->lineEdit(), Qt::LeftButton);
        if (action == QLatin1String("click away")) {
            QTest::mouseClick(w->Text_Message->viewport(), Qt::LeftButton);
        } else if (action == QLatin1String("Down")) {
            QTest::keyClick(baud, Qt::Key_Down);
        } else if (action == QLatin1String("Return")) {
            enterText(baud, QStringLiteral("9600"), false);
            QTest::keyClick(baud, Qt::Key_Return);
            QCOMPARE(baud->count(), 4);
        } else if (action == QLatin1String("wheel")) {
            const QPointF at(w->Combo3->width() / 2.0, w->Combo3->height() / 2.0);
            QWheelEvent e(at, w->Combo3->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(w->Combo3, &e);
        } else if (action == QLatin1String("pick from the list")) {
            w->Combo3->showPopup();
            auto *view = w->Combo3->view();
            QTRY_VERIFY(view->isVisible());
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
        }
        const bool closes = QStringList{"Down", "wheel", "pick from the list"}.contains(action);
        if (action.endsWith(QLatin1String("Colse Port")))
            QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        else
            QCOMPARE(env.pauses, closes ? QList<int>{500} : QList<int>());
        QCOMPARE(w->portIsOpen(), !closes && !action.endsWith(QLatin1String("Port")));
        QCOMPARE(simLine(w)->isOpen(), w->portIsOpen());
        QVERIFY(env.messages.isEmpty());
    }

    // A reply and a wrapped, selected status line, in boxes 20 to 80 pixels tall: the scroll bar
    // shows where QPlainTextEdit's does, and the pixels are its pixels, each over the group box
    // beneath. Where text wraps and how tall a line is depend on the fonts: the reference decides.
    void looksLikeReadOnlyPlainTextEdit()
    {
        for (const auto &[text, selectAll] : {std::pair{kLongReply, false}, std::pair{kNormal, true}}) {
            Framed f({145, 41}, 200);
            QPlainTextEdit edit(&f.frame);
            edit.setReadOnly(true);
            edit.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
            edit.setPlainText(text);
            f.box.setPlainText(text);
            if (selectAll) {
                edit.selectAll();
                f.box.selectAll();
            }
            for (int height = 20; height <= 80; ++height) {
                f.box.resize(145, height);
                edit.setGeometry(QRect(QPoint(8, 30), f.box.size()));
                settle();
                const QImage want = f.frame.grab(edit.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
                QVERIFY2(f.box.verticalScrollBar()->isVisible() == edit.verticalScrollBar()->isVisible()
                             && f.frame.grab(f.box.geometry()).toImage().convertToFormat(QImage::Format_RGB32) == want,
                         qPrintable(QStringLiteral("%1 pixels tall").arg(height)));
            }
        }
    }

    // Keys and the mouse select and copy; a reader of the screen gets the text and the selection.
    void selectAndRead()
    {
        Framed f({300, 41});
        TextBox &box = f.box;
        QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
        box.setPlainText(kNormal);
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(20, 10)); // focus, as a user would
        QVERIFY(box.hasFocus());
        QTest::keySequence(&box, QKeySequence::SelectAll);
        QCOMPARE(box.selectedText(), kNormal);
        QTest::keySequence(&box, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), kNormal);
        // From left of the first character to the right end of the line: all of it.
        box.setPlainText(kRequest);
        settle();
        QTest::mousePress(box.viewport(), Qt::LeftButton, {}, QPoint(1, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(295, 10), box.viewport()->mapToGlobal(QPointF(295, 10)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box.viewport(), &move);
        QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, QPoint(295, 10));
        QCOMPARE(box.selectedText(), kRequest);

        box.setPlainText(kNormal);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&box);
        QVERIFY(a && a->textInterface() && a->role() == QAccessible::EditableText && a->state().readOnly);
        QAccessibleTextInterface *t = a->textInterface();
        QCOMPARE(t->text(0, t->characterCount()) + a->text(QAccessible::Value), kNormal + kNormal);
        t->setSelection(0, 0, 13);
        QCOMPARE(box.selectedText(), QStringLiteral("Communication"));
        int start = -1, end = -1;
        t->selection(0, &start, &end);
        QCOMPARE(std::pair(start, end), std::pair(0, 13));
        // Before the box has repainted, a reader already gets the new text.
        box.clear();
        QVERIFY(t->characterCount() == 0 && t->selectionCount() == 0);
    }

    void repaintsOnlyItselfAndOnlyOnChange()
    {
        Framed f({145, 65});
        QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
        f.box.setPlainText(kRequest);
        PaintCounter frame(&f.frame), box(f.box.viewport());
        QTRY_VERIFY(box.paints > 0);
        settle();
        frame.paints = box.paints = 0;
        int changes = 0;
        connect(&f.box, &TextBox::textChanged, &f.box, [&] { ++changes; });
        // As a tick does: emptied, then the same request again.
        f.box.clear();
        f.box.setPlainText(kRequest);
        QCOMPARE(changes, 2);
        settle();
        QCOMPARE(box.paints, 0);
        // Emptied and then another text: one repaint for both.
        f.box.clear();
        f.box.setPlainText(kNormal);
        QTRY_COMPARE(box.paints, 1);
        settle();
        QCOMPARE(box.paints, 1);
        // Short and long texts: the scroll bar comes and goes, the group box beneath is left alone.
        for (const QString &text : {kLongReply, QString(), kRequest}) {
            box.paints = 0;
            f.box.setPlainText(text);
            QTRY_VERIFY(box.paints > 0);
        }
        QCOMPARE(frame.paints, 0);
        // Two boxes set in one pass, as a tick sets them: each shows its new text.
        TextBox other(QStringLiteral("other"), &f.frame);
        other.setGeometry(QRect(QPoint(160, 30), QSize(145, 65)));
        other.show();
        PaintCounter second(other.viewport());
        settle();
        box.paints = second.paints = 0;
        f.box.setPlainText(kNormal);
        other.setPlainText(kNormal);
        QTRY_VERIFY(box.paints > 0 && second.paints > 0);
        // Set while a window applies a tick: on screen when that ends, before the event loop runs
        // again, the group box beneath left alone; a box partly covered leaves what covers it be.
        QLabel cover(QStringLiteral("cover"), &f.frame);
        cover.setAutoFillBackground(true);
        cover.setGeometry(QRect(QPoint(280, 20), QSize(60, 90)));
        cover.show();
        settle();
        frame.paints = 0;
        {
            const TextBox::Pass pass;
            f.box.clear();
            f.box.setPlainText(kRequest);
            other.setPlainText(kRequest);
            QVERIFY(!showsItsPaint(f.box.viewport()) && !showsItsPaint(other.viewport()));
        }
        for (QWidget *w : {f.box.viewport(), other.viewport(), static_cast<QWidget *>(&cover)})
            QVERIFY(showsItsPaint(w));
        settle();
        QCOMPARE(frame.paints, 0);
    }

    // Opened as the program opens it: the monitor comes through the hook the tool installs, and the
    // frames reach the traffic log file of an unattended run through the tool's sink. The monitor's
    // columns hold what they show (a window's longest frame, every verdict); a module window's has no
    // Line column (the parameter window's fills it: parameterWindow); a wider window widens the bytes
    // column alone. A cell or statistics line cut short ends in "…" and holds all of its text in its
    // tool tip.
    void trafficMonitorOfAWindow()
    {
        GuiTestEnvironment env;
        SimModule *module = env.bus.addModule(1730, 1, 2);
        TrafficLogFile log(QStringLiteral("sys/traffic.log"), [&env](const QString &why) { env.messages << why; });
        Tool tool;
        tool.trafficSink = [&log](const QString &caption, const TrafficRow &row) { log.write(caption, row); };
        ModuleWindow *w = tool.registry.open(QStringLiteral("KV1730ADAM"));
        QVERIFY(w && openPort(w));
        auto *acquire = child<QPushButton>(w, QStringLiteral("Command_OK1"));
        QTest::mouseClick(acquire, Qt::LeftButton);
        QTRY_COMPARE(message(w), kNormal); // 21 bytes
        QTRY_VERIFY(env.readSys(QStringLiteral("traffic.log")).contains("\tRX\t"));
        const QList<QByteArray> lines = env.readSys(QStringLiteral("traffic.log")).split('\n');
        QVERIFY2(lines[0].contains("\tKV1730ADAM\tTX\t01 03 00 00 00 08 44 0C\t"), lines[0]);
        const QList<QByteArray> rx = lines[1].split('\t');
        QVERIFY(QDateTime::fromString(QString::fromLatin1(rx[0]), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).isValid());
        QCOMPARE(rx[2] + ' ' + rx[4], QByteArray("RX OK"));
        // Right-click on a label; the menu that pops up offers the monitor and the ports dialog.
        const QStringList menu = rightClick(w->Frame1->Label13, QStringLiteral("Traffic monitor…"));
        QVERIFY2(menu.contains(QStringLiteral("Traffic monitor…")) && menu.contains(QStringLiteral("Ports…")), qPrintable(menu.join('|')));
        auto *monitor = w->findChild<TrafficWindow *>();
        QCOMPARE(monitor ? monitor->windowTitle() : QString(), QStringLiteral("Traffic - KV1730ADAM"));
        // It shows the traffic since the window opened, and rows go on arriving.
        QVERIFY(monitor->Table->model()->rowCount() >= 2);
        module->faults.badCrc = true;
        QTRY_VERIFY(monitor->Statistics->text().contains(QStringLiteral("bad CRC")));
        module->faults = {.exception = true};
        QTRY_VERIFY(monitor->Statistics->text().contains(QStringLiteral("exception")));
        QTest::mouseClick(acquire, Qt::LeftButton);
        monitor->ErrorsOnly->click();
        monitor->refresh();
        const QAbstractItemModel *errors = monitor->Table->model();
        QVERIFY(errors->rowCount() >= 2);
        const QStringList verdicts{"bad CRC", "exception 1: illegal function"};
        for (int r = 0; r < errors->rowCount(); ++r)
            QVERIFY(verdicts.contains(errors->index(r, TrafficModel::Verdict).data().toString()));
        const QString csv = monitor->rowsText(true, false);
        QVERIFY(csv.startsWith(QStringLiteral("\"Time\",\"Since first (s)\",\"Dir\",\"Bytes\"")));
        QVERIFY(csv.contains(QStringLiteral(",\"RX\",")) && csv.contains(QStringLiteral(",\"bad CRC\",")));
        monitor->ErrorsOnly->click();
        QVERIFY(QTest::qWaitForWindowExposed(monitor));
        monitor->refresh();
        QTableView *table = monitor->Table;
        table->scrollToTop();
        const auto widths = [&] {
            QList<int> all;
            for (int c = 0; c < TrafficModel::Columns; ++c)
                all << (table->isColumnHidden(c) ? 0 : table->columnWidth(c));
            return all;
        };
        QVERIFY(table->isColumnHidden(TrafficModel::Line) && columnsFit(table));
        QVERIFY(table->model()->match(table->model()->index(0, TrafficModel::Verdict), Qt::DisplayRole,
                                      QStringLiteral("exception 1: illegal function")).size() > 0);
        const QList<int> before = widths();
        monitor->resize(monitor->width() + 200, monitor->height());
        settle();
        QList<int> wider = before;
        wider[TrafficModel::Bytes] += 200;
        QCOMPARE(widths(), wider);

        // Narrower: the replies' bytes are cut, the direction is not; then the statistics.
        const auto tipAt = [](QWidget *over, QPoint at) {
            QToolTip::hideText(); // goes after a moment
            if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
                return QStringLiteral("(a tool tip that never went)");
            QHelpEvent help(QEvent::ToolTip, at, over->mapToGlobal(at));
            QApplication::sendEvent(over, &help);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        monitor->resize(monitor->width() - 200 - before[TrafficModel::Bytes] / 2, monitor->height());
        settle();
        const QModelIndex reply = table->model()->index(1, TrafficModel::Bytes);
        QCOMPARE(reply.data().toString().size(), 62);
        QCOMPARE(tipAt(table->viewport(), table->visualRect(reply).center()), reply.data().toString());
        QCOMPARE(tipAt(table->viewport(), table->visualRect(reply.siblingAtColumn(TrafficModel::Direction)).center()), QString());
        // Cut cells, and a row clicked on, drawn as they are drawn afresh; a cut one as its text cut
        // by Qt to the cell less 4 px either side (which pins the glyph line's cut: a prefix of the
        // glyphs, then "…", within the width).
        QVERIFY(cellsLookDrawnAfresh(table));
        const QRect cell = table->visualRect(reply);
        QStandardItemModel texts(2, 4);
        texts.setData(texts.index(1, 3), table->fontMetrics().elidedText(reply.data().toString(), Qt::ElideRight, cell.width() - 8));
        QVERIFY(texts.index(1, 3).data().toString().endsWith(QStringLiteral("…")));
        QCOMPARE(table->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(cell), drawnAfresh(table, texts.index(1, 3), cell.size()));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(reply).center());
        QVERIFY(table->selectionModel()->isRowSelected(1) && cellsLookDrawnAfresh(table));
        monitor->resize(300, monitor->height());
        settle();
        QCOMPARE(tipAt(monitor->Statistics, QPoint(5, 5)), monitor->Statistics->text());
        monitor->resize(2000, monitor->height());
        settle();
        QCOMPARE(tipAt(monitor->Statistics, QPoint(5, 5)), QString());
        // Closed, it goes (Ctrl+T brings one: stampedWhenTheBytesCame).
        monitor->close();
        QTRY_VERIFY(!w->findChild<TrafficWindow *>());
        QVERIFY(env.messages.isEmpty());
    }

    // The ports dialog, from the port box's text menu, over a /dev and /sys laid out in a folder: its devices,
    // the slow adapter's advice, "Use as COMn" making the link (asking before it replaces what
    // sys/COMn is; No keeps it), the "echo" check's file, and the echo a window's line learned.
    void portsDialog()
    {
        GuiTestEnvironment env;
        env.bus.addModule(5510, 1, 2)->setDiscreteInput(0, true);
        FakeSystem fs; // an FTDI adapter as it comes, and one set to 1 ms
        fs.usb(1, "idVendor=0403 product=FT232R_USB_UART manufacturer=FTDI", "ttyUSB0", "16");
        fs.usb(2, "idVendor=0403 product=USB-RS485_Cable manufacturer=FTDI", "ttyUSB1", "1");
        fs.link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        const QString byId = fs.path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        PortsDialog::setSystemRoot(fs.root.path());
        QStringList asked;
        bool answer = false;
        setAskSink([&](const QString &text) { asked << text; return answer; });

        // Right-click on the port box: its text menu offers the dialog.
        auto w = owned<DigitalWindow>(createTestWindow(QStringLiteral("KV5510ADAM")));
        const QStringList textMenu = rightClick(w->Combo1->lineEdit(), QStringLiteral("Ports…"));
        QVERIFY2(textMenu.contains(QStringLiteral("&Copy")) && textMenu.last() == QStringLiteral("Ports…"), qPrintable(textMenu.join('|')));
        auto *dialog = child<PortsDialog>(w.get(), QStringLiteral("PortsDialog"));
        QVERIFY(dialog && dialog->isVisible());
        // Refresh and Close in one row, Refresh first.
        QVERIFY(dialog->Command_Refresh->geometry().right() < dialog->Command_Close->x() && dialog->Command_Refresh->y() == dialog->Command_Close->y());

        QTableWidget *table = dialog->Table_Ports;
        QCOMPARE(tableTexts(table).replaceInStrings(fs.root.path(), QString()), (QStringList{"/dev/ttyUSB0|/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0|FT232R USB UART|FTDI||yes|16 ms|",
                                    "/dev/ttyUSB1||USB-RS485 Cable|FTDI||yes|1 ms|"}));
        QVERIFY2(dialog->Text_Advice->toPlainText().startsWith(QStringLiteral(
                     "ttyUSB0: the adapter's latency timer is 16 ms: up to 16 ms is added to every reply. Lower it to 1 ms")),
                 qPrintable(dialog->Text_Advice->toPlainText()));
        QCOMPARE(dialog->Text_Advice->toPlainText().count('\n'), 0); // ttyUSB1's 1 ms needs none

        // COM3 by the keyboard (Down from COM1), the by-id adapter by a click, "Use as COM3".
        auto *com = dialog->Combo_Com;
        QCOMPARE(com->currentText(), QStringLiteral("COM1"));
        const auto useAs = [&](int downs, int row) {
            for (int i = 0; i < downs; ++i)
                QTest::keyClick(com, Qt::Key_Down);
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
            QTest::mouseClick(dialog->Command_UseAs, Qt::LeftButton);
        };
        useAs(2, 0);
        QCOMPARE(dialog->Command_UseAs->text() + ' ' + QFileInfo("sys/COM3").symLinkTarget(), "Use as COM3 " + byId);
        QVERIFY(asked.isEmpty());
        // COM4 names a device server: the adapter without a by-id name replaces it only after a Yes.
        env.writeSys(QStringLiteral("COM4"), "tcp://192.0.2.7:4001\n");
        useAs(1, 1);
        QCOMPARE(env.readSys(QStringLiteral("COM4")), QByteArray("tcp://192.0.2.7:4001\n"));
        QVERIFY2(asked.size() == 1 && asked[0].contains(QStringLiteral("tcp://192.0.2.7:4001")), qPrintable(asked.join('|')));
        answer = true;
        QTest::mouseClick(dialog->Command_UseAs, Qt::LeftButton);
        QCOMPARE(QFileInfo("sys/COM4").symLinkTarget() + ' ' + QString::number(asked.size()), fs.path("dev/ttyUSB1") + " 2");
        // COM5 links to an adapter that was unplugged: asked, then replaced.
        const QString gone = fs.path("dev/serial/by-id/usb-gone");
        QVERIFY(QFile::link(gone, QStringLiteral("sys/COM5")));
        useAs(1, 0);
        QCOMPARE(QFileInfo(QStringLiteral("sys/COM5")).symLinkTarget(), byId);
        QVERIFY2(asked.size() == 3 && asked[2].startsWith("./sys/COM5 stands for " + gone + ".\n"), qPrintable(asked.join('|')));
        QTest::keyClick(com, Qt::Key_Up);
        // The echo check of COM4 is a file beside the link; the window on COM3 learns the echo from a read.
        QCOMPARE(dialog->Check_Echo->toolTip(), QStringLiteral("The adapter of this COM number hands every request back before the reply "
                                                               "(two-wire RS-485 without echo suppression): the windows set it aside from the next Open."));
        QTest::mouseClick(dialog->Check_Echo, Qt::LeftButton);
        QVERIFY(QFileInfo::exists(QStringLiteral("sys/COM4.echo")));
        QTest::keyClick(com, Qt::Key_Up);
        QVERIFY(!dialog->Check_Echo->isChecked());
        QTest::keyClick(com, Qt::Key_Down);
        QTest::mouseClick(dialog->Check_Echo, Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(QStringLiteral("sys/COM4.echo")));
        enterText(w->Combo1, QStringLiteral("COM3"), false);
        QVERIFY(openPort(w.get()));
        simLine(w.get())->echo = true;
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
        // The panel shows the reply after the echo, the receive box both; the monitor has the echo
        // as a row of its own.
        QCOMPARE(texts(w.get(), "DI_SHOW_", true) + ' ' + w->traffic().rows()[1].verdictText(), QStringLiteral("10000000 echo"));
        QCOMPARE(w->Text_Receive->toPlainText(), QStringLiteral("01 02 00 00 00 08 79 CC 01 02 01 01 60 48 "));
        QTest::mouseClick(dialog->Command_Refresh, Qt::LeftButton);
        QCOMPARE(table->item(0, PortsDialog::Echo)->text(), QStringLiteral("seen"));
        QVERIFY(dialog->Text_Advice->toPlainText().contains(byId + QStringLiteral(": echo seen")));
        QVERIFY(env.messages.isEmpty());
        setAskSink({});
        PortsDialog::setSystemRoot(QStringLiteral("/"));
    }

    // A reply that comes well before its read time-out: its monitor row and its values are
    // stamped when its bytes came, not when it was judged. The monitor asked for while a request
    // waits is built once that request is judged, so its building holds back no reply's bytes.
    // (A single-register write echoed and then answered, its reply the same bytes as its echo, is
    // test_core's echoingLine; the receive box showing the echo too, portsDialog.)
    void stampedWhenTheBytesCame()
    {
        GuiTestEnvironment env(shortTimingFile(300, 400, 50));
        env.bus.addModule(5510, 1, 2)->faults.delayMs = 20;
        QVector<ValueRow> values;
        WindowValues::setProgramSink([&values](const QVector<ValueRow> &rows) { values += rows; });
        const auto restore = qScopeGuard([] { WindowValues::setProgramSink({}); });
        Tool tool;
        auto *w = qobject_cast<DigitalWindow *>(tool.registry.open(QStringLiteral("KV5510ADAM")));
        QVERIFY(w && openPort(w));
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_VERIFY(w->traffic().waiting());
        QApplication::setActiveWindow(w);
        QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(!w->findChild<TrafficWindow *>());
        QTRY_VERIFY(!values.isEmpty());
        QVERIFY(w->findChild<TrafficWindow *>()); // built before the judged reply was shown
        const TrafficRow &request = w->traffic().rows()[0], &reply = w->traffic().rows()[1];
        QCOMPARE(reply.verdictText(), QStringLiteral("OK"));
        QVERIFY2(qAbs(double(reply.wallMs - request.wallMs) - reply.responseMs) <= 2 && qAbs(values[0].wallMs - reply.wallMs) <= 2,
                 qPrintable(QStringLiteral("%1 %2 %3 %4").arg(request.wallMs).arg(reply.wallMs).arg(reply.responseMs).arg(values[0].wallMs)));
        simLine(w)->fail(); // a lost line stops the acquisition
        QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    }

    // A window's line knows its echo where sys/COMn.echo says so or where it learned it (l) on that
    // port: kept when the scan or the finder reopens it (o1 l o1), forgotten on another port, on
    // Close (c), a lost line (f) and an open that fails (x1: settings the line refuses). Its watcher
    // sees the bytes that came among those received.
    void lineEchoAndWatcher()
    {
        GuiTestEnvironment env;
        env.writeSys(QStringLiteral("COM2.echo"), {});
        for (const auto &[steps, known] : {std::pair{"o2", true}, {"o1", false}, {"o1 l o1", true}, {"o1 l o3", false},
                                           {"o1 l c o1", false}, {"o1 l f o1", false}, {"o1 l x1 o1", false}}) {
            ModuleLine line;
            for (const QString &s : QString::fromLatin1(steps).split(' ')) {
                if (s[0] == 'o' || s[0] == 'x')
                    QCOMPARE(line.open(s[1].digitValue(), s[0] == 'o' ? "9600,N,8,1" : "x").ok(), s[0] == 'o');
                else
                    s == "l" ? line.learnEcho() : s == "c" ? line.close() : line.findChild<SimLine *>(QStringLiteral("MSComm1"))->fail();
            }
            QVERIFY2(line.echoKnown() == known, steps);
        }
        // Its watcher (a window's onBytes) finds the bytes that came among those received.
        env.bus.addModule(5510, 1, 2);
        ModuleLine line;
        QByteArray seen;
        line.setWatcher([&](const QByteArray &) { seen = line.received(); });
        QVERIFY(line.open(1, "9600,N,8,1").ok());
        line.send(readRequest(1, 0x02, 0, 8));
        QTRY_COMPARE(seen.size(), 6);
    }

    // A device node this user may not open: its row and the advice say how to join dialout.
    void portsDialogDialout()
    {
        if (::geteuid() == 0)
            QSKIP("root opens every device; test_windows_unprivileged runs this case as user 65534");
        GuiTestEnvironment env;
        FakeSystem fs;
        fs.dir("sys/devices/serial8250");
        fs.link(fs.path("sys/devices/serial8250"), "sys/class/tty/ttyS0/device");
        fs.file("dev/ttyS0");
        QVERIFY(QFile::setPermissions(fs.path("dev/ttyS0"), {}));
        PortsDialog::setSystemRoot(fs.root.path());
        const auto restore = qScopeGuard([] { PortsDialog::setSystemRoot(QStringLiteral("/")); });
        auto w = owned<DigitalWindow>(createTestWindow(QStringLiteral("KV5510ADAM")));
        PortsDialog *dialog = openPortsDialog(w.get(), 1);
        QCOMPARE(dialog->Table_Ports->item(0, PortsDialog::Access)->text() + '\n' + dialog->Text_Advice->toPlainText(),
                 QStringLiteral("no: sudo usermod -aG dialout $USER, then log in again\n"
                                "This user may not open every port: sudo usermod -aG dialout $USER, then log in again."));
    }

    // A model that took the recorder's changes batch by batch (rows added, the oldest dropped a
    // hundredth of the bound at a time, the filter switched) shows what a new one shows.
    void modelFollowsTheRecorder()
    {
        TrafficRecorder recorder(200);
        TrafficModel followed(&recorder);
        const QByteArray read = readRequest(1, 2, 0, 8);
        const QByteArray good = withCrc(QByteArray::fromHex("010201"));
        qint64 ns = 0;
        int n = 0;
        const auto rows = [](const TrafficModel &model) {
            QStringList seen;
            for (int r = 0; r < model.rowCount(); ++r)
                seen << QStringLiteral("%1 %2").arg(model.index(r, 0).data(TrafficModel::RowNumberRole).toULongLong())
                            .arg(model.index(r, TrafficModel::Verdict).data().toString());
            return seen;
        };
        // Exchanges between batches; the filter switched after the third; the bound passed on the way.
        for (const int count : {3, 40, 30, 1, 0, 60, 2, 45}) {
            if (count % 2)
                recorder.received(QByteArray::fromHex("FF"), 0, ns); // a batch that starts with noise
            for (int i = 0; i < count; ++i, ++n, ns += 20'000'000) {
                recorder.sent(read, 0, ns);
                if (n % 7 == 3)
                    recorder.received(QByteArray::fromHex("A5"), 0, ns + 1'000'000);
                recorder.judged(judgeReply(n % 5 == 0 ? QByteArray() : good, read, 6), 0, ns + 10'000'000);
            }
            followed.sync();
            if (count == 30)
                followed.setErrorsOnly(true);
            TrafficModel fresh(&recorder);
            fresh.setErrorsOnly(n >= 73); // from the third batch on
            fresh.sync();
            QCOMPARE(rows(followed), rows(fresh));
        }
        QVERIFY(recorder.firstRow() > 0 && recorder.rows().size() <= 202);
    }

    // The table of a monitor that follows the end takes new rows by a blit and paints only them, and
    // its scroll bar only where the slider was and is, its statistics line only where the glyphs
    // changed; what they show then must be what painting them afresh shows, with cells drawn from
    // pictures as they look drawn glyph by glyph: before the table is full, and while it scrolls
    // with the oldest rows going.
    void batchesPaintWhatAFullRepaintWould()
    {
        GuiTestEnvironment env;
        env.bus.addModule(5510, 1, 2);
        const auto w = owned<DigitalWindow>(createTestWindow(QStringLiteral("KV5510ADAM")));
        QVERIFY(openPort(w.get()));
        w->traffic().setCapacity(40); // so that the oldest rows go while it polls
        TrafficWindow *monitor = openTrafficMonitor(w.get());
        QVERIFY(QTest::qWaitForWindowExposed(monitor));
        QWidget *viewport = monitor->Table->viewport();
        const auto pollUntil = [&](const std::function<bool()> &done) {
            QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(done(), 10000);
            QTest::mouseClick(w->Command_OK1, Qt::LeftButton); // stop
            QTest::qWait(0);
            monitor->refresh();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
            QVERIFY(showsItsPaint(viewport));
            QScrollBar *bar = monitor->Table->verticalScrollBar();
            QVERIFY(!bar->isVisible() || showsItsPaint(bar));
            QVERIFY(cellsLookDrawnAfresh(monitor->Table));
            // The statistics line, drawn again where its glyphs changed, as a new label draws it whole.
            StatisticsLabel fresh;
            fresh.setFont(monitor->Statistics->font());
            fresh.resize(monitor->Statistics->size());
            fresh.setText(monitor->Statistics->text());
            QCOMPARE(monitor->Statistics->grab().toImage(), fresh.grab().toImage());
            QVERIFY(showsItsPaint(monitor->Statistics));
        };
        pollUntil([&] { return monitor->Table->model()->rowCount() >= 4; });
        // Bytes nobody asked for: the same request and reply come on the other row colour after them.
        w->traffic().received(QByteArray::fromHex("FF"), 0, 0);
        pollUntil([&] { return monitor->Table->verticalScrollBar()->maximum() > 30; });
        // A turn of the wheel over the table moves the slider up with no new rows.
        const QPointF at(10, 10);
        QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QVERIFY(monitor->Table->verticalScrollBar()->value() < monitor->Table->verticalScrollBar()->maximum());
        QVERIFY(showsItsPaint(monitor->Table->verticalScrollBar()));
    }

    // A combined window's trend: fed from the window's accepted reads on a fake clock, a line per
    // channel in a colour of its own, the digital lanes labelled; the cursor in the window's number
    // format, Save CSV and PNG (the suffix added when none is typed), Log values shown while it runs,
    // stopped by its button or by closing; the program's value log on a full disk is told once while
    // the poll and the trend go on. Only the windows with analog inputs offer it.
    void trendOfACombinedWindow()
    {
        GuiTestEnvironment env;
        SimModule *module = env.bus.addModule(7710, 1, 2);
        module->setHolding(0, 2048); // AI_1 10.00mA
        module->setDiscreteInput(0, true);
        qint64 clock = 1772366400000;
        WindowValues::setClock([&clock] { return clock += 100; });
        ValueLog full(QStringLiteral("/dev/full"), [&env](const QString &why) { env.messages << QStringLiteral("log: ") + why; });
        WindowValues::setProgramSink([&full](const QVector<ValueRow> &rows) { full.write(rows); });
        QString asked;
        TrendWindow::setAskPath([&asked](QWidget *, const QString &, const QString &) { return asked; });
        const auto restore = qScopeGuard([] {
            WindowValues::setClock({});
            WindowValues::setProgramSink({});
            TrendWindow::setAskPath({});
        });
        for (const char *model : {"KV1720ADAM", "KV5510ADAM"}) {
            const auto other = owned(createTestWindow(QString::fromLatin1(model)));
            for (const QAction *a : other->actions())
                QVERIFY(a->text() != QStringLiteral("Trend…"));
        }
        const auto w = owned<TestWindow>(createTestWindow(QStringLiteral("KV7710ADAM")));
        QVERIFY(openPort(w.get()));
        QApplication::setActiveWindow(w.get());
        QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
        auto *trend = w->findChild<TrendWindow *>();
        const Trend *data = w->values().trend();
        QVERIFY(trend && data);
        QCOMPARE(trend->windowTitle(), QStringLiteral("Trend - KV7710ADAM"));
        const auto valuesOf = [&](int channel) { return data->channels().size() > size_t(channel) ? data->channels()[size_t(channel)].series.buckets().size() : 0; };
        auto *ai = child<QPushButton>(w.get(), QStringLiteral("Command_OK1"));
        auto *di = child<QPushButton>(w.get(), QStringLiteral("Command_OK2"));
        for (const auto &[button, channel] : {std::pair{ai, 0}, {di, 6}}) {
            QTest::mouseClick(button, Qt::LeftButton);
            QTRY_VERIFY(valuesOf(channel) >= 3);
            QTest::mouseClick(button, Qt::LeftButton);
        }
        trend->refresh();
        QChart *chart = trend->chartView->chart();
        QCOMPARE(chart->series().size(), 10);
        QSet<QRgb> colours; // the lines' colours, then the rest of sixteen (KV5530ADAM's inputs), all told apart
        for (int i = 0; i < 16; ++i)
            colours << (i < 10 ? static_cast<QLineSeries *>(chart->series()[i])->color() : TrendWindow::seriesColour(i)).rgb();
        QCOMPARE(colours.size(), 16);
        auto *lanes = qobject_cast<QCategoryAxis *>(chart->axes(Qt::Vertical).value(1));
        QVERIFY(lanes && lanes->labelsVisible() && lanes->labelsPosition() == QCategoryAxis::AxisLabelsPositionOnValue
                && lanes->endValue(QStringLiteral("DI_02")) == 2.0);
        QCOMPARE(lanes->categoriesLabels(), (QStringList{"DI_01", "DI_02", "DI_03", "DI_04"}));
        // The cursor at the right edge reads the newest values.
        QCoreApplication::sendPostedEvents(); // the chart laid out again for the lanes' labels
        const QPointF edge = chart->mapToScene(QPointF(chart->plotArea().right() - 1, chart->plotArea().center().y()));
        QTest::mouseMove(trend->chartView->viewport(), trend->chartView->mapFromScene(edge));
        QTRY_VERIFY(trend->cursorLabel->text().contains(QStringLiteral("AI_1 10.00mA")));
        QVERIFY(trend->cursorLabel->text().contains(QStringLiteral("DI_01 ON  DI_02 OFF")));
        // The cursor's line (the dashed one above the series) goes at a time outside the view.
        const auto cursorShown = [chart] {
            for (QGraphicsItem *item : chart->scene()->items())
                if (auto *line = qgraphicsitem_cast<QGraphicsLineItem *>(item); line && line->pen().style() == Qt::DashLine)
                    return item->isVisible();
            return false;
        };
        QVERIFY(cursorShown());
        trend->showCursor(0);
        QVERIFY(!cursorShown());
        for (QAbstractAxis *axis : chart->axes(Qt::Vertical)) // the digital lanes' axis draws no grid
            QCOMPARE(axis->isGridLineVisible(), axis->titleText() != QStringLiteral("ON / OFF"));
        // The span as picked in its box (Down from "1 min"): the time axis follows.
        QTest::keyClick(trend->spanBox, Qt::Key_Down);
        QCOMPARE(trend->spanBox->currentText(), QStringLiteral("5 min"));
        const auto *time = qobject_cast<QDateTimeAxis *>(chart->axes(Qt::Horizontal).value(0));
        QCOMPARE(time ? time->min().msecsTo(time->max()) : 0, 5 * 60000);
        QTest::mouseClick(trend->pauseButton, Qt::LeftButton);
        QCOMPARE(trend->pauseButton->text(), QStringLiteral("Resume"));

        asked = env.path() + QStringLiteral("/sys/trend");
        QTest::mouseClick(trend->saveCsvButton, Qt::LeftButton);
        const QByteArray csv = env.readSys(QStringLiteral("trend.csv"));
        QVERIFY(csv.contains(",KV7710ADAM,AI_1,10,10,mA\n") && csv.contains(",KV7710ADAM,DI_01,1,1,\n"));
        QTest::mouseClick(trend->savePngButton, Qt::LeftButton);
        QCOMPARE(QImage(asked + QStringLiteral(".png")).size(), trend->chartView->size() * trend->chartView->devicePixelRatio());
        asked = env.path() + QStringLiteral("/sys/values");
        QTest::mouseClick(trend->logButton, Qt::LeftButton);
        QCOMPARE(trend->logLabel->text() + trend->logButton->text(), QStringLiteral("Logging to values.csvStop log"));
        QTest::mouseClick(ai, Qt::LeftButton);
        QTRY_VERIFY(env.readSys(QStringLiteral("values.csv")).count("\n") >= 13);
        QTest::mouseClick(ai, Qt::LeftButton);
        // Paused, the view stays where it was while values come; resumed, it follows them again.
        const qint64 pausedAt = time->max().toMSecsSinceEpoch();
        trend->refresh();
        QVERIFY(data->lastMs() > pausedAt);
        QCOMPARE(time->max().toMSecsSinceEpoch(), pausedAt);
        QTest::mouseClick(trend->pauseButton, Qt::LeftButton);
        QCOMPARE(trend->pauseButton->text() + ' ' + QString::number(data->lastMs() - time->max().toMSecsSinceEpoch()), "Pause 0");
        QVERIFY(env.readSys(QStringLiteral("values.csv")).split('\n')[1].endsWith(",KV7710ADAM,1,AI_1,10,mA,2048,10.00mA"));
        QCOMPARE(env.messages.filter(QStringLiteral("log: ")).size(), 1);
        QTest::mouseClick(trend->logButton, Qt::LeftButton);
        QVERIFY(!w->values().log() && trend->logLabel->text().isEmpty() && trend->logButton->text() == QStringLiteral("Log values…"));
        asked = env.path() + QStringLiteral("/sys/again.txt");
        QTest::mouseClick(trend->logButton, Qt::LeftButton);
        QCOMPARE(trend->logLabel->text(), QStringLiteral("Logging to again.txt"));
        trend->close();
        QVERIFY(!w->values().log());
    }

    // A window whose baud rate changed closes: Main is shown once, the window goes, the one message
    // names set.rc, and set.rc (writable itself) holds what it held.
    void notWritableSysFolder()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders; test_windows_unprivileged runs this case as user 65534");
        GuiTestEnvironment env(shortTimingFile(), "3\r\n19200\r\nEven\r\n");
        const QString sys = env.path() + QStringLiteral("/sys");
        const QFile::Permissions writable = QFileInfo(sys).permissions();
        QVERIFY(QFile::setPermissions(sys, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
        const auto restore = qScopeGuard([&] { QFile::setPermissions(sys, writable); });
        int mainShown = 0;
        QPointer<ModuleWindow> w = createTestWindow(QStringLiteral("KV5510ADAM"));
        w->setHooks({.showMain = [&mainShown] { ++mainShown; }, .trafficSink = {}, .openMonitor = {}});
        w->show();
        w->Combo2->setCurrentIndex(w->Combo2->findText(QStringLiteral("4800")));
        QVERIFY(w->close());
        QTRY_VERIFY(w.isNull());
        QCOMPARE(mainShown, 1);
        QVERIFY2(env.messages.size() == 1 && env.messages[0].startsWith("Cannot write ./sys/set.rc: ")
                     && env.messages[0].size() > 27, qPrintable(env.messages.join('|')));
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("3\r\n19200\r\nEven\r\n"));
    }

    // One message on load for a tm.rc that is missing, empty or short, or whose lines for the window give a letter, a zero or an overflowing number:
    // the file's own trouble, then the window's lines that give no interval, missing or damaged.
    void unreadableTimingFile()
    {
        const auto spoilt = [](const QList<int> &lines) {
            const QList<QByteArray> fields = {"    x", "    0", "99999"};
            QList<QByteArray> text = shortTimingFile().split('\n');
            for (int i = 0; i < lines.size(); ++i)
                text[lines[i] - 1] = text[lines[i] - 1].left(11) + fields[i] + "\r";
            return text.join('\n');
        };
        const QByteArray fiveLines = shortTimingFile().left(5 * 18);
        const QString file = QStringLiteral("./sys/tm.rc"), noInterval = file + " gives no interval in ";
        const QString kv5510Lines = QStringLiteral("\n") + noInterval + "lines 6, 7, 8";
        const struct { const char *window; QByteArray content; QString message; } cases[] = {
            {"KV5510ADAM", {}, "Cannot read " + file + kv5510Lines},
            {"KV5510ADAM", "", file + " holds 0 of its 20 lines" + kv5510Lines},
            {"KV5510ADAM", fiveLines, file + " holds 5 of its 20 lines" + kv5510Lines},
            {"KV1730ADAM", fiveLines, file + " holds 5 of its 20 lines"},
            {"KV1730ADAM", spoilt({5}), noInterval + "line 5"}, {"KV5510ADAM", spoilt({5}), {}},
            {"KV1740ADAM", spoilt({4, 5}), noInterval + "lines 4, 5"},
            {"KV7720ADAM", spoilt({20, 16}), noInterval + "lines 16, 20"}};
        for (const auto &c : cases) {
            GuiTestEnvironment env(c.content);
            QVERIFY(!c.content.isNull() || QFile::remove(QStringLiteral("sys/tm.rc")));
            const auto w = owned(createTestWindow(QString::fromLatin1(c.window)));
            QCOMPARE(env.messages, c.message.isEmpty() ? QStringList() : QStringList{c.message});
            QVERIFY(w->isVisible());
        }
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
