// The real serial line against a pseudo-terminal that stands in for the adapter: the test holds
// the master side, the line opens the slave through the sys/COM1 link. The TCP line against a
// listening socket the test holds, as a serial device server.
#include "qserialline.h"
#include "tcpline.h"
#include "serialports.h"
#include "support/fakesystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pty and a scratch working folder with sys/COM1 linked to the slave. Everything is undone on
// destruction, whatever the test did.
struct PtyFolder {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    int master = -1;
    QString slaveName;

    bool setUp()
    {
        if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !QDir().mkpath(QStringLiteral("sys")))
            return false;
        int slave = -1;
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        slaveName = QString::fromLocal8Bit(name);
        ::close(slave);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        return QFile::link(slaveName, QStringLiteral("sys/COM1"));
    }

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    ~PtyFolder()
    {
        closeMaster();
        QDir::setCurrent(previous);
    }
};

} // namespace

class TestQSerialLine : public QObject
{
    Q_OBJECT
private slots:
    // The letters of a settings text as QSerialPort values: "Even" must never open with odd parity.
    void settingsAsTheSerialPortTakesThem()
    {
        const QList<QPair<char, QSerialPort::Parity>> parities{{'N', QSerialPort::NoParity}, {'E', QSerialPort::EvenParity},
            {'O', QSerialPort::OddParity}, {'M', QSerialPort::MarkParity}, {'S', QSerialPort::SpaceParity}};
        for (const auto &[letter, parity] : parities)
            QCOMPARE(serialPortSettings(LineSettings{9600, letter, 8, 1}).parity, parity);
        const SerialPortSettings p = serialPortSettings(LineSettings{19200, 'N', 7, 2});
        QVERIFY(p.baud == 19200 && p.dataBits == QSerialPort::Data7 && p.stopBits == QSerialPort::TwoStop);
    }

    // Opened through sys/COM1 at the speed asked for, raw 8-bit bytes written; a second line finds
    // the port in use until the first closes; missing devices and bad settings; the adapter pulled.
    void onAPseudoTerminal()
    {
        PtyFolder pty;
        QVERIFY(pty.setUp());
        QSerialLine line, second;
        QCOMPARE(line.deviceName(1), pty.slaveName);
        QVERIFY(line.probe(1).ok());
        // A pseudo-terminal has no parity; even parity still opens it (the simulator's case).
        termios t{};
        for (const auto &[settings, speed] : {std::pair{"9600,N,8,1", B9600}, {"38400,N,8,1", B38400}, {"19200,E,8,1", B19200}}) {
            const SerialLine::Result r = line.open(1, QString::fromLatin1(settings));
            QVERIFY2(r.ok() && line.isOpen(), qPrintable(r.detail));
            QCOMPARE(::tcgetattr(pty.master, &t), 0);
            QCOMPARE(::cfgetospeed(&t), speed_t(speed));
        }
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(t.c_lflag & (ICANON | ECHO)));
        const QByteArray frame = QByteArray::fromHex("010F000000040105FE95");
        line.write(frame);
        // Read from the master until the frame came or 5 s passed; QSerialPort writes from the event
        // loop, so the loop keeps running meanwhile (a short read shows in the comparison).
        QByteArray got;
        char buf[256];
        static_cast<void>(QTest::qWaitFor([&] {
            for (ssize_t r; (r = ::read(pty.master, buf, sizeof buf)) > 0;)
                got.append(buf, r);
            return got.size() >= frame.size();
        }, 5000));
        QCOMPARE(got, frame);

        using Fault = SerialLine::Fault;
        const QString settings = QStringLiteral("9600,N,8,1");
        QVERIFY2(second.probe(1).detail.contains(QStringLiteral("another window")), qPrintable(second.probe(1).detail));
        QCOMPARE((QList<Fault>{second.probe(1).fault, second.open(1, settings).fault, line.probe(1).fault}), QList<Fault>(3, Fault::InUse));
        line.close();

