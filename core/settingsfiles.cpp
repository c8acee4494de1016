#include "settingsfiles.h"

#include "numtext.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

QString sysFileLabel(const QString &fileName)
{
    return QDir::toNativeSeparators(QStringLiteral("./sys/") + fileName);
}

QString sysFilePath(const QString &fileName)
{
    return QDir::current().filePath(QStringLiteral("sys/") + fileName);
}

QStringList splitSettingsLines(const QByteArray &bytes, int maxLines, int maxChars)
{
    QStringList lines;
    qsizetype i = 0;
    while (i < bytes.size() && lines.size() < maxLines) {
        qsizetype end = i;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        lines << QString::fromLatin1(bytes.constData() + i, qMin<qsizetype>(end - i, maxChars));
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            ++end;
        i = end + 1;
    }
    return lines;
}

// Reads no more than the settings files can sensibly hold, so a huge or binary file costs
// nothing and never hangs a window's load step.
static QByteArray readHead(const QString &path, qint64 limit, bool *ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? file.read(limit) : QByteArray();
}

SerialChoice readSetRc(const QString &path)
{
    SerialChoice choice;
    bool ok = false;
    const QStringList lines = splitSettingsLines(readHead(path, 4096, &ok), 3);
    choice.port = lines.value(0, choice.port);
    choice.baud = lines.value(1, choice.baud);
    choice.parity = lines.value(2, choice.parity);
    return choice;
}

int portIndexFromLine(const QString &line1)
{
    const double index = roundHalfEven(leadingNumber(line1) - 1);
    return (index >= 0 && index <= 8) ? int(index) : -1;
}

bool writeSetRc(const QString &path, const SerialChoice &choice, QString *error)
{
    QSaveFile file(path);
    const QString text = choice.port + QStringLiteral("\r\n") + choice.baud + QStringLiteral("\r\n")
                         + choice.parity + QStringLiteral("\r\n");
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toLatin1());
        if (file.commit())
            return true;
    }
    if (error)
        *error = file.errorString();
    return false;
}

int intervalFromLine(const QString &line, bool *clamped)
{
    const double v = roundHalfEven(leadingNumber(line.mid(11, 5)));
    if (clamped)
        *clamped = v < 0 || v > kMaxInterval;
    return int(qBound(0.0, v, double(kMaxInterval)));
}

TimingFile readTmRc(const QString &path)
{
    TimingFile timing;
    bool ok = false;
    // Twenty lines of a few dozen characters; anything past 64 KiB is not a timing file.
    QByteArray head = readHead(path, 64 * 1024, &ok);
    timing.opened = ok;
    // No text file holds a NUL byte: a binary file has no timing lines past its first one, and
    // the window names the lines it lacks instead of running on noise.
    if (const qsizetype nul = head.indexOf('\0'); nul >= 0)
        head.truncate(nul);
    const QStringList lines = splitSettingsLines(head, kTimingLines);
    timing.linesRead = int(lines.size());
    for (int i = 0; i < lines.size(); ++i)
        timing.intervals[i] = intervalFromLine(lines[i], &timing.outOfRange[i]);
    return timing;
}
