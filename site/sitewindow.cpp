#include "sitewindow.h"

#include "checkoutwindow.h"
#include "linesettings.h"
#include "models.h"
#include "ports.h"
#include "prompt.h"
#include "serialports.h"
#include "sitetile.h"
#include "trendwindow.h"

#include <QAction>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QResizeEvent>

#include <chrono>

namespace {
const QString kStart = QStringLiteral("Start");
const QString kStop = QStringLiteral("Stop");
const QString kLog = QStringLiteral("Log values…");
const QString kStopLog = QStringLiteral("Stop log");
constexpr int kLeft = 2640; // the tiles and buttons beside the serial frame (twips)
constexpr int kTilesTop = 660;

SiteWindow::AskPath &askPathSlot()
{
    static SiteWindow::AskPath ask;
    return ask;
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
} // namespace

void SiteWindow::setAskPath(AskPath ask)
{
    askPathSlot() = std::move(ask);
}

SiteWindow::SiteWindow(const Site &site, const QString &path, QWidget *parent)
    : ModuleWindow(QStringLiteral("SiteWindow"), QStringLiteral("Site - ") + site.name, 12600, 7080, parent),
      m_site(site), m_path(path), m_poll(site)
{
    TM_Request = named(new QTimer(this), QStringLiteral("TM_Request"));
    TM_Request->setSingleShot(true);
    TM_Request->setTimerType(Qt::PreciseTimer);
    connect(TM_Request, &QTimer::timeout, this, &SiteWindow::judge);
    setLongestReply(64);
    describeTraffic(64, true);
    // The baud and parity boxes show the site's setting, not a choice to keep; the site window
    // resizes, unlike the module windows.
    m_writesSetRc = false;
    setMinimumSize(twips(9000), twips(5000));
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

SiteWindow::~SiteWindow() = default;

void SiteWindow::loadPanels()
{
    for (QWidget *w : std::initializer_list<QWidget *>{Combo2, Combo3, Combo4, Combo5})
        w->setEnabled(false);
    if (const int n = comPortNumber(m_site.port))
        Combo1->setCurrentIndex(n - 1);
    showCode(m_site.code);
    Command_Start = placed(new QPushButton(kStart, this), QStringLiteral("Command_Start"), kLeft, 120, 1200, 420);
    Command_Save = placed(new QPushButton(QStringLiteral("Save"), this), QStringLiteral("Command_Save"), kLeft + 1320, 120, 1200, 420);
    Command_Log = placed(new QPushButton(kLog, this), QStringLiteral("Command_Log"), kLeft + 2640, 120, 1500, 420);
    Command_Checkout = placed(new QPushButton(QStringLiteral("Checkout…"), this), QStringLiteral("Command_Checkout"), kLeft + 4260, 120, 1500, 420);
    Label_Status = placed(new QLabel(this), QStringLiteral("Label_Status"), kLeft + 5880, 120, 4000, 420);
    connect(Command_Start, &QPushButton::clicked, this, &SiteWindow::Command_Start_Click);
    connect(Command_Save, &QPushButton::clicked, this, &SiteWindow::save);
    connect(Command_Log, &QPushButton::clicked, this, &SiteWindow::logValues);
    connect(Command_Checkout, &QPushButton::clicked, this, &SiteWindow::openCheckout);
    if (!comPortNumber(m_site.port)) {
        // A device path or a tcp:// target: the port box has no entry for it; "Open Port" opens it.
        Combo1->setEnabled(false);
        Label_Status->setText(QStringLiteral("Port %1").arg(m_site.port));
        disconnect(Command_Port, &QPushButton::clicked, this, nullptr);
        connect(Command_Port, &QPushButton::clicked, this, [this] { portIsOpen() ? Command_Port_Click() : void(openAt(m_shownCode)); });
    } else {
        // After the serial group's own handler: the line is open at the setting the boxes show.
        connect(Command_Port, &QPushButton::clicked, this, [this] { lineAt(m_shownCode); });
    }
    addActions();
    buildTiles();
    resize(twips(12600), twips(7080));
}

void SiteWindow::addActions()
{
    const auto action = [this](const QString &text, QKeySequence keys, auto slot) {
        auto *a = new QAction(text, this);
        a->setShortcut(keys);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
    };
    action(QStringLiteral("Save"), QKeySequence(Qt::CTRL | Qt::Key_S), [this] { save(); });
    action(QStringLiteral("Trend…"), QKeySequence(Qt::CTRL | Qt::Key_G), [this] { openTrend(); });
    action(QStringLiteral("Checkout…"), QKeySequence(Qt::CTRL | Qt::Key_K), [this] { openCheckout(); });
}

// The tiles in a grid of a fixed number of columns, so a window resized lays nothing out again.
void SiteWindow::buildTiles()
{
    Scroll = named(new QScrollArea(this), QStringLiteral("Scroll_Tiles"));
    Scroll->setWidgetResizable(true);
    auto *inner = new QWidget;
    auto *grid = new QGridLayout(inner);
    const int columns = m_site.modules.size() > 4 ? 3 : 2;
    for (int k = 0; k < m_site.modules.size(); ++k) {
        auto *tile = new SiteTile(m_site.modules[k], k, inner);
        grid->addWidget(tile, k / columns, k % columns, Qt::AlignTop);
        wireTile(tile, k);
        tiles.append(tile);
    }
    grid->setRowStretch(grid->rowCount(), 1);
    Scroll->setWidget(inner);
}

void SiteWindow::wireTile(SiteTile *tile, int k)
{
    connect(tile, &SiteTile::tagEdited, this, [this, k](const QString &tag) { m_site.modules[k].tag = tag; });
    connect(tile, &SiteTile::channelTagEdited, this, [this, k](const QString &channel, const QString &tag) {
        if (tag.isEmpty())
            m_site.modules[k].channelTags.remove(channel);
        else
            m_site.modules[k].channelTags.insert(channel, tag);
    });
    connect(tile, &SiteTile::outputClicked, this, [this, k](int output, bool on) { setOutput(k, output, on); });
    connect(tile, &SiteTile::analogSetClicked, this, [this, k](std::uint16_t microamps) { setAnalogOutput(k, microamps); });
    connect(tile, &SiteTile::moveClicked, this, [this, k] { moveToLine(k); });
    connect(tile, &SiteTile::opened, this, [this, k] { openModule(k); });
}

void SiteWindow::resizeEvent(QResizeEvent *event)
{
    ModuleWindow::resizeEvent(event);
    if (Scroll)
        Scroll->setGeometry(twips(kLeft), twips(kTilesTop), qMax(1, width() - twips(kLeft + 120)),
                            qMax(1, height() - twips(kTilesTop + 120)));
}

// The baud and parity boxes show the setting of the moment, as the finder's do.
void SiteWindow::showCode(int code)
{
    if (!isCode(code))
        return;
    const LineSettings settings = codeSettings(code);
    Combo2->setEditText(QString::number(settings.baud));
    Combo3->setEditText(parityName(settings.parity));
    setTrafficTag(communicationParameterTexts()[code - 1]);
    m_shownCode = code;
}

QString SiteWindow::linePort() const
{
    // The site's own port, or for a COM port the one the port box shows.
    return comPortNumber(m_site.port) ? QStringLiteral("COM%1").arg(portNumber()) : m_site.port;
}

// The line open at code (or not open): an exchange ends at the quiet the core's rule asks of it
// (3.5 characters and the adapter's latency timer), in whole milliseconds.
void SiteWindow::lineAt(int code)
{
    m_lineCode = portIsOpen() ? code : 0;
    // An MBAP frame says its length: nothing to wait for after it.
    const bool gateway = line()->framing().mbap();
    m_poll.setGateway(gateway);
    if (m_lineCode)
        m_quietMs = gateway ? 0 : int((replyQuietUs(codeSettings(code).baud, adapterLatencyMs(resolvePort(linePort()).device)) + 999) / 1000);
}

bool SiteWindow::openAt(int code)
{
    showCode(code);
    const bool ok = line()->open(linePort(), settingsText(codeSettings(code))).ok();
    Frame1->showOpen(ok);
    lineAt(code);
    if (!ok) {
        stopPoll();
        Prompt(this, QStringLiteral("Serial fault, Please check the serial port"));
    }
    return ok;
}

void SiteWindow::Command_Start_Click()
{
    if (m_running) {
        stopPoll();
        return;
    }
    if (!portIsOpen()) {
        if (!comPortNumber(m_site.port))
            openAt(m_shownCode);
        else
            Command_Port_Click();
        lineAt(m_shownCode);
        if (!portIsOpen())
            return;
    }
    resumePoll();
}

void SiteWindow::resumePoll()
{
    m_running = true;
    Command_Start->setText(kStop);
    if (!TM_Request->isActive())
        sendNext();
}

void SiteWindow::stopPoll()
{
    m_running = false;
    m_move.reset();
    TM_Request->stop();
    if (Command_Start)
        Command_Start->setText(kStart);
}

void SiteWindow::sendNext()
{
    if (!portIsOpen() || (!m_running && !m_move))
        return;
    QByteArray frame;
    int code = 0;
    if (m_move) {
        frame = m_move->request();
        code = m_move->step() == OneModuleWrite::Step::Verify ? m_poll.site().code : m_poll.site().modules[m_moveModule].code;
    } else {
        m_request = m_poll.next();
        if (m_request.kind == SiteRequest::None)
            return stopPoll();
        frame = m_request.frame;
        code = m_request.code;
    }
    if (code != m_lineCode && !openAt(code))
        return;
    m_exchange = Exchange(frame);
    m_exchange.echoKnown = echoKnown();
    clearExchange();
    applyExchange(CycleAction(CycleAction::Send, frame));
    m_exchange.framing = line()->framing();
    m_sentNs = nowNs();
    m_lastByteNs = 0;
    TM_Request->start(siteTimeoutMs(frame, code));
}

// A complete reply is judged after a short quiet: bytes within it still make it too long.
void SiteWindow::onBytes()
{
    m_lastByteNs = nowNs();
    if (TM_Request->isActive() && m_exchange.complete(received()))
        TM_Request->start(m_quietMs);
}

void SiteWindow::judge()
{
    m_exchange.judge(received());
    recordVerdict(m_exchange.verdict, int(m_exchange.echo.size()), m_exchange.echoKnown);
    if (m_move) {
        moveHeard();
    } else if (m_running) {
        const double responseMs = m_lastByteNs ? double(m_lastByteNs - m_sentNs) / 1e6 : -1;
        m_poll.heard(m_exchange, responseMs, WindowValues::now());
        took(m_request);
        emit exchanged(m_request, m_exchange.accepted());
    }
    sendNext();
}

// A module's tile shown again, and an accepted read's values to the log and the trend.
void SiteWindow::took(const SiteRequest &r)
{
    tiles[r.module]->refresh(m_poll);
    Label_Status->setText(QStringLiteral("round %1").arg(m_poll.round() + 1));
    if (!m_exchange.accepted() || (r.kind != SiteRequest::Read && r.kind != SiteRequest::ReadBack))
        return;
    const SiteModuleState &s = m_poll.state(r.module);
    QVector<ValueRow> rows = r.kind == SiteRequest::Read ? s.reads.value(r.read) : s.readBackRows;
    if (rows.isEmpty())
        return;
    const SiteModule &m = m_site.modules[r.module];
    QByteArray lines;
    for (ValueRow &row : rows) {
        row.tag = m.channelTags.value(row.channel);
        lines += (siteCsvLine(row, m.tag) + QLatin1Char('\n')).toUtf8();
    }
    if (m_log)
        m_log->write(lines, int(rows.size()), rows.first().wallMs);
    // The trend's channels are named by the module's address, the channel and its tag.
    for (ValueRow &row : rows) {
        row.window = windowTitle();
        row.channel = QStringLiteral("%1 %2 %3").arg(m.address).arg(row.channel, row.tag).trimmed();
    }
    m_values.add(rows);
}

bool SiteWindow::setOutput(int module, int output, bool on)
{
    return m_poll.setOutput(module, output, on);
}

bool SiteWindow::setAnalogOutput(int module, std::uint16_t microamps)
{
    return m_poll.setAnalogOutput(module, microamps);
}

void SiteWindow::moveToLine(int k)
{
    if (!portIsOpen() || m_move)
        return;
    m_move = m_poll.moveToLine(k);
    m_moveModule = k;
    if (!TM_Request->isActive())
        sendNext();
}

void SiteWindow::moveHeard()
{
    m_move->heard(m_exchange.verdict);
    if (m_move->step() != OneModuleWrite::Step::Done)
        return;
    const int k = m_moveModule;
    const OneModuleWrite plan = *m_move;
    m_move.reset();
    if (plan.outcome() == OneModuleWrite::Outcome::Written) {
        m_poll.moved(k);
        m_site.modules[k].code = m_poll.site().modules[k].code;
    } else {
        Prompt(this, plan.refusal().isEmpty() ? m_exchange.verdict.reason() : plan.refusal());
    }
    tiles[k]->refresh(m_poll);
}

bool SiteWindow::save()
{
    QString error;
    if (writeSite(m_site, m_path, &error))
        return true;
    Prompt(this, QStringLiteral("Cannot write %1: %2").arg(m_path, error));
    return false;
}

void SiteWindow::logValues()
{
    if (m_log) {
        m_log.reset();
        Command_Log->setText(kLog);
        return;
    }
    const QString title = QStringLiteral("Log values");
    const QString filter = QStringLiteral("CSV (*.csv)");
    QString path = askPathSlot() ? askPathSlot()(this, title, filter) : QFileDialog::getSaveFileName(this, title, QString(), filter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        path += QStringLiteral(".csv");
    m_log = std::make_unique<LogFile>(path, QStringLiteral("value log"), (kSiteCsvHeader + QLatin1Char('\n')).toUtf8(),
                                      [this](const QString &message) { Prompt(this, message); });
    Command_Log->setText(kStopLog);
}

TrendWindow *SiteWindow::openTrend()
{
    if (!m_trend) {
        m_trend = new TrendWindow(&m_values.startTrend(), &m_values, windowTitle(), Conversion::None, this);
        m_trend->setAttribute(Qt::WA_DeleteOnClose);
    }
    showRaised(m_trend);
    return m_trend;
}

CheckoutWindow *SiteWindow::openCheckout()
{
    if (!m_checkout) {
        auto *w = new CheckoutWindow(this);
        if (!w->ready()) {
            delete w;
            return nullptr;
        }
        m_checkout = w;
    }
    if (!m_running)
        Command_Start_Click();
    showRaised(m_checkout);
    return m_checkout;
}

void SiteWindow::openModule(int k)
{
    const SiteModule &m = m_poll.site().modules[k];
    if (!findModel(m.model) || !s_openWindow)
        return;
    // A module's window opens its port by number: the COMn the Ports dialog gave this target.
    const int port = comPortNumber(m_site.port) ? portNumber() : comNumberFor(m_site.port);
    if (!port) {
        Prompt(this, QStringLiteral("No COM port stands for %1: give it one in Ports… to open a module's window")
                             .arg(m_site.port));
        return;
    }
    m_resume = m_running;
    stopPoll();
    if (portIsOpen()) {
        line()->close();
        Frame1->showOpen(false);
        m_lineCode = 0;
    }
    hide();
    ModuleWindow *w = handOver(m.model, port, baudForCode(m.code), parityForCode(m.code), m.address);
    if (!w)
        return comeBack();
    // That window brings the site back when it closes, instead of Main.
    WindowHooks hooks = w->hooks();
    hooks.showMain = [site = QPointer<SiteWindow>(this)] {
        if (site)
            site->comeBack();
    };
    w->setHooks(std::move(hooks));
}

void SiteWindow::comeBack()
{
    showRaised(this);
    if (!portIsOpen() && !openAt(m_shownCode))
        return;
    if (std::exchange(m_resume, false))
        resumePoll();
}

SiteWindow *createSiteWindow(const QString &path, QWidget *parent)
{
    QString error;
    const std::optional<Site> site = readSite(path, &error);
    if (!site) {
        Prompt(parent, error);
        return nullptr;
    }
    auto *w = new SiteWindow(*site, path, parent);
    w->Form_Load();
    return w;
}