        QVERIFY(QFile::link(QDir::current().filePath(QStringLiteral("sys/nothing-here")), QStringLiteral("sys/COM2")));
        QCOMPARE((QList<Fault>{line.probe(2).fault, line.open(2, settings).fault, line.probe(0).fault, line.open(1, "9600,X,8,1").fault}),
                 (QList<Fault>{Fault::DoesNotExist, Fault::DoesNotExist, Fault::DoesNotExist, Fault::Other}));
        QVERIFY(!line.isOpen());

        QVERIFY(second.open(1, settings).ok());
        QSignalSpy failed(&second, &SerialLine::failed);
        pty.closeMaster();
        QVERIFY2(failed.wait(5000), "closing the master was not reported as a failed line");
        QVERIFY(!second.isOpen());
        QVERIFY(!failed.wait(300));
        QCOMPARE(failed.size(), 1);
    }

    // The device server drops the connection twice; the line closes and lets the server go; the
    // line closes and the server drops it while it lingers: each time the line opens the same
    // target again, on a new connection that carries frames both ways; a loss while open is one
    // failure each.
    void tcpReconnectsToTheSameTarget()
    {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const auto closeServer = qScopeGuard([server] { ::close(server); });
        sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        socklen_t size = sizeof address;
        QVERIFY(::bind(server, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(server, 4) == 0
                && ::getsockname(server, reinterpret_cast<sockaddr *>(&address), &size) == 0);
        const auto ready = [](int fd) { pollfd p{fd, POLLIN, 0}; return ::poll(&p, 1, 5000) == 1; };
        TcpLine line;
        QSignalSpy failed(&line, &SerialLine::failed);
        QByteArray received;
        line.setReceiver([&received](const QByteArray &bytes) { received += bytes; });
        const QByteArray frame = QByteArray::fromHex("01020000000879CC");
        for (int round = 0; round < 4; ++round) {
            QVERIFY(line.openTarget({QStringLiteral("127.0.0.1"), ntohs(address.sin_port)}, QStringLiteral("9600,N,8,1")).ok());
            QVERIFY2(line.isOpen() && ready(server), "no new connection");
            const int client = ::accept(server, nullptr, nullptr);
            line.write(frame);
            char got[8] = {};
            QVERIFY(client >= 0 && ready(client) && ::read(client, got, 8) == 8 && QByteArray(got, 8) == frame);
            received.clear();
            QVERIFY(::write(client, "\x01\x82\x01", 3) == 3);
            QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("\x01\x82\x01", 3), 5000);
            // Closed, the line lets the server go (a device server serves one client at a time).
            const auto serverSeesTheEnd = [&] { pollfd p{client, POLLIN, 0}; return ::poll(&p, 1, 0) == 1 && ::recv(client, got, 1, 0) == 0; };
            if (round >= 2)
                line.close();
            if (round == 2)
                QTRY_VERIFY_WITH_TIMEOUT(serverSeesTheEnd(), 5000);
            ::close(client);
            QVERIFY(round >= 2 || (failed.wait(5000) && !line.isOpen()));
        }
        QCOMPARE(failed.size(), 2);
    }

    // The serial devices of a small /dev, /sys and /proc laid out as the kernel lays them out: USB
    // converters with their stable names and descriptions, a PC's fitted and unfitted ttyS ports,
    // a console; and who holds a device open.
    void portsOfTheSystem()
    {
        FakeSystem fs;
        const QString usb1 = QStringLiteral("../../../devices/pci0000:00/usb1/");
        fs.usb(1, "idVendor=0403 manufacturer=FTDI product=FT232R_USB_UART serial=A50285BI", "ttyUSB0", "16");
        fs.usb(2, "idVendor=2341 manufacturer=Arduino"); // ttyACM0's node is missing
        fs.file("sys/devices/pci0000:00/usb1/1-2/1-2:1.0/interface", "CDC ACM");
        fs.link(usb1 + "1-2/1-2:1.0", "sys/class/tty/ttyACM0/device");
        fs.usb(3, "idVendor=067b", "ttyUSB9"); // only the FTDI driver has a latency timer
        fs.link(usb1 + "1-3/1-3:1.0/ttyUSB9", "sys/class/tty/ttyUSB10/device");
        for (const char *dir : {"sys/devices/pnp0/00:01", "sys/devices/platform/serial8250", "sys/class/tty/tty0"})
            fs.dir(dir);
        fs.link("../../../devices/pnp0/00:01", "sys/class/tty/ttyS0/device");
        fs.link("../../../devices/platform/serial8250", "sys/class/tty/ttyS1/device");
        fs.file("sys/class/tty/ttyS0/type", "4");
        fs.file("sys/class/tty/ttyS1/type", "0"); // no UART at this place
        for (const char *node : {"ttyUSB10", "ttyS0", "ttyS1", "tty0"})
            fs.file(QStringLiteral("dev/") + node);
        fs.link("../../ttyUSB0", "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        QVERIFY(QFile::setPermissions(fs.path("dev/ttyUSB10"), {}));

        QStringList seen;
        for (const SerialPortEntry &p : listSerialPorts(fs.path("dev"), fs.path("sys")))
            seen << QStringList{p.device, p.byId, p.description, p.manufacturer, p.serialNumber,
                                QString::number(p.exists), QString::number(p.mayOpen),
                                QString::number(adapterLatencyMs(p.device, fs.path("dev"), fs.path("sys")))}.join(QLatin1Char('|')).remove(fs.root.path());
        // Root may open anything; another user not a device without permissions (CTest runs both).
        const QString locked = ::geteuid() == 0 ? QStringLiteral("1") : QStringLiteral("0");
        // Last, the latency an exchange allows for (also through a stable name): the timer where sysfs
        // has one; 0 for a port on the machine's own bus; not known (-1) for a USB device without
        // one, and for a device without a node. (A pseudo-terminal's 0 is test_core's replyQuiet;
        // the timer as listSerialPorts reads it for doctor, test_core's portLines.)
        QCOMPARE(seen, (QStringList{"/dev/ttyACM0||CDC ACM|Arduino||0|0|-1", "/dev/ttyS0|||||1|1|0",
                                    "/dev/ttyUSB0|/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0|FT232R USB UART|FTDI|A50285BI|1|1|16",
                                    "/dev/ttyUSB9|||||1|1|-1", "/dev/ttyUSB10|||||1|" + locked + "|-1"}));
        QCOMPARE(adapterLatencyMs(fs.path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"), fs.path("dev"), fs.path("sys")), 16);

        // proc/<pid>/fd/<n> links and proc/<pid>/comm; this process itself does not count.
        for (const auto &[device, fd] : {std::pair{"ttyUSB0", QString::number(QCoreApplication::applicationPid()) + "/fd/3"},
                                         {"ttyS0", "77/fd/1"}, {"ttyUSB0", "77/fd/2"}, {"ttyUSB0", "4242/fd/5"}, {"ttyUSB9", "bus/fd/1"}})
            fs.link(fs.path(QStringLiteral("dev/") + device), "proc/" + fd);
        fs.file("proc/4242/comm", "minicom");
        QStringList holders;
        for (const char *device : {"dev/ttyUSB0", "dev/ttyS0", "dev/ttyUSB9"})
            holders << deviceHolders(fs.path(device), fs.path("proc")).join(QLatin1Char(','));
        QCOMPARE(holders, (QStringList{"a program (PID 77),minicom (PID 4242)", "a program (PID 77)", ""}));
    }

    void deviceTheUserMayNotOpen()
    {
        if (::geteuid() == 0)
            QSKIP("root opens every device; run as another user (CTest does)");
        PtyFolder folder;
        QVERIFY(folder.setUp());
        // A device that exists but belongs to others, as /dev/ttyUSB0 does to a user outside dialout.
        const QString device = QStringLiteral("/etc/shadow");
        QVERIFY(QFileInfo::exists(device) && QFile::link(device, QStringLiteral("sys/COM3")));
        const SerialLine::Result r = QSerialLine().probe(3);
        QCOMPARE(r.fault, SerialLine::Fault::Other);
        QVERIFY2(r.detail.contains(device) && r.detail.contains(QStringLiteral("dialout")), qPrintable(r.detail));
    }
};

QTEST_GUILESS_MAIN(TestQSerialLine)
#include "test_qserialline.moc"
