// How a request goes over the wire and how its reply comes back. The requests are built as RTU
// frames (address, function, data, CRC) everywhere; a framing wraps one for its line and unwraps
// and checks what came back before the one acceptance rule judges the unit's frame:
//   RTU:  the frame as built; the reply's CRC is checked by judgeReply.
//   MBAP: Modbus TCP to a gateway: transaction id, protocol id 0, the length of what follows,
//         the unit id (the module's address), then the function and data; no CRC. The header is
//         checked (protocol id, length, the request's transaction id), then the unit's frame is
//         judged by the same rule without the CRC step.
// A gateway's side (the simulator's --mbap) is here too: the request it passes on to its line,
// and the reply it gives back, or its exception 0x0B when the line stays silent.
#pragma once

#include "modbus.h"

#include <QByteArray>
#include <cstdint>

enum class FramingKind : std::uint8_t { Rtu, Mbap };

constexpr int kMbapHeaderLength = 7; // transaction, protocol, length (2 bytes each), unit id
constexpr quint16 kMbapPort = 502;

struct Framing {
    FramingKind kind = FramingKind::Rtu;
    std::uint16_t transaction = 0; // MBAP: the request's transaction id

    bool mbap() const { return kind == FramingKind::Mbap; }
    // The bytes that go over the wire for a request built as an RTU frame.
    QByteArray wrap(const QByteArray &rtuRequest) const;
    // The RTU length of a reply that came as wireLength bytes (a function the tool does not use).
    int rtuLength(int wireLength) const;
};

// The length of the MBAP frame at the head of bytes, from its header's length field; 0 while the
// header has not come whole.
int mbapFrameLength(const QByteArray &bytes);

// The verdict on an MBAP reply to rtuRequest sent as transaction, rtuExpected being the reply's
// length as RTU. Checked in this order, first match wins:
//   no byte                                               -> NoReply
//   fewer than 7 bytes                                    -> Short
//   protocol id not 0, or a length field below 2          -> BadHeader
//   transaction id not the request's                      -> OtherTransaction
//   fewer bytes after the length field than it says       -> Short
//   more                                                  -> BadHeader
//   then the unit's frame (unit id, function, data) by judgeUnitReply at rtuExpected - 2.
// unitFrame, when given, takes the unit's frame (what the decoders read, as an RTU frame without
// its CRC); the bytes as they came when the header cannot be read.
ReplyVerdict judgeMbapReply(const QByteArray &reply, const QByteArray &rtuRequest, int rtuExpected,
                            std::uint16_t transaction, QByteArray *unitFrame = nullptr);

// A gateway's side. The request at the head of an MBAP stream as the RTU frame for the line
// behind it (the unit id as the address, the CRC added); empty for a header that is not Modbus's.
QByteArray mbapToRtu(const QByteArray &mbapRequest);
// The gateway's reply to mbapRequest: the line's RTU reply (its CRC checked and dropped) under the
// request's header; for no valid reply, exception 0x0B ("target failed to respond"), or nothing
// when silent or for unit 0 (a broadcast wants no answer).
QByteArray gatewayReply(const QByteArray &mbapRequest, const QByteArray &rtuReply, bool silent);
