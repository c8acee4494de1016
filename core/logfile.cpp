#include "logfile.h"

#include "valuelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

LogFile::LogFile(const QString &path, const QString &name, const QByteArray &header,
                 std::function<void(const QString &)> tell)
    : m_path(path), m_name(name), m_header(header), m_tell(std::move(tell))
{
}

LogFile::~LogFile()
{
    close();
}

void LogFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LogFile::open(int &error)
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat st{};
    m_device = ::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode);
    // A log that was open once is made again where it was, its folder too.
    if (m_opened && !m_device)
        QDir().mkpath(QFileInfo(m_path).absolutePath());
    // A pipe without a reader refuses at once instead of holding the program until one comes.
    m_fd = m_device ? ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)
                    : ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        error = errno;
        return false;
    }
    if (m_device)
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    m_opened = true;
    return true;
}

bool LogFile::replaced() const
{
    struct stat open{}, named{};
    return ::fstat(m_fd, &open) != 0 || ::stat(QFile::encodeName(m_path).constData(), &named) != 0
           || open.st_dev != named.st_dev || open.st_ino != named.st_ino;
}

int LogFile::put(const QByteArray &data, int &error)
{
    struct stat st{};
    const off_t before = m_device || ::fstat(m_fd, &st) != 0 ? 0 : st.st_size;
    // A pipe whose reader is gone fails the write instead of ending the program.
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(m_fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (error == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (done == data.size())
        return int(data.count('\n'));
    // What stays: the whole lines that went (a regular file is cut back to the last of them).
    const qsizetype kept = done > 0 ? data.lastIndexOf('\n', done - 1) + 1 : 0;
    if (!m_device && ::ftruncate(m_fd, before + off_t(kept)) != 0)
        return 0;
    return int(data.first(kept).count('\n'));
}

bool LogFile::write(const QByteArray &lines, int rows, qint64 firstMs)
{
    m_rows += rows;
    bool remade = false;
    if (m_fd >= 0 && !m_device && replaced()) {
        close();
        remade = true;
    }
    int error = 0;
    int written = 0;
    if (m_fd >= 0 || open(error)) {
        struct stat st{};
        const bool header = !m_header.isEmpty() && (m_device ? !m_headerSent : ::fstat(m_fd, &st) == 0 && st.st_size == 0);
        written = put(header ? m_header + lines : lines, error);
        if (header && written > 0) {
            m_headerSent = true;
            --written;
        }
    }
    const QString log = QStringLiteral("the %1 %2").arg(m_name, m_path);
    if (written < rows) {
        const bool first = !m_failing;
        if (first) {
            m_failing = true;
            m_lostNow = 0;
            m_lostSinceMs = firstMs;
        }
        m_lost += rows - written;
        m_lostNow += rows - written;
        // The next line tries the file afresh: the disk may have room by then.
        close();
        if (first && m_tell)
            m_tell(QStringLiteral("cannot write %1: %2").arg(log, QString::fromLocal8Bit(std::strerror(error))));
        return false;
    }
    const bool resumed = m_failing;
    m_failing = false;
    if (remade && m_tell)
        m_tell(log + QStringLiteral(" was removed: made again"));
    if (resumed && m_tell)
        m_tell(QStringLiteral("%1 is written again: %2 %3 lost since %4")
                   .arg(log)
                   .arg(m_lostNow)
                   .arg(m_lostNow == 1 ? QStringLiteral("row") : QStringLiteral("rows"), isoLocalTime(m_lostSinceMs)));
    return true;
}
