#include "busfinder.h"

#include "csv.h"
#include "linesettings.h"
#include "numtext.h"
#include "prompt.h"
#include "serialgroup.h"
#include "ports.h"
#include "sitepoll.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QSaveFile>


namespace {
const QString kStart = QStringLiteral("Start");
const QString kStop = QStringLiteral("Stop");
const QStringList kColumns = {QStringLiteral("Address"), QStringLiteral("Model"), QStringLiteral("Code"),
                              QStringLiteral("Baud"), QStringLiteral("Parity"), QStringLiteral("Response ms"),
                              QStringLiteral("Note")};

// A shared address's row says what to do about it.
const QString kSharedAdvice = QStringLiteral(" Disconnect all but one, then Set address…");
const QString kSharedTip = QStringLiteral("Several modules answer at this address. Disconnect all but one of them, give "
                                          "that one a free address with \"Set address…\" (right-click), then connect "
                                          "the next and do the same.");

// What the window keeps while the program runs, for its next opening.
struct Kept {
    bool any = false;
    QVector<FinderRow> rows;
    QList<bool> ticked;
    QString from, to, turnaround;
};
Kept &kept()
{
    static Kept k;
    return k;
}

// A cell that sorts numbers by value, ahead of texts (the empty cells of rows without them).
class Cell : public QTableWidgetItem
{
public:
    bool operator<(const QTableWidgetItem &other) const override
    {
        const QVariant a = data(Qt::DisplayRole), b = other.data(Qt::DisplayRole);
        const bool numberA = a.typeId() != QMetaType::QString, numberB = b.typeId() != QMetaType::QString;
        if (numberA && numberB)
            return a.toDouble() < b.toDouble();
        if (numberA != numberB)
            return numberA;
        return a.toString() < b.toString();
    }
};

std::function<void(const QString &)> &openSiteSlot()
{
    static std::function<void(const QString &)> open;
    return open;
}

// The texts of a row's cells; numbers stay numbers so that the columns sort by value.
QList<QVariant> cells(const FinderRow &r)
{
    const auto known = [](int v) { return v > 0 ? QVariant(v) : QVariant(QString()); };
    return {r.isModule() ? QVariant(r.address) : QVariant(QString()),
            r.model > 0 ? QVariant(modelName(r.model)) : QVariant(QString()),
            known(r.code),
            known(r.baud()),
            r.parity() ? parityName(r.parity()) : QString(),
            r.responseMs >= 0 ? QVariant(QString::number(r.responseMs, 'f', 2).toDouble()) : QVariant(QString()),
            r.kind == FinderRow::SharedAddress ? r.note + kSharedAdvice : r.note};
}
} // namespace

void BusFinderWindow::setOpenSite(std::function<void(const QString &)> open)
{
    openSiteSlot() = std::move(open);
}

BusFinderWindow::BusFinderWindow(QWidget *parent)
    : ModuleWindow(QStringLiteral("BusFinder"), QStringLiteral("Bus Finder"), 12600, 7080, parent)
{
    TM_Probe = named(new QTimer(this), QStringLiteral("TM_Probe"));
    TM_Probe->setSingleShot(true);
    TM_Probe->setTimerType(Qt::PreciseTimer);
    connect(TM_Probe, &QTimer::timeout, this, &BusFinderWindow::TM_Probe_Timer);
    setLongestReply(64); // a collision may bring more than one reply's bytes; the check needs only a few
    m_clock.start();
    // The baud and parity boxes show the setting being swept, not a choice to keep.
    m_writesSetRc = false;
}

BusFinderWindow::~BusFinderWindow()
{
    keepState();
}

void BusFinderWindow::keepState() const
{
    Kept &k = kept();
    k = {true, m_rows, {}, Combo_From->currentText(), Combo_To->currentText(), Combo_Turnaround->currentText()};
    for (const QCheckBox *box : Check_Code)
        k.ticked << box->isChecked();
}

void BusFinderWindow::restoreState()
{
    const Kept &k = kept();
    if (!k.any)
        return;
    for (int i = 0; i < Check_Code.size(); ++i)
        Check_Code[i]->setChecked(k.ticked.value(i, true));
    Combo_From->setEditText(k.from);
    Combo_To->setEditText(k.to);
    Combo_Turnaround->setEditText(k.turnaround);
    m_rows = k.rows;
    Label_TimeLeft->setText(QStringLiteral("%1 found").arg(std::count_if(m_rows.begin(), m_rows.end(), [](const FinderRow &r) {
        return r.isModule();
    })));
    showRows();
}

