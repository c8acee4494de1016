// A simulated module (with injected faults) on arbitrary request frames. Collisions on a shared
// bus and the replies' exact shapes are pinned by test_sim's tables.
//
// Input: model, address and code, a fault byte, then frames: a header byte (bits 0-5 length,
// bit 6 "append a correct CRC", bit 7 "a tick first" followed by its length byte), the bytes.
#include "fuzzinput.h"
#include "modbus.h"
#include "simmodule.h"

#include <optional>

namespace {

constexpr int kModels[] = {0, 1710, 1720, 1730, 1740, 5510, 5520, 5530, 5540, 5550, 7710, 7720, 4242};

int modelFrom(std::uint8_t b)
{
    return kModels[b % std::size(kModels)];
}

int byteAt(const QByteArray &b, int i)
{
    return std::uint8_t(b[i]);
}

int wordAt(const QByteArray &b, int i)
{
    return byteAt(b, i) << 8 | byteAt(b, i + 1);
}

SimFaults faultsFrom(std::uint8_t b)
{
    SimFaults f;
    if (!(b & 0x80))
        return f; // half the inputs run a sound module
    f.silent = (b & 0x07) == 0x07;
    f.badCrc = b & 0x01;
    f.extraByte = b & 0x02;
    f.truncate = b & 0x04;
    f.exception = b & 0x08;
    if (b & 0x10)
        f.garbageBytes = 1 + ((b >> 5) & 0x03) * 7;
    return f;
}

// The address a sound parameter write leaves, if the frame is one; what the module had otherwise.
std::optional<int> writtenParameter(const QByteArray &frame, int reg, int low, int high)
{
    if (frame.size() != 8 || !crcOk(frame) || byteAt(frame, 1) != 0x06 || wordAt(frame, 2) != reg)
        return std::nullopt;
    const int value = wordAt(frame, 4);
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

// One module's answer to one frame, given its state before the call.
void checkHandled(const SimModule &m, const QByteArray &frame, const QByteArray &reply, std::uint8_t addressBefore,
                  int codeBefore)
{
    const SimFaults &f = m.faults;

    // Only a parameter write carried out changes the address or code, and only to a valid one.
    if (m.address() != addressBefore) {
        const auto v = writtenParameter(frame, 100, 1, 254);
        FUZZ_CHECK(v && *v == m.address() && !f.silent && !f.exception);
    }
    if (m.code() != codeBefore) {
        const auto v = writtenParameter(frame, 101, 1, 8);
        FUZZ_CHECK(v && *v == m.code() && !f.silent && !f.exception);
    }

    if (reply.isEmpty())
        return;
    FUZZ_CHECK(!f.silent);
    // Only a sound request to this module (or to all) is answered.
    FUZZ_CHECK(frame.size() >= 4 && crcOk(frame));
    FUZZ_CHECK(byteAt(frame, 0) == 0 || byteAt(frame, 0) == addressBefore);
    if (f.garbageBytes > 0) {
        FUZZ_CHECK(reply.size() == f.garbageBytes);
        return;
    }

    QByteArray sound = reply;
    if (f.extraByte) {
        FUZZ_CHECK(f.truncate || byteAt(reply, int(reply.size()) - 1) == 0);
        if (!f.truncate)
            sound.chop(1);
    } else if (f.truncate) {
        // A byte is gone for good: only the head can be checked.
        FUZZ_CHECK(reply.size() >= 4 && reply.left(1) == frame.left(1));
        return;
    }
    if (f.badCrc) {
        FUZZ_CHECK(!crcOk(sound));
        sound[sound.size() - 1] = char(~byteAt(sound, int(sound.size()) - 1));
    }
    FUZZ_CHECK(crcOk(sound));
    FUZZ_CHECK(sound[0] == frame[0]);

    // An exception names one of the three codes; anything else the tool accepts as the answer.
    if (sound.size() == 5 && byteAt(sound, 1) == (byteAt(frame, 1) | 0x80)) {
        FUZZ_CHECK(byteAt(sound, 2) >= 1 && byteAt(sound, 2) <= 3 && (!f.exception || byteAt(sound, 2) == 1));
    } else {
        FUZZ_CHECK(!f.exception);
        FUZZ_CHECK(AcceptReply(HexText(sound), HexText(frame), int(sound.size())));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const int model = modelFrom(in.byte());
    const std::uint8_t address = in.byte();
    const int code = in.byte() % 10; // 0 and 9 are no valid code
    SimModule alone(model, address, code);
    alone.faults = faultsFrom(in.byte());
    const int inputs = alone.discreteInputCount(), coils = alone.coilCount(), holding = alone.holdingCount();

    while (!in.atEnd()) {
        const std::uint8_t header = in.byte();
        if (header & 0x80)
            alone.tick(in.byte() * 37);
        QByteArray frame = in.bytes(header & 0x3F);
        if ((header & 0x40) && !frame.isEmpty())
            frame = Crc16(frame, std::uint8_t(frame.size() - 1));

        const std::uint8_t addressBefore = alone.address();
        const int codeBefore = alone.code();
        const QByteArray reply = alone.handle(frame);
        checkHandled(alone, frame, reply, addressBefore, codeBefore);
        FUZZ_CHECK(alone.discreteInputCount() == inputs && alone.coilCount() == coils
                   && alone.holdingCount() == holding);
    }
    return 0;
}
