// A log kept as lines of text at a path (the value log, the traffic log): the one rule for how a
// line goes to its file and what happens when it cannot.
//
// Each write goes to the file whole in one write(2) (the rest of a short one is asked again);
// when a regular file can take no more, it is cut back to its last whole line, so a torn line
// never stays and the next line begins on its own. A pipe or a device gets whole writes only
// (nothing to cut back). The rows that did not reach the file are counted. The file is compared
// with its path before each line: a log that was removed, or whose folder was removed, is made
// again at its path (folder and header included) and told.
//
// Told, as whole sentences naming the log and its path:
//   "cannot write the value log v.csv: No space left on device" (the first failure of a run of them)
//   "the value log v.csv is written again: 12 rows lost since 2026-03-01T17:30:00.250+05:30"
//   "the value log v.csv was removed: made again"
// The state is settled before each telling: it may run a message box's event loop, in which more
// lines come.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class LogFile
{
public:
    // name: what the messages call the log ("value log"); header: the line a new file begins
    // with (a device gets it once), empty for none.
    LogFile(const QString &path, const QString &name, const QByteArray &header,
            std::function<void(const QString &message)> tell);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // lines: `rows` whole lines, each ending in '\n', the first one's time firstMs. False when
    // not all of them reached the file (those that did not are counted as lost).
    bool write(const QByteArray &lines, int rows, qint64 firstMs);
    // Closes the file (a rotation renames it); the next line opens it again.
    void close();

    QString path() const { return m_path; }
    qint64 rowsLost() const { return m_lost; } // in all
    qint64 rows() const { return m_rows; }     // asked to be written, in all

private:
    bool open(int &error);
    // Writes data whole; the number of its whole lines that stay in the file.
    int put(const QByteArray &data, int &error);
    bool replaced() const;

    QString m_path;
    QString m_name;
    QByteArray m_header;
    std::function<void(const QString &)> m_tell;
    int m_fd = -1;
    bool m_device = false;     // a pipe or a device: written as it is, never cut back
    bool m_headerSent = false; // to a device
    bool m_opened = false;     // once: its folder is made again when it is gone
    bool m_failing = false;
    qint64 m_lost = 0;
    qint64 m_rows = 0;
    qint64 m_lostNow = 0;      // since the failing began
    qint64 m_lostSinceMs = 0;
};