// The table of what was found: read-only rows, sorted by a click on a header, Ctrl+C copies.
void BusFinderWindow::buildResultsTable()
{
    Table_Results = placed(new QTableWidget(0, int(kColumns.size()), this), QStringLiteral("Table_Results"), 2640, 2160, 9840, 4200);
    Table_Results->setHorizontalHeaderLabels(kColumns);
    Table_Results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table_Results->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table_Results->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    Table_Results->setSortingEnabled(true);
    Table_Results->verticalHeader()->hide();
    Table_Results->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Table_Results, &QWidget::customContextMenuRequested, this, &BusFinderWindow::showMenu);
    auto *copy = new QAction(QStringLiteral("Copy"), Table_Results);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(selectedText()); });
    Table_Results->addAction(copy);
}

// "Test" hands over as a double-click does; "Set address…" for any row with an address. Each
// runs once the menu is closed.
void BusFinderWindow::showMenu(const QPoint &at)
{
    const int row = Table_Results->rowAt(at.y());
    const QTableWidgetItem *item = Table_Results->item(row, 0);
    if (!item)
        return;
    const FinderRow &r = m_rows.value(item->data(Qt::UserRole).toInt());
    const bool idle = !m_finder.running() && !m_write;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("Menu_Row"));
    QAction *test = menu.addAction(QStringLiteral("Test"));
    test->setEnabled(idle && r.kind == FinderRow::Module && findModel(modelName(r.model)));
    connect(test, &QAction::triggered, this, [this, row] { Table_Results_DoubleClick(row); }, Qt::QueuedConnection);
    QAction *set = menu.addAction(QStringLiteral("Set address…"));
    set->setEnabled(idle && r.isModule());
    connect(set, &QAction::triggered, this, [this, row] { setAddressOfRow(row); }, Qt::QueuedConnection);
    QAction *site = menu.addAction(QStringLiteral("Open as site…"));
    site->setEnabled(idle);
    connect(site, &QAction::triggered, this, &BusFinderWindow::openAsSite, Qt::QueuedConnection);
    menu.exec(Table_Results->viewport()->mapToGlobal(at));
}

void BusFinderWindow::fitFrames()
{
    const int gap = twips(120);
    int column = twips(1440);
    for (const QCheckBox *box : std::as_const(Check_Code))
        column = qMax(column, box->sizeHint().width());
    for (int i = 0; i < Check_Code.size(); ++i)
        Check_Code[i]->setGeometry(gap + (i % 4) * column, Check_Code[i]->y(), column, Check_Code[i]->height());
    Frame_Codes->resize(qMax(Frame_Codes->width(), 2 * gap + 4 * column), Frame_Codes->height());
    // In the range's frame, line by line: a label as wide as its text, its box after it.
    int right = 0;
    const auto label = [this](const char *name) { return Frame_Range->findChild<QLabel *>(QLatin1String(name)); };
    for (const QList<QWidget *> &line : {QList<QWidget *>{label("Combo_From_Label"), Combo_From, label("Combo_To_Label"), Combo_To},
                                         QList<QWidget *>{label("Label_Turnaround"), Combo_Turnaround}}) {
        int x = gap;
        for (QWidget *w : line) {
            const bool caption = qobject_cast<QLabel *>(w);
            w->setGeometry(x, w->y(), caption ? qMax(w->width(), w->sizeHint().width()) : w->width(), w->height());
            x += w->width() + (caption ? 0 : gap / 2);
        }
        right = qMax(right, x);
    }
    Frame_Range->setGeometry(Frame_Codes->geometry().right() + 1 + gap, Frame_Range->y(),
                             qMax(Frame_Range->width(), right + gap), Frame_Range->height());
    const int width = qMax(this->width(), Frame_Range->geometry().right() + 1 + gap);
    setFixedSize(width, height());
    Table_Results->resize(width - gap - Table_Results->x(), Table_Results->height());
    Label_TimeLeft->move(width - gap - Label_TimeLeft->width(), Label_TimeLeft->y());
    Progress->resize(Label_TimeLeft->x() - gap - Progress->x(), Progress->height());
}

