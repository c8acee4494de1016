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

void checkLine(const QString &line)
{
    FUZZ_CHECK(line.size() <= 256 && !line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // On tmpfs where there is one: the settings writer syncs to disk, which would otherwise cost
    // more than everything else in a run.
    static const QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                       ? QStringLiteral("/dev/shm/korvant-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/korvant-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("settings.rc"));
    FuzzInput in(data, size);
    const std::uint8_t mode = in.byte();
    QByteArray bytes = in.rest();
    while ((mode & 1) && !bytes.isEmpty() && bytes.size() < (256 << 10))
        bytes += bytes;
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();

    const TimingFile timing = readTmRc(path);
    FUZZ_CHECK(timing.intervals.size() == kTimingLines && timing.linesRead >= 0 && timing.linesRead <= kTimingLines);
    // Timing lines are text: reading ends at the first NUL byte.
    const QByteArray text = bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0'));
    FUZZ_CHECK(timing.linesRead > 0 || text.isEmpty());
    for (int i = 0; i < kTimingLines; ++i)
        FUZZ_CHECK(timing.intervals[i] >= 0 && timing.intervals[i] <= kMaxInterval
                   && (i < timing.linesRead || !timing.intervals[i]));
    const QStringList lines = splitSettingsLines(text, kTimingLines);
    FUZZ_CHECK(lines.size() <= kTimingLines);
    for (const QString &line : lines + splitSettingsLines(bytes, kTimingLines))
        checkLine(line);
    // A small file is read whole: the reader and its parts agree; the number starts at character 12.
    for (int i = 0; bytes.size() <= 4096 && i < lines.size(); ++i)
        FUZZ_CHECK(timing.intervals[i] == intervalFromLine(lines[i]) && (lines[i].size() >= 12 || !timing.intervals[i]));
    FUZZ_CHECK(bytes.size() > 4096 || timing.linesRead == lines.size());

    // What was read is sound, and survives being written and read again.
    const SerialChoice choice = readSetRc(path);
    for (const QString &line : {choice.port, choice.baud, choice.parity})
        checkLine(line);
    FUZZ_CHECK(portIndexFromLine(choice.port) >= -1 && portIndexFromLine(choice.port) <= 8);
    const QString copy = dir.filePath(QStringLiteral("copy.rc"));
    QString error;
    FUZZ_CHECK(writeSetRc(copy, choice, &error));
    const SerialChoice back = readSetRc(copy);
    FUZZ_CHECK(back.port == choice.port && back.baud == choice.baud && back.parity == choice.parity);
    return 0;
}
