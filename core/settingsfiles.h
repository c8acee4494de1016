// The two files of the sys folder below the working directory: set.rc, the last serial choice
// (port number, baud text, parity text), and tm.rc, the twenty timer intervals of the test
// windows (characters 12 to 16 of each line).
#pragma once

#include <QString>
#include <QVector>

// "./sys/set.rc" with the platform's separator, as messages name the files.
QString sysFileLabel(const QString &fileName);
// The path of a sys file below the working directory.
QString sysFilePath(const QString &fileName);

struct SerialChoice {
    QString port = QStringLiteral("1"); // line 1: port number text, "0" for no port
    QString baud = QStringLiteral("9600");
    QString parity = QStringLiteral("None");
};

// Reads set.rc. A missing or unreadable file gives the defaults (COM1, 9600, None); missing
// lines take their defaults; lines after the third are ignored.
SerialChoice readSetRc(const QString &path);

// The port-box list position a set.rc line 1 selects: its number less one, then rounded (halves
// to even), or -1 when that is not one of COM1 to COM9.
int portIndexFromLine(const QString &line1);

// Rewrites set.rc with CR LF line ends. The new content goes to a temporary file beside it that
// then replaces the old one, so a failed write leaves the previous file as it was. On failure
// returns false and says why in *error.
bool writeSetRc(const QString &path, const SerialChoice &choice, QString *error);

constexpr int kTimingLines = 20;
constexpr int kMaxInterval = 65535;

struct TimingFile {
    QVector<int> intervals = QVector<int>(kTimingLines, 0); // index 0 is line 1
    bool opened = false; // the file was there and could be opened, however little it held
    int linesRead = 0;
    QVector<bool> outOfRange = QVector<bool>(kTimingLines, false); // clamped to 0..65535
    bool complete() const { return linesRead >= kTimingLines; }
    // Line n (from 1) gives the interval it was meant to: a number from 1 to 65535.
    bool usable(int line) const { return intervals.value(line - 1) > 0 && !outOfRange.value(line - 1); }
};

// The interval held in characters 12 to 16 of a tm.rc line, clamped to 0..65535; *clamped tells
// whether the number lay outside that range.
int intervalFromLine(const QString &line, bool *clamped = nullptr);

// Reads the first twenty lines of tm.rc. A missing file reads no line; lines that are not there
// leave their interval at 0. Only the start of the file is read, however large it is.
TimingFile readTmRc(const QString &path);

// Splits raw file bytes into at most maxLines lines (CR LF, CR or LF end a line), each cut to
// maxChars characters; bytes are single-byte text.
QStringList splitSettingsLines(const QByteArray &bytes, int maxLines, int maxChars = 256);
