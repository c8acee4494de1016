#include "checkoutwindow.h"

#include "checkoutreport.h"
#include "conversions.h"
#include "prompt.h"
#include "reportpdf.h"
#include "trafficlog.h"
#include "sitewindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {
enum Column { ChannelColumn, TagColumn, TestColumn, ValuesColumn, VerdictColumn, CommentColumn };

CheckoutWindow::AskName &askNameSlot()
{
    static CheckoutWindow::AskName ask;
    return ask;
}

CheckoutWindow::AskPath &askPathSlot()
{
    static CheckoutWindow::AskPath ask;
    return ask;
}

} // namespace

std::optional<QVector<CheckPoint>> pointsFromText(const QString &text)
{
    static const QRegularExpression point(QStringLiteral("^(-?\\d+(?:\\.\\d+)?)\\s*(?:±|\\+-|\\+/-)\\s*(\\d+(?:\\.\\d+)?)$"));
    QVector<CheckPoint> points;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = point.match(part.trimmed());
        if (!m.hasMatch())
            return std::nullopt;
        points.append({m.captured(1).toDouble(), m.captured(2).toDouble()});
    }
    return points;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 6);
}

QString CheckoutWindow::key(int module, const QString &channel)
{
    return QString::number(module) + QLatin1Char('/') + channel;
}

QString pointsText(const QVector<CheckPoint> &points)
{
    QStringList parts;
    for (const CheckPoint &p : points)
        parts << numberText(p.target) + QStringLiteral(" ±") + numberText(p.tolerance);
    return parts.join(QStringLiteral(", "));
}

void CheckoutWindow::setAskName(AskName ask)
{
    askNameSlot() = std::move(ask);
}

void CheckoutWindow::setAskPath(AskPath ask)
{
    askPathSlot() = std::move(ask);
}

CheckoutWindow::CheckoutWindow(SiteWindow *site) : QWidget(site, Qt::Window), m_site(site)
{
    setObjectName(QStringLiteral("CheckoutWindow"));
    setWindowTitle(QStringLiteral("Checkout - ") + site->site().name);
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    buildList();
    m_ready = begin();
    connect(site, &SiteWindow::exchanged, this, &CheckoutWindow::heard);
    nextUntested(int(m_rows.size()) - 1);
    List->setFocus();
    resize(900, 600);
}

CheckoutWindow::~CheckoutWindow() = default;

