// korvant-soak, built with the benchmark and run by hand, not by CTest: long runs. The soak
// drives a window's read handlers back to back on the in-process line, as fast as the event loop delivers the replies, and watches the resident memory. The flood pours
// random bytes at the line rate of 38400 baud into a pseudo-terminal the window polls through the
// real serial line, and checks that memory stays flat and clicks are still handled promptly.
//
// KORVANT_SOAK_EXCHANGES (default 20000) sets the exchanges per window, KORVANT_FLOOD_SECONDS
// (default 5) the length of the flood.
#include "recordingline.h"
#include "support/guitest.h" // the tests' working folder, prompt recorder and sim line

#include "analoginputwindow.h"
#include "digitalwindow.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
constexpr qint64 kMaxGrowthKb = 1024;

// Resident memory of this process in kB, from /proc/self/status.
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int fromEnvironment(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

struct SoakFigures {
    int exchanges = 0;
    int normal = 0;
    qint64 beforeKb = 0;
    qint64 afterKb = 0;
    qint64 ms = 0;
    bool stalled = false;
};

// One read exchange after another through the window's own handlers: the acquisition tick sends
// the request, the event loop brings the simulated reply, the time-out handler judges it.
template <typename W>
SoakFigures soak(W *w, int exchanges, int replyBytes)
{
    SoakFigures f;
    const int warmUp = qMin(2000, exchanges / 10);
    const qsizetype replyChars = qsizetype(replyBytes) * 3;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < exchanges; ++i) {
        if (i == warmUp) {
            f.beforeKb = residentKb();
            clock.restart();
        }
        w->TM_Acquisition_A_Timer();
        QElapsedTimer wait;
        wait.start();
        while (w->ReceiveHex().size() < replyChars) {
            QCoreApplication::processEvents();
            if (wait.elapsed() > 2000) {
                f.stalled = true;
                return f;
            }
        }
        w->TM_Overtime_A_Timer();
        ++f.exchanges;
        if (w->Text_Message->toPlainText() == kNormal)
            ++f.normal;
        // The line keeps every frame it carried for tests that look at them; that is the test
        // line's memory, not the window's.
        if (auto *line = simLine(w); line && (i & 1023) == 0)
            line->clearWrites();
    }
    QCoreApplication::processEvents();
    f.afterKb = residentKb();
    f.ms = clock.elapsed();
    return f;
}
} // namespace

class Soak : public QObject
{
    Q_OBJECT
private slots:
    void readExchanges_data();
    void readExchanges();
    void floodDuringAcquisition();
};

void Soak::readExchanges_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("replyBytes");
    QTest::newRow("digital KV5510ADAM") << "KV5510ADAM" << 6;
    QTest::newRow("analog KV1730ADAM") << "KV1730ADAM" << 21;
}

void Soak::readExchanges()
{
    QFETCH(QString, model);
    QFETCH(int, replyBytes);
    const int exchanges = fromEnvironment("KORVANT_SOAK_EXCHANGES", 20000);
    // Time-outs far longer than the run: only the handlers called below judge anything.
    GuiTestEnvironment env(shortTimingFile(60000, 60000, 60000));
    SimModule *module = env.bus.addModule(model.mid(2, 4).toInt(), 1, 2);
    module->setDiscreteInput(0, true);
    module->setDiscreteInput(2, true);
    for (int r = 0; r < 8; ++r)
        module->setHolding(r, std::uint16_t(r * 500));
    std::unique_ptr<ModuleWindow> w(createTestWindow(model));
    // The traffic rows are bounded on their own (test_core recorderRows); here the exchange path must not grow.
    w->traffic().setCapacity(100);
    QVERIFY(w);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    QVERIFY(openPort(w.get()));

    SoakFigures f;
    if (auto *digital = qobject_cast<DigitalWindow *>(w.get()))
        f = soak(digital, exchanges, replyBytes);
    else if (auto *analog = qobject_cast<AnalogInputWindow *>(w.get()))
        f = soak(analog, exchanges, replyBytes);
    QVERIFY2(!f.stalled, "a reply did not arrive");
    qInfo("%s: %d exchanges, %d judged normal, VmRSS %lld kB after warm-up, %lld kB at the end, %lld ms",
          qPrintable(model), f.exchanges, f.normal, f.beforeKb, f.afterKb, f.ms);
    QCOMPARE(f.exchanges, exchanges);
    QCOMPARE(f.normal, exchanges);
    QVERIFY2(f.afterKb - f.beforeKb < kMaxGrowthKb,
             qPrintable(QStringLiteral("grew by %1 kB").arg(f.afterKb - f.beforeKb)));
    QVERIFY(env.messages.isEmpty());
}

