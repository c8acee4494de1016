// Values as data: one row per channel of an accepted read, the CSV line a value log keeps, and
// the file that keeps them (written line by line, rotated by size). korvant-cli's poll, the
// --value-log option and the trend window's "Log values…" all write the same rows.
#pragma once

#include <QDateTime>

#include "csv.h"
#include "cycle.h"
#include "logfile.h"
#include "models.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <functional>
#include <optional>

// One channel of one accepted read, as plain values.
struct ValueRow {
    qint64 wallMs = 0;            // milliseconds since the epoch
    QString window;               // the window's caption (korvant-cli: the model name)
    int address = 0;
    QString channel;              // the channel's caption without its padding blanks
    std::optional<double> value;  // the number the window shows; a digital input 1 or 0; none for "Not Connect"
    QString unit;                 // "mA", "V", "℃"; empty for a digital input
    std::uint16_t raw = 0;        // the register, or the input's bit
    QString text;                 // what the window shows: "10.00mA", "ON", "Not Connect"
    bool digital = false;
    QString tag;                  // the channel's tag on a site ("pump 2 running")
};

// The unit of an analog register by the model's conversion.
QString conversionUnit(Conversion conversion);
// The number an analog register's text shows ("10.00mA" -> 10.0); none for "Not Connect".
std::optional<double> convertedValue(Conversion conversion, std::uint16_t r);

// The channels of one of the model's reads, a caption each without its padding blanks.
QStringList channelCaptions(const ModelRow &model, const AcquisitionCycle::Read &read);
// The rows of an accepted reply to one of the model's reads, a channel each.
QVector<ValueRow> valueRows(const ModelRow &model, const AcquisitionCycle::Read &read, const QByteArray &reply,
                            int address, qint64 wallMs, const QString &window);

// "time,window,address,channel,value,unit,raw,text"
extern const QString kValueCsvHeader;
// One line without its newline: local time in ISO 8601 with milliseconds and UTC offset, then the
// row's fields; a field holding a comma, a quote or a line break is quoted, its quotes doubled.
QString valueCsvLine(const ValueRow &row);
// "2026-03-01T17:30:00.250+05:30": local time, milliseconds and the offset from UTC; and the same
// of a time at its own offset.
QString isoLocalTime(qint64 wallMs);
QString isoTime(const QDateTime &time);

// A CSV value log, its lines written as LogFile writes them: each read's lines at once (a crash
// loses at most those being written), a failure told once with its cause, the rows lost counted
// and told when writing resumes, a file removed under it made again with its header. A file that
// would grow past maxBytes is renamed FILE.1 (FILE.1 to FILE.2 ...) and a new FILE begins with
// the header, so FILE and FILE.1 .. FILE.(keep-1) are kept.
class ValueLog
{
public:
    static constexpr qint64 kDefaultMaxBytes = 100LL * 1024 * 1024;
    static constexpr int kDefaultKeep = 5;
    // tell: LogFile's sentences, naming the log "value log".
    ValueLog(const QString &path, std::function<void(const QString &message)> tell, qint64 maxBytes = kDefaultMaxBytes,
             int keep = kDefaultKeep);

    void write(const QVector<ValueRow> &rows);
    QString path() const { return m_file.path(); }
    qint64 rowsLost() const { return m_file.rowsLost(); }
    qint64 rows() const { return m_file.rows(); }

private:
    void rotate();

    LogFile m_file;
    qint64 m_maxBytes;
    int m_keep;
};
