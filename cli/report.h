// What korvant-cli prints: the channels of a read as the windows show them, and the modules it
// finds. Plain functions of the reply's bytes, so their texts are tested without a port.
#pragma once

#include "cycle.h"
#include "decoders.h"
#include "linesettings.h"
#include "serialports.h"
#include "traffic.h"
#include "valuelog.h"

#include <QJsonObject>

#include <QString>
#include <QVector>

#include <cstdint>

struct ChannelValue {
    QString caption; // the window's caption without its padding blanks: "DI_01", "AI_3"
    QString value;   // as the window shows it: "ON", "10.00mA", "25.3℃", "Not Connect"
};

// The channels one of the model's reads shows, from an accepted reply to it.
QVector<ChannelValue> readChannels(const ModelRow &row, const AcquisitionCycle::Read &read, const QByteArray &reply);
// The same in two steps, for a poll that keeps a read's channels from one exchange to the next:
// the captions with no values, then the values of an accepted reply set in place.
QVector<ChannelValue> readCaptions(const ModelRow &row, const AcquisitionCycle::Read &read);
void setChannelValues(QVector<ChannelValue> &channels, const ModelRow &row, const AcquisitionCycle::Read &read,
                      const QByteArray &reply);
// "DI_01: ON"
QString channelLine(const ChannelValue &channel);

// A module found by scan: its parameter registers, and the settings it answered at (behind a
// device server, which answers at every step, what its code stands for; baud 0 for a code
// outside the table).
struct FoundModule {
    ModuleParameters parameters;
    LineSettings line;
};
// "address 1  code 2  baud 9600  parity None  model KV5510ADAM" ("baud -  parity -" for baud 0)
QString foundLine(const FoundModule &found);

// --- poll, survey and --json -------------------------------------------------------------------

// One compact JSON object and a newline.
QString jsonLine(const QJsonObject &object);
// {"address":7,"code":3,"baud":19200,"parity":"None","model":"KV5550ADAM"}
QJsonObject foundJson(const FoundModule &found);

// A poll exchange: "12:00:01.250  OK  12.31 ms  DI_01: ON, DI_02: OFF"; a refused one
// shows its reason and, without a byte back, "-" for the time.
QString exchangeLine(const QString &time, const ReplyVerdict &verdict, double responseMs,
                     const QVector<ChannelValue> &channels);
// The same as JSON, one object per channel (a ValueRow: value a number or null, unit, raw, text),
// or one without a channel for a refused reply; each with address, model, seq (the exchange's
// number from 1), time (ISO 8601 local, when the reply was complete), verdict (the statistics key),
// response_ms, and for an exception {"code": 2, "name": "illegal data address"}.
struct ExchangeReport {
    int address = 0;
    QString model;
    qint64 seq = 0;
    qint64 wallMs = 0;
    ReplyVerdict verdict;
    double responseMs = -1;
};
QList<QJsonObject> exchangeJson(const ExchangeReport &exchange, const QVector<ValueRow> &rows);
// A ValueRow's keys: channel, value (null for "Not Connect"), unit, raw, text.
QJsonObject valueJson(const ValueRow &row);

// "requests 10  ok 8  timeout 1  bad_crc 1  short 0 ...", "success 80.0%",
// "response ms  min 12.31  median 12.4  p99 15.2  max 15.33" (or "response ms  -"; a percentile
// held to the minimum or maximum is printed as they are, "median 12.31").
// retries: the time-outs that were asked again ("retries 2" after the verdicts).
QStringList statisticsLines(const TrafficStatistics &statistics, int retries = 0);
QJsonObject statisticsJson(const TrafficStatistics &statistics, int retries = 0);

// A module that answered the survey: "address 5  code 2  model KV5510ADAM".
QString surveyLine(const ModuleParameters &parameters);
QJsonObject surveyJson(const ModuleParameters &parameters, double responseMs);

// korvant-cli ports: a line per device, "/dev/ttyUSB0  by-id /dev/serial/by-id/usb-FTDI_...  description
// FT232R USB UART  manufacturer FTDI  serial A50285BI  access yes", "-" for what is unknown and
// "access no (no device node)" for a node that is missing; or one JSON object each.
QString portLine(const SerialPortEntry &port);
QJsonObject portJson(const SerialPortEntry &port);

// --- find --------------------------------------------------------------------------------------

struct FinderRow;
// "address 7  code 3  baud 19200  parity None  model KV5510ADAM  response 21.30 ms  note …", with
// "-" for what is not known; a note about a setting: "baud 9600  parity None  note …".
QString findLine(const FinderRow &row);
// The same keys as JSON; what is not known is left out.
QJsonObject findJson(const FinderRow &row);