void Soak::floodDuringAcquisition()
{
    const int seconds = fromEnvironment("KORVANT_FLOOD_SECONDS", 5);
    GuiTestEnvironment env(shortTimingFile(40, 100, 50));

    // The far end of the line is ours: a pseudo-terminal linked as sys/COM1.
    int master = -1, slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    const auto closeFds = qScopeGuard([&] {
        ::close(master);
        ::close(slave);
    });
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    QVERIFY(QFile::link(QString::fromLocal8Bit(::ptsname(master)), env.path() + QStringLiteral("/sys/COM1")));
    // The real QSerialPort line, its bytes counted on their way to the window.
    static LineTimes times; // the factory outlives this function
    times = {};
    setSerialLineFactory([] { return std::make_unique<RecordingLine>(makeProgramLine(), &times); });

    std::unique_ptr<DigitalWindow> w(static_cast<DigitalWindow *>(createTestWindow(QStringLiteral("KV5510ADAM"))));
    w->traffic().setCapacity(100);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    QVERIFY2(openPort(w.get()), qPrintable(env.messages.join(QLatin1Char('|'))));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);

    // The requests the window sends are read and dropped, as a line without modules would.
    qint64 requestBytes = 0;
    QSocketNotifier drain(master, QSocketNotifier::Read);
    connect(&drain, &QSocketNotifier::activated, &drain, [&] {
        char buf[256];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            requestBytes += n;
    });

    // 38400 baud, 10 bits a byte: 3840 random bytes a second, topped up every 10 ms.
    QRandomGenerator random(4711);
    qint64 noiseBytes = 0;
    QElapsedTimer run;
    run.start();
    QTimer noise;
    noise.setTimerType(Qt::PreciseTimer);
    connect(&noise, &QTimer::timeout, &noise, [&] {
        const qint64 owed = run.elapsed() * 3840 / 1000 - noiseBytes;
        QByteArray bytes(owed, Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        const ssize_t n = ::write(master, bytes.constData(), size_t(bytes.size()));
        if (n > 0)
            noiseBytes += n;
    });
    noise.start(10);

    // Every 200 ms a click on the first output indicator is posted; the time until the window
    // handles it is the latency the user would feel.
    qint64 postedAt = -1, maxLatency = 0;
    int clicks = 0;
    connect(w->DO_SHOW[0], &ClickLabel::clicked, w.get(), [&] {
        if (postedAt >= 0)
            maxLatency = qMax(maxLatency, run.elapsed() - postedAt);
        postedAt = -1;
        ++clicks;
    });
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, &clicker, [&] {
        const QPointF at(2, 2);
        postedAt = run.elapsed();
        QCoreApplication::postEvent(w->DO_SHOW[0], new QMouseEvent(QEvent::MouseButtonPress, at, w->DO_SHOW[0]->mapToGlobal(at),
                                                                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(w->DO_SHOW[0], new QMouseEvent(QEvent::MouseButtonRelease, at, w->DO_SHOW[0]->mapToGlobal(at),
                                                                   Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    });
    clicker.start(200);

    const qint64 &receivedBytes = times.receivedBytes;

    int normal = 0, error = 0;
    connect(w->Text_Message, &TextBox::textChanged, w.get(), [&] {
        const QString t = w->Text_Message->toPlainText();
        normal += t == kNormal;
        error += t == QStringLiteral("Communication Data Error！");
    });

    // The flood runs for its set time with the event loop serving window and line alike: a fifth
    // of it (at least a second) to warm up, then memory is watched to the end.
    const auto runFor = [&run](qint64 untilMs) {
        QEventLoop loop;
        QTimer::singleShot(int(qMax<qint64>(0, untilMs - run.elapsed())), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runFor(qMax<qint64>(1000, seconds * 200));
    const qint64 beforeKb = residentKb();
    runFor(qint64(seconds) * 1000);
    noise.stop();
    clicker.stop();
    const qint64 afterKb = residentKb();

    qInfo("flood %lld ms: %lld noise bytes sent, %lld received, %lld request bytes out, %d judged normal, %d error, "
          "VmRSS %lld kB after warm-up, %lld kB at the end, %d clicks, max click latency %lld ms",
          run.elapsed(), noiseBytes, receivedBytes, requestBytes, normal, error, beforeKb, afterKb, clicks, maxLatency);
    QVERIFY(w->portIsOpen());
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QVERIFY(error > 0);
    QVERIFY(noiseBytes >= qint64(seconds) * 3840 * 9 / 10);
    // All of the noise reached the window (what was still in the pseudo-terminal at the end aside).
    QVERIFY(receivedBytes >= noiseBytes - 4096);
    QVERIFY(clicks >= seconds * 5 - 2);
    QVERIFY2(maxLatency < 100, qPrintable(QStringLiteral("%1 ms").arg(maxLatency)));
    QVERIFY2(afterKb - beforeKb < kMaxGrowthKb, qPrintable(QStringLiteral("grew by %1 kB").arg(afterKb - beforeKb)));
    QVERIFY(env.messages.isEmpty());
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTest::mouseClick(w->Command_Port, Qt::LeftButton);
}

QTEST_MAIN(Soak)
#include "soak.moc"
