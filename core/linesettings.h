// Line settings as plain values: the settings text a port is opened with ("9600,E,8,1"), and the
// communication-parameter codes 1..8 that a module stores in register 101.
#pragma once

#include <QString>
#include <QList>
#include <QStringList>

#include <optional>

struct LineSettings {
    qint32 baud = 9600;
    char parity = 'N'; // 'N', 'O', 'E', 'M' or 'S'
    int dataBits = 8;
    int stopBits = 1;
};

// Parses "baud,parity,data,stop". Anything a serial port cannot take gives nothing: a baud rate
// that is not a positive whole number ("1234x"), an empty or unknown parity letter, data bits
// outside 5..8, stop bits other than 1 or 2.
std::optional<LineSettings> parseSettingsText(const QString &text);
// "baud,parity,data,stop" from its four parts as they stand (a window's box texts and parity
// letter; an empty letter stays empty), and from line settings ("9600,E,8,1").
QString settingsText(const QString &baud, const QString &parity, const QString &dataBits, const QString &stopBits);
QString settingsText(const LineSettings &line);

// The parity names: None N, Odd O, Even E. The letter of a name given exactly (case and blanks
// included), nothing for any other text; cs = Qt::CaseInsensitive also takes the letter alone
// ("e", "even").
std::optional<char> parityFromName(const QString &text, Qt::CaseSensitivity cs = Qt::CaseSensitive);
// The name of a letter; any other letter stands for itself.
QString parityName(char parity);

// The baud rates a module can be set to, slowest first: 4800, 9600, 19200, 38400.
const QList<int> &baudRates();

// The communication-parameter codes a module can hold.
constexpr int kFirstCode = 1, kLastCode = 8;
constexpr bool isCode(int code) { return code >= kFirstCode && code <= kLastCode; }

// The communication-parameter texts of codes 1 to 8, in code order (which is also the scan
// order): "4800,None,8,1" .. "38400,None,8,1", then the same four with Even.
const QStringList &communicationParameterTexts();
// The text of a code ("9600,Even,8,1" for 6), empty for anything but a code.
QString communicationParameterText(int code);
// 1..8 for a text equal to one of them (case-sensitive), 0 for anything else.
int communicationParameterCode(const QString &text);
// The baud rate and parity letter ('N' or 'E') of a code; 0 and 0 for anything but 1..8.
int baudForCode(int code);
char parityForCode(int code);
// The line settings of a code: its baud rate and parity, 8 data bits, 1 stop bit (baud 0 and
// parity 0 for anything but 1..8).
LineSettings codeSettings(int code);
// line with the baud rate and parity of a code 1..8 (its data and stop bits kept); line as it
// stands for any other code.
LineSettings withCode(LineSettings line, int code);

// The time bytes take on a line: a start bit, the data bits, the parity bit where there is one
// and the stop bits, for each byte; rounded up to a whole microsecond, 0 at a baud rate of 0.
qint64 lineTimeUs(const LineSettings &line, int bytes);

// The silence that ends a Modbus RTU frame: 3.5 characters of 11 bits, and 1750 us at any rate
// above 19200 baud; rounded up to a whole microsecond, 0 at a baud rate of 0.
qint64 frameSilenceUs(qint32 baud);
// How long the line must stay quiet after a complete reply before its exchange ends (a byte within
// it makes the reply too long): the frame silence, plus the adapter's latency timer, which may hold
// the reply's last bytes back that long. latencyMs -1: a timer the system does not tell (a USB
// adapter without latency_timer, a device server), taken as 20 ms, which covers the usual 16 ms.
qint64 replyQuietUs(qint32 baud, int latencyMs);
