// A simulated module (with injected faults) on arbitrary request frames. Collisions on a shared
// bus, the replies' exact shapes and how each fault damages them are pinned by test_sim's tables.
//
// Input: model, address and code, a fault byte, then frames: a header byte (bits 0-5 length,
// bit 6 "append a correct CRC", bit 7 "a tick first" followed by its length byte), the bytes.
#include "fuzzinput.h"
#include "modbus.h"
#include "models.h"
#include "simmodule.h"

namespace {

// The generic module, every model of the table, and a number that is no model.
const QList<int> &models()
{
    static const QList<int> list = [] {
        QList<int> numbers{0};
        for (const ModelRow &row : modelTable())
            numbers << modelNumber(row);
        return numbers << 4242;
    }();
    return list;
}

int byteAt(const QByteArray &b, int i)
{
    return std::uint8_t(b[i]);
}

SimFaults faultsFrom(std::uint8_t b)
{
    if (!(b & 0x80))
        return {}; // half the inputs run a sound module
    return {.silent = (b & 0x07) == 0x07, .badCrc = bool(b & 0x01), .extraByte = bool(b & 0x02), .truncate = bool(b & 0x04),
            .exception = bool(b & 0x08), .garbageBytes = (b & 0x10) ? 1 + ((b >> 5) & 0x03) * 7 : 0};
}

// Whether frame is a sound write of register reg to value, which must lie in low..high.
bool writes(const QByteArray &frame, int reg, int value, int low, int high)
{
    return frame.size() == 8 && crcOk(frame) && byteAt(frame, 1) == 0x06 && (byteAt(frame, 2) << 8 | byteAt(frame, 3)) == reg
           && (byteAt(frame, 4) << 8 | byteAt(frame, 5)) == value && value >= low && value <= high;
}

// One module's answer to one frame, given its state before the call.
void checkHandled(const SimModule &m, const QByteArray &frame, const QByteArray &reply, int addressBefore, int codeBefore)
{
    const SimFaults &f = m.faults;
    // Only a parameter write carried out changes the address or code, and only to a valid one.
    if (m.address() != addressBefore)
        FUZZ_CHECK(writes(frame, 100, m.address(), 1, 254) && !f.silent && !f.exception);
    if (m.code() != codeBefore)
        FUZZ_CHECK(writes(frame, 101, m.code(), 1, 8) && !f.silent && !f.exception);
    if (reply.isEmpty())
        return;
    // Only a sound request to this module (or to all) is answered. How each fault shows in the reply
    // is test_sim's; a module without a damaging fault answers with a well-formed frame: an
    // exception naming one of the three codes, or what the tool accepts as the answer.
    FUZZ_CHECK(!f.silent && frame.size() >= 4 && crcOk(frame) && (frame[0] == 0 || byteAt(frame, 0) == addressBefore));
    if (f.badCrc || f.extraByte || f.truncate || f.garbageBytes > 0)
        return;
    FUZZ_CHECK(crcOk(reply) && reply[0] == frame[0]);
    if (reply.size() == 5 && byteAt(reply, 1) == (byteAt(frame, 1) | 0x80))
        FUZZ_CHECK(byteAt(reply, 2) >= 1 && byteAt(reply, 2) <= 3 && (!f.exception || byteAt(reply, 2) == 1));
    else
        FUZZ_CHECK(!f.exception && judgeReply(reply, frame, int(reply.size())).accepted());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const int model = models()[in.byte() % models().size()];
    const std::uint8_t address = in.byte();
    SimModule alone(model, address, in.byte() % 10); // codes 0 and 9 are not valid
    alone.faults = faultsFrom(in.byte());
    const int inputs = alone.discreteInputCount(), coils = alone.coilCount(), holding = alone.holdingCount();
    while (!in.atEnd()) {
        const std::uint8_t header = in.byte();
        if (header & 0x80)
            alone.tick(in.byte() * 37);
        QByteArray frame = in.bytes(header & 0x3F);
        if ((header & 0x40) && !frame.isEmpty())
            frame = Crc16(frame, std::uint8_t(frame.size() - 1));
        const int addressBefore = alone.address(), codeBefore = alone.code();
        checkHandled(alone, frame, alone.handle(frame), addressBefore, codeBefore);
        FUZZ_CHECK(alone.discreteInputCount() == inputs && alone.coilCount() == coils && alone.holdingCount() == holding);
    }
    return 0;
}
