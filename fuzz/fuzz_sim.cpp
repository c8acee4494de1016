// The simulated modules on arbitrary request frames: one module alone (with injected faults) and
// a bus of two, checked against twins that see the same requests.
//
// Input: model, address and code of three modules, a fault byte, then frames: a header byte
// (bits 0-5 length, bit 6 "append a correct CRC", bit 7 "a tick first" followed by its length
// byte), the frame's bytes, and a line-settings byte for the bus.
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

SimFaults faultsFrom(std::uint8_t b, bool withGarbage)
{
    SimFaults f;
    if (!(b & 0x80))
        return f; // half the inputs run a sound module
    f.silent = (b & 0x07) == 0x07;
    f.badCrc = b & 0x01;
    f.extraByte = b & 0x02;
    f.truncate = b & 0x04;
    f.exception = b & 0x08;
    if (withGarbage && (b & 0x10))
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

    const int function = byteAt(frame, 1);
    if (sound.size() == 5 && byteAt(sound, 1) == (function | 0x80)) {
        const int code = byteAt(sound, 2);
        FUZZ_CHECK(code >= 1 && code <= 3);
        FUZZ_CHECK(!f.exception || code == 1);
    } else {
        FUZZ_CHECK(!f.exception);
        FUZZ_CHECK(byteAt(sound, 1) == function);
        switch (function) {
        case 0x01:
        case 0x02:
            FUZZ_CHECK(sound.size() == 5 + byteAt(sound, 2) && byteAt(sound, 2) == (wordAt(frame, 4) + 7) / 8);
            break;
        case 0x03:
            FUZZ_CHECK(sound.size() == 5 + byteAt(sound, 2) && byteAt(sound, 2) == 2 * wordAt(frame, 4));
            break;
        case 0x05:
        case 0x06:
        case 0x0F:
        case 0x10:
            FUZZ_CHECK(sound.size() == 8 && sound.left(6) == frame.left(6));
            break;
        default:
            FUZZ_CHECK(false); // an unknown function gets an exception
        }
        // The tool accepts every sound normal reply to the request it sent.
        FUZZ_CHECK(AcceptReply(HexText(sound), HexText(frame), int(sound.size())));
    }
}

struct Listener {
    SimModule *onBus;
    SimModule twin;
};

bool listens(const SimModule &m, qint32 baud, char parity)
{
    return baudForCode(m.code()) == baud && (parity == 0 || parityForCode(m.code()) == parity);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const int model = modelFrom(in.byte());
    const std::uint8_t address = in.byte();
    const int code = in.byte() % 10; // 0 and 9 are no valid code
    SimModule alone(model, address, code);
    alone.faults = faultsFrom(in.byte(), true);
    const int inputs = alone.discreteInputCount(), coils = alone.coilCount(), holding = alone.holdingCount();

    SimBus bus;
    std::vector<Listener> listeners;
    for (int i = 0; i < 2; ++i) {
        const int m = modelFrom(in.byte());
        const std::uint8_t a = in.byte() % 4; // a small range, so that modules often share an address
        const int c = 1 + in.byte() % 8;
        const SimFaults f = faultsFrom(in.byte(), false); // garbage is random: twins would differ
        SimModule *onBus = bus.addModule(m, a, c);
        onBus->faults = f;
        listeners.push_back({onBus, SimModule(m, a, c)});
        listeners.back().twin.faults = f;
    }

    while (!in.atEnd()) {
        const std::uint8_t header = in.byte();
        if (header & 0x80) {
            const int elapsed = in.byte() * 37;
            alone.tick(elapsed);
            bus.tick(elapsed);
            for (Listener &l : listeners)
                l.twin.tick(elapsed);
        }
        QByteArray frame = in.bytes(header & 0x3F);
        if ((header & 0x40) && !frame.isEmpty())
            frame = Crc16(frame, std::uint8_t(frame.size() - 1));

        const std::uint8_t addressBefore = alone.address();
        const int codeBefore = alone.code();
        const QByteArray reply = alone.handle(frame);
        checkHandled(alone, frame, reply, addressBefore, codeBefore);
        FUZZ_CHECK(alone.discreteInputCount() == inputs && alone.coilCount() == coils
                   && alone.holdingCount() == holding);

        // The bus: each listening module answers as its twin does; two answers collide into a
        // frame that never passes a CRC check.
        const std::uint8_t settings = in.byte();
        const qint32 baud = baudForCode(1 + settings % 8);
        const char parity = "\0NE"[(settings >> 3) % 3];
        QList<QByteArray> answers;
        for (Listener &l : listeners) {
            if (!listens(l.twin, baud, parity))
                continue;
            const std::uint8_t a0 = l.twin.address();
            const int c0 = l.twin.code();
            const QByteArray r = l.twin.handle(frame);
            checkHandled(l.twin, frame, r, a0, c0);
            if (!r.isEmpty())
                answers.append(r);
        }
        int delayMs = -1, pieces = -1, gapMs = -1;
        const QByteArray line = bus.exchange(frame, baud, parity, &delayMs, &pieces, &gapMs);
        if (answers.isEmpty()) {
            FUZZ_CHECK(line.isEmpty() && delayMs == 0 && pieces == 0 && gapMs == 0);
        } else if (answers.size() == 1) {
            FUZZ_CHECK(line == answers.first() && pieces >= 1);
        } else {
            FUZZ_CHECK(line.size() == qMax(answers[0].size(), answers[1].size()));
            FUZZ_CHECK(!crcOk(line) && pieces == 1 && gapMs == 0);
        }
        for (const Listener &l : listeners)
            FUZZ_CHECK(l.onBus->address() == l.twin.address() && l.onBus->code() == l.twin.code());

        if (!line.isEmpty()) {
            const QList<QByteArray> parts = splitReply(line, int(settings) - 8);
            FUZZ_CHECK(!parts.isEmpty() && parts.size() <= line.size());
            QByteArray joined;
            for (const QByteArray &p : parts) {
                FUZZ_CHECK(!p.isEmpty());
                joined += p;
            }
            FUZZ_CHECK(joined == line);
        }
    }
    return 0;
}
