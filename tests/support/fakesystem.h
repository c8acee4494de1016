// A /dev, /sys and /proc laid out in a scratch folder as the kernel lays them out, for the port
// listing and the ports dialog. A file or link that cannot be made fails the test.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

struct FakeSystem {
    QTemporaryDir root;

    QString path(const QString &p) const { return root.filePath(p); }
    void dir(const QString &p) const { QVERIFY(QDir(root.path()).mkpath(p)); }
    // The file with its text and a line end (an empty file for no text), its folders made.
    void file(const QString &p, const QByteArray &text = {}) const
    {
        QFile f(path(p));
        dir(QFileInfo(p).path());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text + (text.isEmpty() ? "" : "\n")) >= 0);
    }
    void link(const QString &target, const QString &p) const
    {
        dir(QFileInfo(p).path());
        QVERIFY(QFile::link(target, path(p)));
    }
    // USB device 1-n under usb1 with its attributes ("idVendor=0403 product=FT232R_USB_UART", '_' read
    // as a blank); its tty, if any, under its interface 1-n:1.0 with the driver's latency timer, if
    // any, linked from sys/class/tty and with its node in dev/.
    void usb(int n, const QString &attributes, const QString &tty = {}, const QByteArray &latency = {}) const
    {
        const QString usb1 = QStringLiteral("sys/devices/pci0000:00/usb1/"), at = QStringLiteral("1-%1/1-%1:1.0/").arg(n) + tty;
        for (const QString &a : attributes.split(QLatin1Char(' ')))
            file(usb1 + QStringLiteral("1-%1/").arg(n) + a.section(QLatin1Char('='), 0, 0),
                 a.section(QLatin1Char('='), 1).replace(QLatin1Char('_'), QLatin1Char(' ')).toUtf8());
        if (tty.isEmpty())
            return;
        dir(usb1 + at);
        if (!latency.isEmpty())
            file(usb1 + at + QStringLiteral("/latency_timer"), latency);
        link(QStringLiteral("../../../devices/pci0000:00/usb1/") + at, QStringLiteral("sys/class/tty/%1/device").arg(tty));
        file(QStringLiteral("dev/") + tty);
    }
};
