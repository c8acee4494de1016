// korvant-sim as a child process for end-to-end tests: started in a scratch folder (its sys/COM1
// is the simulator's pseudo-terminal), stopped and cleaned up whatever the test did.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class SimProcess
{
public:
    static QString program() { return QStringLiteral(KORVANT_BINARY_DIR "/sim/korvant-sim"); }

    SimProcess() { QDir(dir.path()).mkdir(QStringLiteral("sys")); }
    // Started at once (as start() does); a simulator that does not start fails the test.
    explicit SimProcess(const QStringList &args, int port = 1) : SimProcess()
    {
        if (!start(args, port))
            QTest::qFail(qPrintable(QStringLiteral("korvant-sim did not start: ") + log()), __FILE__, __LINE__);
    }
    ~SimProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                kill();
        }
    }

    QString link(int port = 1) const { return dir.filePath(QStringLiteral("sys/COM%1").arg(port)); }

    // Starts the simulator with these options and waits until its link is in place.
    bool start(const QStringList &args, int port = 1)
    {
        if (!dir.isValid())
            return false;
        const QStringList options{QStringLiteral("--dir"), dir.path(), QStringLiteral("--port"), QString::number(port)};
        process.start(program(), options + args);
        const auto linked = [&] { return QFileInfo(link(port)).isSymLink(); };
        return process.waitForStarted(10000)
               && QTest::qWaitFor([&] { return linked() || process.state() != QProcess::Running; }, 10000) && linked();
    }

    // Starts the simulator on a free TCP port of the loopback address instead (as: --tcp or --mbap);
    // its tcp:// or mbap:// target.
    QString startTcp(const QStringList &args, const QString &as = QStringLiteral("--tcp"))
    {
        process.setReadChannel(QProcess::StandardError);
        process.start(program(), QStringList{as, QStringLiteral("127.0.0.1:0")} + args);
        static const QRegularExpression served(QStringLiteral("serving ((tcp|mbap)://\\S+)"));
        while (process.waitForReadyRead(10000))
            if (const auto m = served.match(log()); m.hasMatch())
                return m.captured(1);
        return {};
    }

    // Ends the simulator at once, as a pulled adapter would.
    void kill()
    {
        process.kill();
        process.waitForFinished(5000);
        QFile::remove(link());
    }

    // Everything the simulator logged so far (requests and replies as hex text).
    QString log() { return m_log += QString::fromLocal8Bit(process.readAllStandardError()); }

    QTemporaryDir dir;
    QProcess process;

private:
    QString m_log;
};
