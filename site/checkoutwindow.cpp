#include "checkoutwindow.h"

#include "conversions.h"
#include "prompt.h"
#include "trafficlog.h"
#include "sitewindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
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

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

QPushButton *button(const QString &text, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus); // the list keeps the keyboard
    return b;
}

QLineEdit *edit(const QString &name, const QString &placeholder, QWidget *parent)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setPlaceholderText(placeholder);
    return e;
}

QString key(int module, const QString &channel)
{
    return QString::number(module) + QLatin1Char('/') + channel;
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

QString pointsText(const QVector<CheckPoint> &points)
{
    QStringList parts;
    for (const CheckPoint &p : points)
        parts << number(p.target) + QStringLiteral(" ±") + number(p.tolerance);
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
    Label_Technician = new QLabel(this);
    Label_Technician->setObjectName(QStringLiteral("Label_Technician"));
    Label_Status = new QLabel(this);
    Label_Status->setObjectName(QStringLiteral("Label_Status"));
    Label_Status->setWordWrap(true);
    head->addWidget(Label_Technician);
    head->addWidget(Label_Status, 1);
    box->addLayout(head);
    List = new QTreeWidget(this);
    List->setObjectName(QStringLiteral("List_Channels"));
    List->setHeaderLabels({QStringLiteral("Channel"), QStringLiteral("Tag"), QStringLiteral("Test"), QStringLiteral("Values"),
                           QStringLiteral("Verdict"), QStringLiteral("Comment")});
    List->setRootIsDecorated(false);
    List->setItemsExpandable(false);
    List->installEventFilter(this);
    box->addWidget(List, 1);
    auto *grid = new QGridLayout;
    Command_Test = button(QStringLiteral("Start test (Space)"), QStringLiteral("Command_Test"), this);
    Command_Pass = button(QStringLiteral("Pass (Enter)"), QStringLiteral("Command_Pass"), this);
    Command_Fail = button(QStringLiteral("Fail (F)"), QStringLiteral("Command_Fail"), this);
    Command_NotTested = button(QStringLiteral("Not tested (N)"), QStringLiteral("Command_NotTested"), this);
    Command_Report = button(QStringLiteral("Export report…"), QStringLiteral("Command_Report"), this);
    Edit_Points = edit(QStringLiteral("Edit_Points"), QStringLiteral("points (P): 4 ±0.2, 12 ±0.2"), this);
    Edit_Measured = edit(QStringLiteral("Edit_Measured"), QStringLiteral("measured; Enter alone confirms"), this);
    Edit_Comment = edit(QStringLiteral("Edit_Comment"), QStringLiteral("comment (C)"), this);
    Edit_Reason = edit(QStringLiteral("Edit_Reason"), QStringLiteral("why not tested (N)"), this);
    const QList<QWidget *> buttons{Command_Test, Command_Pass, Command_Fail, Command_NotTested, Command_Report};
    for (int i = 0; i < buttons.size(); ++i)
        grid->addWidget(buttons[i], 0, i);
    grid->addWidget(Edit_Points, 1, 0, 1, 2);
    grid->addWidget(Edit_Measured, 1, 2);
    grid->addWidget(Edit_Comment, 1, 3);
    grid->addWidget(Edit_Reason, 1, 4);
    box->addLayout(grid);
    connect(Command_Test, &QPushButton::clicked, this, &CheckoutWindow::start);
    connect(Command_Pass, &QPushButton::clicked, this, &CheckoutWindow::pass);
    connect(Command_Fail, &QPushButton::clicked, this, &CheckoutWindow::fail);
    connect(Command_NotTested, &QPushButton::clicked, this, &CheckoutWindow::notTested);
    connect(Command_Report, &QPushButton::clicked, this, &CheckoutWindow::exportReport);
    connect(Edit_Points, &QLineEdit::returnPressed, this, &CheckoutWindow::points);
    connect(Edit_Measured, &QLineEdit::returnPressed, this, &CheckoutWindow::measured);
    connect(Edit_Comment, &QLineEdit::returnPressed, this, &CheckoutWindow::comment);
    connect(Edit_Reason, &QLineEdit::returnPressed, this, &CheckoutWindow::notTested);
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

// The values of an accepted read fed to the undecided inputs' watches; an output's read-back kept.
void CheckoutWindow::heard(const SiteRequest &request, bool accepted)
{
    if (!accepted)
        return;
    const SiteModuleState &s = m_site->poll().state(request.module);
    const QVector<ValueRow> values = request.kind == SiteRequest::Read ? s.reads.value(request.read)
                                     : request.kind == SiteRequest::ReadBack ? s.readBackRows : QVector<ValueRow>();
    for (const ValueRow &value : values) {
        const int k = m_byChannel.value(key(request.module, value.channel), -1);
        if (k < 0)
            continue;
        Row &row = m_rows[k];
        if (request.kind == SiteRequest::ReadBack) {
            if (k == m_test)
                row.readBack = value.text;
        } else if (row.verdict == Verdict::Untested && row.channel.kind == CheckKind::Input) {
            hearInput(k, value);
        } else if (row.verdict == Verdict::Untested && row.channel.kind == CheckKind::AnalogInput) {
            hearAnalog(k, value);
        }
    }
}

void CheckoutWindow::hearInput(int k, const ValueRow &value)
{
    Row &row = m_rows[k];
    const qsizetype changes = row.input.changes.size();
    row.input.heard(value.value == 1.0, value.wallMs);
    if (row.input.changes.size() == changes)
        return;
    showRow(row);
    if (row.input.passed())
        decide(k, Verdict::Pass, seen(row));
}

void CheckoutWindow::hearAnalog(int k, const ValueRow &value)
{
    Row &row = m_rows[k];
    bool passed = !row.points.isEmpty();
    for (PointWatch &point : row.points) {
        point.heard(value.value, value.wallMs);
        passed = passed && point.passed;
    }
    row.now = value.text;
    showRow(row);
    if (passed)
        decide(k, Verdict::Pass, seen(row));
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
            QString part = number(p.point.target) + QLatin1Char(' ') + row.channel.unit + (p.passed ? QStringLiteral(" passed") : QString());
            if (!p.seen.isEmpty())
                part += QLatin1Char(' ') + number(*std::min_element(p.seen.begin(), p.seen.end())) + QStringLiteral("..")
                        + number(*std::max_element(p.seen.begin(), p.seen.end()));
            parts << part;
        }
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
        values = QStringLiteral("now %1; %2").arg(row.now, values);
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

// Space: an output switched on (that one alone), or the analog output set to its first point.
void CheckoutWindow::start()
{
    const int k = current();
    if (k < 0)
        return;
    Row &row = m_rows[k];
    if (m_test >= 0)
        return say(QStringLiteral("First pass (Enter) or fail (F) %1").arg(m_rows[m_test].channel.channel));
    if (row.channel.kind == CheckKind::Output) {
        if (!m_site->setOutput(row.channel.module, row.channel.index + 1, true))
            return say(QStringLiteral("%1 cannot be switched: its module has not answered as its model").arg(row.channel.channel));
        m_test = k;
        row.readBack.clear();
        row.measured = {QStringLiteral("switched on")};
        showRow(row);
        return say(QStringLiteral("%1 is on: Enter passes, F fails").arg(row.channel.channel));
    }
    if (row.channel.kind != CheckKind::AnalogOutput)
        return say(QStringLiteral("%1 passes by itself; F fails it").arg(row.channel.channel));
    if (row.channel.points.isEmpty())
        return say(QStringLiteral("Type the points of %1 first (P)").arg(row.channel.channel));
    row.before = m_site->poll().state(row.channel.module).analogOutput;
    row.point = 0;
    row.measured.clear();
    m_test = k;
    setPoint(row);
}

void CheckoutWindow::setPoint(Row &row)
{
    const CheckPoint &p = row.channel.points[row.point];
    const auto microamps = std::uint16_t(qBound(0, qRound(p.target * 1000), 20000));
    if (!m_site->setAnalogOutput(row.channel.module, microamps)) {
        m_test = -1;
        return say(QStringLiteral("%1 cannot be set: its module has not answered as its model").arg(row.channel.channel));
    }
    say(QStringLiteral("%1 set to %2 mA: type what the meter shows and Enter (Enter alone confirms), F fails").arg(row.channel.channel, number(p.target)));
    Edit_Measured->clear();
    Edit_Measured->setFocus();
}

// Enter: the output under test passes, the analog output's point is confirmed.
void CheckoutWindow::pass()
{
    if (m_test >= 0 && m_rows[m_test].channel.kind == CheckKind::Output)
        return finishOutput(m_test, Verdict::Pass);
    if (m_test >= 0)
        return measured();
    if (const int k = current(); k >= 0)
        say((m_rows[k].channel.kind == CheckKind::Output || m_rows[k].channel.kind == CheckKind::AnalogOutput
                 ? QStringLiteral("Space starts the test of %1") : QStringLiteral("%1 passes by itself; F fails it")).arg(m_rows[k].channel.channel));
}

// F: the test under way fails, or the selected channel.
void CheckoutWindow::fail()
{
    if (m_test >= 0 && m_rows[m_test].channel.kind == CheckKind::Output)
        return finishOutput(m_test, Verdict::Fail);
    if (m_test >= 0)
        return finishAnalog(m_test, Verdict::Fail);
    if (const int k = current(); k >= 0)
        decide(k, Verdict::Fail, seen(m_rows[k]));
}

// The analog output's point measured (within its tolerance passes) or confirmed (nothing typed).
void CheckoutWindow::measured()
{
    if (m_test < 0 || m_rows[m_test].channel.kind != CheckKind::AnalogOutput)
        return;
    Row &row = m_rows[m_test];
    const CheckPoint &p = row.channel.points[row.point];
    const QString text = Edit_Measured->text().trimmed();
    bool ok = true;
    const double value = text.toDouble(&ok);
    if (!text.isEmpty() && !ok)
        return say(QStringLiteral("Type the measured value in mA, or nothing to confirm"));
    row.measured << number(p.target) + QStringLiteral(" mA: ") + (text.isEmpty() ? QStringLiteral("confirmed") : number(value));
    showRow(row);
    if (!text.isEmpty() && qAbs(value - p.target) > p.tolerance)
        return finishAnalog(m_test, Verdict::Fail);
    if (++row.point < row.channel.points.size())
        return setPoint(row);
    finishAnalog(m_test, Verdict::Pass);
}

void CheckoutWindow::finishOutput(int k, Verdict verdict)
{
    Row &row = m_rows[k];
    m_site->setOutput(row.channel.module, row.channel.index + 1, false);
    m_test = -1;
    QString values = QStringLiteral("switched on");
    if (!row.readBack.isEmpty())
        values += QStringLiteral(", read back ") + row.readBack;
    else if (!m_site->poll().state(row.channel.module).readBack)
        values += QStringLiteral(", no read-back");
    decide(k, verdict, values);
}

void CheckoutWindow::finishAnalog(int k, Verdict verdict)
{
    Row &row = m_rows[k];
    m_site->setAnalogOutput(row.channel.module, row.before.value_or(0));
    m_test = -1;
    Edit_Measured->clear();
    List->setFocus();
    decide(k, verdict, seen(row));
}

// N: the selected channel "Not tested", with the reason typed.
void CheckoutWindow::notTested()
{
    const int k = current();
    const QString reason = Edit_Reason->text().trimmed();
    if (k < 0)
        return;
    if (reason.isEmpty()) {
        Edit_Reason->setFocus();
        return say(QStringLiteral("Type why %1 is not tested, then Enter").arg(m_rows[k].channel.channel));
    }
    if (k == m_test)
        return say(QStringLiteral("First pass (Enter) or fail (F) %1").arg(m_rows[k].channel.channel));
    List->setFocus();
    if (decide(k, Verdict::NotTested, QString(), reason))
        Edit_Reason->clear();
}

// C: the comment goes with the selected channel's verdict; a decided channel's is recorded again.
void CheckoutWindow::comment()
{
    const int k = current();
    List->setFocus();
    if (k < 0)
        return;
    Row &row = m_rows[k];
    row.comment = Edit_Comment->text().trimmed();
    showRow(row);
    if (row.verdict != Verdict::Untested)
        decide(k, row.verdict, row.verdict == Verdict::NotTested ? QString() : row.values, row.verdict == Verdict::NotTested ? row.values : QString());
}

// P: an analog channel's points as typed; its watches begin again.
void CheckoutWindow::points()
{
    const int k = current();
    if (k < 0 || k == m_test)
        return;
    const std::optional<QVector<CheckPoint>> points = pointsFromText(Edit_Points->text());
    if (!points)
        return say(QStringLiteral("Points are typed as 4 ±0.2, 12 ±0.2 (or +- for ±)"));
    Row &row = m_rows[k];
    row.channel.points = *points;
    row.points.clear();
    for (const CheckPoint &p : *points)
        row.points.append(PointWatch{p, -1, std::nullopt, {}, false});
    showRow(row);
    say(QString());
    List->setFocus();
}

void CheckoutWindow::exportReport()
{
    say(QStringLiteral("The report is not written by this version"));
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
    if (m_test >= 0 && m_rows[m_test].channel.kind == CheckKind::Output)
        m_site->setOutput(m_rows[m_test].channel.module, m_rows[m_test].channel.index + 1, false);
    else if (m_test >= 0)
        m_site->setAnalogOutput(m_rows[m_test].channel.module, m_rows[m_test].before.value_or(0));
    m_test = -1;
    QWidget::closeEvent(event);
}
