// Modbus RTU framing: the CRC-16 that every frame carries, the requests this tool sends, the
// length of the reply each one asks for, the verdict on a reply (with the reason for a refusal),
// and the hex text in which frames are shown.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

// Frames data[0..lastIndex] and appends the CRC-16/MODBUS, low byte first. The result has
// lastIndex + 3 bytes; bytes of data beyond lastIndex are neither covered nor copied. A
// payload shorter than lastIndex + 1 is read as if padded with zero bytes.
QByteArray Crc16(const QByteArray &data, std::uint8_t lastIndex);
// The same CRC appended to a payload of any length (the simulated modules' replies).
QByteArray withCrc(const QByteArray &payload);
// True when the last two bytes of frame are the CRC of the bytes before them (3 bytes at least).
bool crcOk(const QByteArray &frame);

// The addresses a module can have (0 is the broadcast's).
constexpr int kFirstModuleAddress = 1, kLastModuleAddress = 254;
constexpr bool isModuleAddress(int address) { return address >= kFirstModuleAddress && address <= kLastModuleAddress; }

// The parameter registers every module has: its address (1..254), its communication-parameter
// code (1..8) and its model number.
constexpr std::uint16_t kAddressRegister = 100;
constexpr std::uint16_t kCodeRegister = 101;
constexpr std::uint16_t kModelRegister = 102;
constexpr int kParameterReplyLength = 11; // the reply to the parameter read

// Words go high byte first. A word of bytes at and at + 1; a byte b lacks reads as 0.
std::uint16_t wordAt(const QByteArray &b, qsizetype at);
void appendWord(QByteArray &b, std::uint16_t v);
// Bits go one a bit, the first in bit 0 of the first byte: the data bytes of bits, and count bits
// read from byte at of b on (a byte b lacks reads as 0).
QByteArray packBits(const QList<bool> &bits);
QList<bool> unpackBits(const QByteArray &b, qsizetype at, int count);
// The exception reply to a request of function, without its CRC: address, function | 0x80, code.
QByteArray exceptionPayload(std::uint8_t address, std::uint8_t function, std::uint8_t code);

// The requests of the tool, framed. Reads and writes start at register or coil 0 unless named.
QByteArray readRequest(std::uint8_t address, std::uint8_t function, std::uint16_t start, std::uint16_t count);
// Function 0F from coil 0: one data bit per output, output 1 in bit 0 of the first data byte.
QByteArray writeCoilsRequest(std::uint8_t address, const QList<bool> &states);
QByteArray writeRegisterRequest(std::uint8_t address, std::uint16_t reg, std::uint16_t value);
// The parameter window's three: a broadcast read of registers 100..102 (the survey asks each
// address in turn), a broadcast write of a new address to 100, and a write of
// communication-parameter code 1..8 to 101.
QByteArray parameterReadRequest(std::uint8_t address = 0);
QByteArray addressWriteRequest(std::uint8_t newAddress);
// The address write to one module only, for a line with several modules on it.
QByteArray addressWriteTo(std::uint8_t module, std::uint8_t newAddress);
QByteArray commWriteRequest(std::uint8_t address, std::uint8_t code);

// The length of the normal reply to a request: 01 and 02 5 + ceil(count/8), 03 5 + 2*count, 06 and 0F
// 8 (the echo). 0 for a request too short to say or a function the tool does not send.
int expectedReplyLength(const QByteArray &request);
// The same from the function and the request's fourth and fifth bytes (a read's count).
int replyLength(std::uint8_t function, std::uint16_t count);
// Every write the tool sends is answered by an echo of this many bytes.
constexpr int kEchoLength = 8;
// The length of a request as a module reads it off the line: 8 for functions 01 to 06, 9 + the
// byte count (byte 6) for 0F and 10; 0 while too few bytes have come to say, or for any other
// function.
int requestLength(const QByteArray &bytes);
// A Modbus exception frame for a request of function: 5 bytes, function | 0x80 in byte 1, a good
// CRC (the address is not looked at). Never for a function of 0x80 and up.
bool isExceptionFrame(const QByteArray &reply, int function);

// OtherTransaction and BadHeader come only over MBAP (core/framing.h).
enum class Refusal { None, NoReply, Exception, Short, Long, OtherAddress, OtherFunction, BadCrc, OtherTransaction, BadHeader };

struct ReplyVerdict {
    Refusal refusal = Refusal::None;
    std::uint8_t exceptionCode = 0; // for Refusal::Exception
    bool echoOnly = false; // for Refusal::NoReply: the request's echo came and nothing after it
    bool gateway = false;  // for Refusal::Exception: it came over MBAP, where codes 10 and 11 are the gateway's
    bool accepted() const { return refusal == Refusal::None; }
    // The traffic monitor's words, used by every output: "OK", "time-out (no byte)" (", echo only"
    // when only the request's echo came), "short", "long", "other address", "other function",
    // "exception 2: illegal data address", "bad CRC"; over MBAP also "other transaction", "bad header"
    // and the gateway's "exception 11: target failed to respond".
    QString reason() const;
};

// The verdict on the bytes that came back for request, checked in this order, first match wins:
//   no byte                                                     -> NoReply
//   5 bytes: request's address, its function | 0x80, good CRC   -> Exception (code in byte 2)
//   fewer than expectedBytes (or than 3)                        -> Short
//   more than expectedBytes                                     -> Long
//   address byte differs from the request's                     -> OtherAddress
//   function byte differs                                       -> OtherFunction
//   last two bytes not the CRC of the others                    -> BadCrc
// Only a reply that passes all of them is accepted.
ReplyVerdict judgeReply(const QByteArray &reply, const QByteArray &request, int expectedBytes);
// The same rule on a unit's frame without a CRC (unit id, function, data: what an MBAP frame
// carries after its header), without the CRC step; an exception frame is 3 bytes.
ReplyVerdict judgeUnitReply(const QByteArray &reply, const QByteArray &request, int expectedBytes);
// The name of an exception code: 1 illegal function ... 6 device busy, from a gateway also 10 path
// unavailable and 11 target failed to respond, else "exception N".
QString exceptionName(std::uint8_t code, bool gateway = false);

// Each byte as two upper-case hex digits and one blank, the last byte included: 3n characters.
QString HexText(const QByteArray &bytes);
void appendHexText(QString &text, const QByteArray &bytes);