void BusFinderWindow::loadPanels()
{
    // The finder opens the line itself at each setting it sweeps; the baud and parity boxes show
    // the setting of the moment.
    Command_Port->hide();
    for (QWidget *w : std::initializer_list<QWidget *>{Combo2, Combo3, Combo4, Combo5})
        w->setEnabled(false);

    Frame_Codes = addPanel(QStringLiteral("Frame_Codes"), QStringLiteral(" Settings "), 2640, 120, 5880, 1335);
    for (int i = 0; i < 8; ++i) {
        auto *box = placed(new QCheckBox(communicationParameterTexts()[i], Frame_Codes), QStringLiteral("Check_Code_%1").arg(i),
                           120 + (i % 4) * 1440, 360 + (i / 4) * 420, 1440, 300);
        box->setChecked(true);
        Check_Code.append(box);
    }
    Frame_Range = addPanel(QStringLiteral("Frame_Range"), QStringLiteral(" Addresses "), 8640, 120, 3840, 1335);
    const auto labelled = [this](const QString &caption, const QString &name, const QString &text, int left, int top) {
        placed(new QLabel(caption, Frame_Range), name + QStringLiteral("_Label"), left, top + 30, 840, 255);
        auto *box = new ChoiceBox(name, Frame_Range);
        box->setEditText(text);
        box->setGeometry(twips(left + 840), twips(top), twips(900), twips(300));
        return box;
    };
    Combo_From = labelled(QStringLiteral("From"), QStringLiteral("Combo_From"), QStringLiteral("1"), 120, 360);
    Combo_To = labelled(QStringLiteral("To"), QStringLiteral("Combo_To"), QStringLiteral("254"), 1920, 360);
    placed(new QLabel(QStringLiteral("Turnaround ms"), Frame_Range), QStringLiteral("Label_Turnaround"), 120, 810, 1560, 255);
    Combo_Turnaround = new ChoiceBox(QStringLiteral("Combo_Turnaround"), Frame_Range);
    Combo_Turnaround->addItems({QStringLiteral("5"), QStringLiteral("20"), QStringLiteral("50"), QStringLiteral("100")});
    Combo_Turnaround->setCurrentIndex(1);
    Combo_Turnaround->setGeometry(twips(1800), twips(780), twips(900), twips(300));

    Command_Start = placed(new QPushButton(kStart, this), QStringLiteral("Command_Start"), 2640, 1560, 1500, 495);
    Progress = placed(new QProgressBar(this), QStringLiteral("Progress"), 4260, 1620, 5520, 375);
    Progress->setValue(0);
    Label_TimeLeft = placed(new QLabel(this), QStringLiteral("Label_TimeLeft"), 9900, 1620, 2580, 375);

    buildResultsTable();
    fitFrames();
    Command_Export = placed(new QPushButton(QStringLiteral("Export CSV…"), this), QStringLiteral("Command_Export"), 2640, 6480, 1800, 450);
    Command_OpenSite = placed(new QPushButton(QStringLiteral("Open as site…"), this), QStringLiteral("Command_OpenSite"), 4560, 6480, 1800, 450);
    connect(Command_OpenSite, &QPushButton::clicked, this, &BusFinderWindow::openAsSite);

    connect(Command_Start, &QPushButton::clicked, this, &BusFinderWindow::Command_Start_Click);
    connect(Table_Results, &QTableWidget::cellDoubleClicked, this, [this](int row) { Table_Results_DoubleClick(row); });
    connect(Command_Export, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("bus.csv"),
                                                          QStringLiteral("CSV (*.csv)"));
        if (path.isEmpty())
            return;
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(csvText().toUtf8()) < 0 || !file.commit())
            Prompt(this, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    });
    restoreState();
}

void BusFinderWindow::Command_Start_Click()
{
    if (m_finder.running()) {
        m_finder.stop();
        finished();
        return;
    }
    if (m_write)
        return;
    FinderOptions options;
    options.codes.clear();
    for (int i = 0; i < Check_Code.size(); ++i)
        if (Check_Code[i]->isChecked())
            options.codes << i + 1;
    const std::optional<std::uint8_t> from = addressFromText(Combo_From->currentText());
    const std::optional<std::uint8_t> to = addressFromText(Combo_To->currentText());
    const std::optional<std::uint8_t> turnaround = addressFromText(Combo_Turnaround->currentText());
    const int n = portNumber();
    options.framing = resolvePort(n).framing();
    // Behind a gateway the settings are not swept: the boxes say so.
    Frame_Codes->setEnabled(!options.gateway());
    Frame_Codes->setToolTip(sweepNote(options));
    if (options.codes.isEmpty() && !options.gateway()) {
        Prompt(this, QStringLiteral("Tick at least one setting！"));
        return;
    }
    if (!from || !to || *from < 1 || *from > *to) {
        Prompt(this, QStringLiteral("The addresses must run from 1 to at most 255！"));
        return;
    }
    if (!turnaround) {
        Prompt(this, QStringLiteral("The turnaround must be 0 to 255 ms！"));
        return;
    }
    options.from = *from;
    options.to = *to;
    options.turnaroundMs = *turnaround;
    if (!ProbePort(n))
        return;
    options.lineCarriesSettings = !resolvePort(n).tcp;
    options.repliesTakeLineTime = line()->takesLineTime();
    m_finder = BusFinder(options);
    m_shownRows = -1;
    m_sweeping = true;
    m_rows.clear();
    Table_Results->setRowCount(0);
    Command_Start->setText(kStop);
    follow(m_finder.start(nowUs()));
}