void CheckoutWindow::buildControls()
{
    auto *box = new QVBoxLayout(this);
    auto *head = new QHBoxLayout;
    Label_Technician = named(new QLabel(this), QStringLiteral("Label_Technician"));
    Label_Status = named(new QLabel(this), QStringLiteral("Label_Status"));
    Label_Status->setWordWrap(true);
    head->addWidget(Label_Technician);
    head->addWidget(Label_Status, 1);
    box->addLayout(head);
    List = named(new QTreeWidget(this), QStringLiteral("List_Channels"));
    List->setHeaderLabels({QStringLiteral("Channel"), QStringLiteral("Tag"), QStringLiteral("Test"), QStringLiteral("Values"),
                           QStringLiteral("Verdict"), QStringLiteral("Comment")});
    List->setRootIsDecorated(false);
    List->setItemsExpandable(false);
    List->installEventFilter(this);
    box->addWidget(List, 1);
    auto *grid = new QGridLayout;
    // The buttons on the first row of the grid, the fields on the second.
    const auto button = [this, grid](const QString &text, const QString &name, int column, void (CheckoutWindow::*slot)()) {
        auto *b = named(new QPushButton(text, this), name);
        b->setFocusPolicy(Qt::NoFocus); // the list keeps the keyboard
        grid->addWidget(b, 0, column);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    const auto edit = [this, grid](const QString &name, const QString &placeholder, int column, int span,
                                   void (CheckoutWindow::*slot)()) {
        auto *e = named(new QLineEdit(this), name);
        e->setPlaceholderText(placeholder);
        grid->addWidget(e, 1, column, 1, span);
        connect(e, &QLineEdit::returnPressed, this, slot);
        return e;
    };
    Command_Test = button(QStringLiteral("Start test (Space)"), QStringLiteral("Command_Test"), 0, &CheckoutWindow::start);
    Command_Pass = button(QStringLiteral("Pass (Enter)"), QStringLiteral("Command_Pass"), 1, &CheckoutWindow::pass);
    Command_Fail = button(QStringLiteral("Fail (F)"), QStringLiteral("Command_Fail"), 2, &CheckoutWindow::fail);
    Command_NotTested = button(QStringLiteral("Not tested (N)"), QStringLiteral("Command_NotTested"), 3, &CheckoutWindow::notTested);
    Command_Report = button(QStringLiteral("Export report…"), QStringLiteral("Command_Report"), 4, &CheckoutWindow::exportReport);
    Edit_Points = edit(QStringLiteral("Edit_Points"), QStringLiteral("points (P): 4 ±0.2, 12 ±0.2"), 0, 2, &CheckoutWindow::points);
    Edit_Measured = edit(QStringLiteral("Edit_Measured"), QStringLiteral("measured; Enter alone confirms"), 2, 1, &CheckoutWindow::measured);
    Edit_Comment = edit(QStringLiteral("Edit_Comment"), QStringLiteral("comment (C)"), 3, 1, &CheckoutWindow::comment);
    Edit_Reason = edit(QStringLiteral("Edit_Reason"), QStringLiteral("why not tested (N)"), 4, 1, &CheckoutWindow::notTested);
    box->addLayout(grid);
    Edit_Measured->installEventFilter(this);
}

// A heading per module, its channels under it.
void CheckoutWindow::buildList()
{
    const Site &site = m_site->site();
    QTreeWidgetItem *heading = nullptr;
    int module = -1;
    for (const CheckChannel &channel : checkChannels(site)) {
        if (channel.module != module) {
            module = channel.module;
            const SiteModule &m = site.modules[module];
            heading = new QTreeWidgetItem(List, {QStringLiteral("%1  address %2  %3").arg(m.model).arg(m.address).arg(m.tag).trimmed()});
            heading->setData(ChannelColumn, Qt::UserRole, -1);
            heading->setFirstColumnSpanned(true);
            QFont bold = heading->font(ChannelColumn);
            bold.setBold(true);
            heading->setFont(ChannelColumn, bold);
            heading->setFlags(Qt::ItemIsEnabled);
            heading->setExpanded(true);
        }
        addRow(channel, heading);
    }
    connect(List, &QTreeWidget::currentItemChanged, this, [this] {
        const int k = current();
        const bool analog = k >= 0 && (m_rows[k].channel.kind == CheckKind::AnalogInput || m_rows[k].channel.kind == CheckKind::AnalogOutput);
        Edit_Points->setEnabled(analog);
        Edit_Points->setText(analog ? pointsText(m_rows[k].channel.points) : QString());
        Edit_Comment->setText(k >= 0 ? m_rows[k].comment : QString());
    });
}

void CheckoutWindow::addRow(const CheckChannel &channel, QTreeWidgetItem *heading)
{
    Row row;
    row.channel = channel;
    row.item = new QTreeWidgetItem(heading, {channel.channel});
    row.item->setData(ChannelColumn, Qt::UserRole, int(m_rows.size()));
    for (const CheckPoint &p : channel.points)
        row.points.append(PointWatch{p, -1, std::nullopt, {}, false});
    m_byChannel.insert(key(channel.module, channel.channel), int(m_rows.size()));
    m_rows.append(row);
    showRow(m_rows.last());
}

// The journal read where there is one; else the technician's name asked and a journal begun.
bool CheckoutWindow::begin()
{
    m_journal = journalPath(m_site->path());
    QString error;
    if (QFileInfo::exists(m_journal)) {
        const std::optional<CheckJournal> journal = readJournal(m_journal, &error);
        if (journal)
            resume(*journal);
        else
            Prompt(m_site, QStringLiteral("Cannot read %1: %2").arg(m_journal, error));
        return bool(journal);
    }
    const QString name = (askNameSlot() ? askNameSlot()(m_site)
                                        : QInputDialog::getText(m_site, QStringLiteral("Checkout"), QStringLiteral("Technician's name:")))
                             .trimmed();
    if (name.isEmpty())
        return false;
    CheckJournal head;
    head.site = m_site->site();
    head.sitePath = m_site->path();
    head.technician = name;
    head.startedMs = QDateTime::currentMSecsSinceEpoch();
    head.toolVersion = QCoreApplication::applicationVersion();
    if (!startJournal(m_journal, head, &error)) {
        Prompt(m_site, QStringLiteral("Cannot write %1: %2").arg(m_journal, error));
        return false;
    }
    resume(head);
    return true;
}

// What the journal holds shown decided.
void CheckoutWindow::resume(const CheckJournal &journal)
{
    Label_Technician->setText(QStringLiteral("%1, begun %2").arg(journal.technician, QDateTime::fromMSecsSinceEpoch(journal.startedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    for (Row &row : m_rows) {
        const SiteModule &m = m_site->site().modules[row.channel.module];
        if (const CheckRecord *r = journal.result(m.address, row.channel.channel)) {
            row.verdict = r->verdict;
            row.values = r->verdict == Verdict::NotTested ? r->reason : r->values;
            row.comment = r->comment;
            showRow(row);
        }
    }
    say(journal.warning);
}

// The values a test has seen so far: an input's changes with their times, an analog input's
// readings within each point, an output's switching.
QString CheckoutWindow::seen(const Row &row) const
{
    QStringList parts;
    if (row.channel.kind == CheckKind::Input) {
        for (const InputWatch::Change &c : row.input.changes)
            parts << (c.on ? kOn : kOff) + QLatin1Char(' ') + clockText(c.wallMs);
    } else if (row.channel.kind == CheckKind::AnalogInput) {
        for (const PointWatch &p : row.points) {
            QString part = numberText(p.point.target) + QLatin1Char(' ') + row.channel.unit + (p.passed ? QStringLiteral(" passed") : QString());
            if (!p.seen.isEmpty())
                part += QLatin1Char(' ') + numberText(*std::min_element(p.seen.begin(), p.seen.end())) + QStringLiteral("..")
                        + numberText(*std::max_element(p.seen.begin(), p.seen.end()));
            parts << part;
        }
    } else if (row.channel.kind == CheckKind::Output && row.on) {
        parts << QStringLiteral("switched on");
        if (!row.readBack.isEmpty())
            parts << QStringLiteral("read back ") + row.readBack;
        else if (!m_site->poll().state(row.channel.module).readBack)
            parts << QStringLiteral("no read-back");
    } else {
        return row.measured.join(QStringLiteral("; "));
    }
    return parts.join(QStringLiteral(", "));
}

void CheckoutWindow::showRow(const Row &row)
{
    QTreeWidgetItem *item = row.item;
    const CheckChannel &c = row.channel;
    QString test = checkKindText(c.kind);
    if (c.kind == CheckKind::AnalogInput || c.kind == CheckKind::AnalogOutput)
        test += c.points.isEmpty() ? QStringLiteral(": type its points (P)") : QStringLiteral(" %1 %2").arg(pointsText(c.points), c.unit);
    item->setText(TagColumn, c.tag);
    item->setText(TestColumn, test);
    QString values = row.verdict == Verdict::Untested ? seen(row) : row.values;
    if (row.verdict == Verdict::Untested && !row.now.isEmpty())
        values = QStringLiteral("now ") + row.now + (values.isEmpty() ? QString() : QStringLiteral("; ") + values);
    item->setText(ValuesColumn, values);
    item->setText(VerdictColumn, verdictText(row.verdict));
    item->setForeground(VerdictColumn, row.verdict == Verdict::Fail ? QColor(Qt::red) : QColor(Qt::darkGreen));
    item->setText(CommentColumn, row.comment);
}

int CheckoutWindow::current() const
{
    const QTreeWidgetItem *item = List->currentItem();
    return item ? item->data(ChannelColumn, Qt::UserRole).toInt() : -1;
}

void CheckoutWindow::select(int k)
{
    List->setCurrentItem(m_rows[k].item);
    List->scrollToItem(m_rows[k].item);
}

// Up and Down pass the headings.
void CheckoutWindow::move(int step)
{
    const int k = current();
    const int to = k < 0 ? 0 : k + step;
    if (to >= 0 && to < m_rows.size())
        select(to);
}

void CheckoutWindow::nextUntested(int from)
{
    for (int i = 1; i <= m_rows.size(); ++i) {
        const int k = int((from + i) % m_rows.size());
        if (m_rows[k].verdict == Verdict::Untested)
            return select(k);
    }
}

// The result appended to the journal, then shown; a result the journal did not take stays
// undecided, and the status says why.
bool CheckoutWindow::decide(int k, Verdict verdict, const QString &values, const QString &reason)
{
    Row &row = m_rows[k];
    const SiteModule &m = m_site->site().modules[row.channel.module];
    const CheckRecord record{QDateTime::currentMSecsSinceEpoch(), m.address, m.model, row.channel.channel, row.channel.kind,
                             row.channel.tag, verdict, values, row.comment, reason};
    QString error;
    if (!appendResult(m_journal, record, &error)) {
        say(QStringLiteral("%1 of module %2 is not recorded: %3").arg(row.channel.channel).arg(m.address).arg(error));
        return false;
    }
    row.verdict = verdict;
    row.values = verdict == Verdict::NotTested ? reason : values;
    row.now.clear();
    showRow(row);
    say(QString());
    if (k == current())
        nextUntested(k);
    return true;
}

// "Export report…": the journal as it is on the disk, as NAME.pdf, NAME.html and NAME.csv.
void CheckoutWindow::exportReport()
{
    const QString title = QStringLiteral("Export report");
    const QString filter = QStringLiteral("PDF (*.pdf)");
    QString path = askPathSlot() ? askPathSlot()(this) : QFileDialog::getSaveFileName(this, title, QString(), filter);
    if (path.isEmpty())
        return;
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path.chop(4);
    QString error;
    const std::optional<CheckJournal> journal = readJournal(m_journal, &error);
    const bool written = journal && writeReportPdf(checkoutReportHtml(*journal), path + QStringLiteral(".pdf"), &error)
                         && writeReportFiles(*journal, path + QStringLiteral(".html"), path + QStringLiteral(".csv"), &error);
    say(written ? QStringLiteral("Report written: %1.pdf, .html, .csv").arg(path) : QStringLiteral("No report: %1").arg(error));
}

void CheckoutWindow::say(const QString &text)
{
    Label_Status->setText(text);
}

bool CheckoutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int keyCode = static_cast<QKeyEvent *>(event)->key();
    if (watched == Edit_Measured) {
        if (keyCode == Qt::Key_F)
            fail();
        return keyCode == Qt::Key_F;
    }
    switch (keyCode) {
    case Qt::Key_Up: move(-1); return true;
    case Qt::Key_Down: move(1); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: pass(); return true;
    case Qt::Key_F: fail(); return true;
    case Qt::Key_Space: start(); return true;
    case Qt::Key_N: Edit_Reason->setFocus(); return true;
    case Qt::Key_C: Edit_Comment->setFocus(); return true;
    case Qt::Key_P: Edit_Points->setFocus(); return true;
    default: return QWidget::eventFilter(watched, event);
    }
}

// An output left on by an unfinished test is switched off (no verdict).
void CheckoutWindow::closeEvent(QCloseEvent *event)
{
    endTest();
    QWidget::closeEvent(event);
}
