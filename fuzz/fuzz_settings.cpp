// The set.rc and tm.rc readers on arbitrary file contents: whatever the file holds, the tool gets
// twenty intervals in range and three short single-line serial texts, quickly.
//
// Input: a mode byte, then the file's bytes. Mode bit 0 repeats the bytes past 256 KiB, well over
// what either reader looks at, so that huge files (and huge lines) are read too; libFuzzer's
// -timeout catches a reader that hangs.
#include "fuzzinput.h"
#include "settingsfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// On tmpfs where there is one: the settings writer syncs to disk, which would otherwise cost more
// than everything else in a run.
const QTemporaryDir &scratch()
{
    static const QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                       ? QStringLiteral("/dev/shm/korvant-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/korvant-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    return dir;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

void checkLine(const QString &line)
{
    FUZZ_CHECK(line.size() <= 256);
    FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
}

bool sameChoice(const SerialChoice &a, const SerialChoice &b)
{
    return a.port == b.port && a.baud == b.baud && a.parity == b.parity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QTemporaryDir &dir = scratch();
    const QString path = dir.filePath(QStringLiteral("settings.rc"));

    FuzzInput in(data, size);
    const std::uint8_t mode = in.byte();
    QByteArray bytes = in.rest();
    if ((mode & 1) && !bytes.isEmpty()) {
        while (bytes.size() < (256 << 10))
            bytes += bytes;
    }

    writeFile(path, bytes);

    const TimingFile timing = readTmRc(path);
    FUZZ_CHECK(timing.intervals.size() == kTimingLines);
    FUZZ_CHECK(timing.linesRead >= 0 && timing.linesRead <= kTimingLines);
    // Timing lines are text: reading ends at the first NUL byte.
    const QByteArray text = bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0'));
    FUZZ_CHECK(timing.linesRead > 0 || text.isEmpty());
    for (int i = 0; i < kTimingLines; ++i) {
        FUZZ_CHECK(timing.intervals[i] >= 0 && timing.intervals[i] <= kMaxInterval);
        if (i >= timing.linesRead)
            FUZZ_CHECK(timing.intervals[i] == 0);
    }

    const QStringList lines = splitSettingsLines(text, kTimingLines);
    FUZZ_CHECK(lines.size() <= kTimingLines);
    for (const QString &line : lines)
        checkLine(line);
    for (const QString &line : splitSettingsLines(bytes, kTimingLines))
        checkLine(line);
    if (bytes.size() <= 4096) {
        // A small file is read whole: the reader and its parts agree.
        FUZZ_CHECK(timing.linesRead == lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            FUZZ_CHECK(timing.intervals[i] == intervalFromLine(lines[i]));
            if (lines[i].size() < 12)
                FUZZ_CHECK(timing.intervals[i] == 0); // the number starts at character 12
        }
    }

    const SerialChoice choice = readSetRc(path);
    checkLine(choice.port);
    checkLine(choice.baud);
    checkLine(choice.parity);
    const int portIndex = portIndexFromLine(choice.port);
    FUZZ_CHECK(portIndex >= -1 && portIndex <= 8);

    // What was read survives being written and read again.
    const QString copy = dir.filePath(QStringLiteral("copy.rc"));
    QString error;
    FUZZ_CHECK(writeSetRc(copy, choice, &error));
    FUZZ_CHECK(sameChoice(readSetRc(copy), choice));
    return 0;
}