void BusFinderWindow::follow(BusFinder::Next next)
{
    while (next.kind == BusFinder::Next::Open) {
        const int code = next.code;
        const LineSettings settings = code ? codeSettings(code) : LineSettings{};
        if (code) {
            Combo2->setEditText(QString::number(settings.baud));
            Combo3->setEditText(parityName(settings.parity));
        }
        setTrafficTag(code ? communicationParameterTexts()[code - 1] : QString());
        const bool ok = line()->open(portNumber(), settingsText(settings)).ok();
        Frame1->showOpen(ok);
        next = m_finder.opened(ok, nowUs());
        if (!ok)
            Prompt(this, QStringLiteral("Serial fault, Please check the serial port"));
    }
    if (next.kind == BusFinder::Next::Done) {
        finished();
        return;
    }
    if (next.kind == BusFinder::Next::Listen) {
        // Nothing sent: what comes until the deadline goes to the finder as more of the probe's bytes.
        m_listening = true;
        m_heardBefore = received();
    } else {
        // The window judges and sends in one go: no byte can come between two probes.
        m_listening = false;
        clearExchange();
        m_request = next.frame;
        applyExchange(CycleAction(CycleAction::Send, next.frame));
    }
    TM_Probe->start(int(qMax<qint64>(1, (next.deadlineUs - nowUs() + 999) / 1000)));
    showProgress();
}

void BusFinderWindow::TM_Probe_Timer()
{
    if (m_write)
        return judgeWriteStep();
    if (!m_finder.running())
        return;
    if (m_listening) {
        const QByteArray came = received().mid(m_heardBefore.size());
        const BusFinder::Next next = m_finder.judged(came, came.isEmpty() ? -1 : m_lastByteUs, nowUs());
        follow(next);
        return;
    }
    // The finder judges what follows the adapter's echo; a probe (a read) shows an echo beyond doubt.
    // Behind a gateway it takes the frames as they came.
    Exchange probe(m_request);
    probe.echoKnown = echoKnown();
    probe.framing = line()->framing();
    probe.judge(received());
    recordVerdict(probe.verdict, int(probe.echo.size()), probe.echoKnown);
    const QByteArray &heard = probe.framing.mbap() ? received() : probe.reply;
    const BusFinder::Next next = m_finder.judged(heard, heard.isEmpty() ? -1 : m_lastByteUs, nowUs());
    takeRows();
    follow(next);
}

void BusFinderWindow::onLineLost()
{
    m_finder.stop();
    m_write.reset();
    finished();
}

void BusFinderWindow::finished()
{
    TM_Probe->stop();
    line()->close();
    Frame1->showOpen(false);
    Command_Start->setText(kStart);
    if (m_sweeping) {
        m_sweeping = false;
        takeRows();
        showProgress();
    }
}

void BusFinderWindow::showProgress()
{
    Progress->setMaximum(qMax(1, m_finder.probesPlanned()));
    Progress->setValue(m_finder.running() ? m_finder.probesSent() : Progress->maximum());
    Label_TimeLeft->setText(m_finder.running() ? QStringLiteral("%1 s left").arg((m_finder.timeLeftUs() + 999999) / 1000000)
                                               : QStringLiteral("%1 found").arg(m_finder.modulesFound()));
}

void BusFinderWindow::takeRows()
{
    // Rows merge while the sweep goes on, so the table is laid out again whenever one is added
    // and once at the end.
    if (m_finder.rows().size() == m_shownRows && m_finder.running())
        return;
    m_shownRows = int(m_finder.rows().size());
    m_rows = m_finder.rows();
    sortRows();
    showRows();
}

void BusFinderWindow::sortRows()
{
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const FinderRow &a, const FinderRow &b) {
        return (a.isModule() ? a.address : 256) < (b.isModule() ? b.address : 256);
    });
}

void BusFinderWindow::showRows()
{
    Table_Results->setSortingEnabled(false);
    Table_Results->setRowCount(int(m_rows.size()));
    for (int i = 0; i < m_rows.size(); ++i) {
        const QList<QVariant> values = cells(m_rows[i]);
        for (int c = 0; c < values.size(); ++c) {
            auto *item = new Cell;
            item->setData(Qt::DisplayRole, values[c]);
            item->setData(Qt::UserRole, i);
            if (m_rows[i].kind == FinderRow::SharedAddress)
                item->setToolTip(kSharedTip);
            Table_Results->setItem(i, c, item);
        }
    }
    Table_Results->setSortingEnabled(true);
    fitColumns();
}

// Every column as wide as its header and cells ask in the table's font (the notes are never
// cut: the table scrolls sideways instead); the last one fills what is left.
void BusFinderWindow::fitColumns()
{
    Table_Results->resizeColumnsToContents();
    const int last = Table_Results->columnCount() - 1;
    int others = 0;
    for (int c = 0; c < last; ++c)
        others += Table_Results->columnWidth(c);
    Table_Results->setColumnWidth(last, qMax(Table_Results->columnWidth(last), Table_Results->viewport()->width() - others));
}

void BusFinderWindow::Table_Results_DoubleClick(int row)
{
    const QTableWidgetItem *item = Table_Results->item(row, 0);
    if (!item)
        return;
    const FinderRow r = m_rows.value(item->data(Qt::UserRole).toInt());
    const QString model = modelName(r.model);
    if (r.kind != FinderRow::Module || !findModel(model) || !s_openWindow || m_write)
        return;
    const int port = portNumber();
    if (m_finder.running())
        m_finder.stop();
    finished();
    // The finder gives way to the model's window: that window shows Main when it closes, and
    // writes set.rc then, as every module window does (the finder never writes it).
    // A row without a parity (heard behind a gateway) shows None.
    m_showsMainOnClose = false;
    if (!handOver(model, port, r.baud(), r.parity() == 'E' ? 'E' : 'N', r.address)) {
        m_showsMainOnClose = true;
        return;
    }
    close();
}

void BusFinderWindow::openAsSite()
{
    if (m_finder.running() || m_write)
        return;
    const QString port = QStringLiteral("COM%1").arg(portNumber());
    if (siteOfFound(m_rows, QString(), port).modules.isEmpty()) {
        Prompt(this, QStringLiteral("No module found to make a site of！"));
        return;
    }
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Open as site"), QStringLiteral("site.kvsite"),
                                                QStringLiteral("Sites (*.kvsite)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".kvsite");
    QString error;
    if (!writeSite(siteOfFound(m_rows, QFileInfo(path).completeBaseName(), port), path, &error)) {
        Prompt(this, QStringLiteral("Cannot write %1: %2").arg(path, error));
        return;
    }
    // The finder closes and the site opens as from Main: Main hides, or stays with why it could not.
    const std::function<void(const QString &)> open = openSiteSlot();
    if (!open)
        return;
    close();
    open(path);
}

QString BusFinderWindow::csvText() const
{
    QStringList lines{kColumns.join(QLatin1Char(','))};
    for (int i = 0; i < Table_Results->rowCount(); ++i) {
        QStringList fields;
        for (int c = 0; c < Table_Results->columnCount(); ++c)
            fields << csvField(Table_Results->item(i, c) ? Table_Results->item(i, c)->text() : QString());
        lines << fields.join(QLatin1Char(','));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString BusFinderWindow::selectedText() const
{
    QStringList lines;
    for (int i = 0; i < Table_Results->rowCount(); ++i) {
        if (!Table_Results->item(i, 0) || !Table_Results->item(i, 0)->isSelected())
            continue;
        QStringList fields;
        for (int c = 0; c < Table_Results->columnCount(); ++c)
            fields << (Table_Results->item(i, c) ? Table_Results->item(i, c)->text() : QString());
        lines << fields.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

ModuleWindow *createBusFinder(QWidget *parent)
{
    auto *w = new BusFinderWindow(parent);
    w->Form_Load();
    return w;
}
