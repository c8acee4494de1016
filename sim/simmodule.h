// The simulated module bus: remote I/O modules of the KV family as pure request -> reply
// functions, and a bus that puts several of them on one line. No I/O happens here; the front
// ends (SimLine in-process, korvant-sim on a pseudo-terminal) move the bytes and keep the time.
#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <memory>
#include <vector>

// Faults injected per module, for tests.
struct SimFaults {
    bool silent = false;    // deaf and mute, as if unplugged: neither acts nor answers
    bool badCrc = false;    // reply with its last CRC byte inverted
    bool extraByte = false; // one byte (0x00) appended after the CRC
    bool truncate = false;  // last byte dropped
    bool exception = false; // exception reply (function|0x80, code 01) instead of a normal one; the request is not acted on
    int delayMs = 0;        // reply delivered this much later (front ends honour it)
    int pieces = 1;         // reply split into this many pieces (front ends honour it)
    int pieceGapMs = 0;     // gap between pieces (front ends honour it)
    int garbageBytes = 0;   // a burst of this many random bytes instead of the reply
    bool noWrite = false;   // answers writes as if done but acts on none (settings fixed by switches)
};

// One module. Its register map follows its model's row of the model table (core/models):
//   digital inputs   discrete inputs 0..       digital outputs   coils 0..
//   analog inputs    holding 0.. (measured, read-only)
//   analog output    holding 0 (output current in uA, writable)
// so that 5510 has 8 DI and 4 coils, 7710 4 DI, 4 coils and holding 0..5, 1720 holding 0.
//   0     the demo "generic" module: 16 DI, 16 coils, holding 0..7 (writable); its inputs move by
//         themselves through tick(), and its model register 102 reads 5510 so that the tool shows
//         a model it knows.
// Every model also has the parameter registers 100 (address), 101 (code) and 102 (model number).
// Functions: 01 read coils, 02 read discrete inputs, 03 read holding registers, 05 write coil,
// 06 write register, 0F write coils, 10 write registers.
class SimModule
{
public:
    SimModule(int modelNumber, std::uint8_t address, int code);

    static bool isKnownModel(int modelNumber);

    int modelNumber() const { return m_model; }
    std::uint8_t address() const { return m_address; }
    int code() const { return m_code; }

    int discreteInputCount() const { return int(m_inputs.size()); }
    int coilCount() const { return int(m_coils.size()); }
    int holdingCount() const { return int(m_holding.size()); }
    bool holdingWritable() const { return m_holdingWritable; }

    // Out-of-range indices read as off / 0 and are ignored on writes.
    bool discreteInput(int i) const;
    void setDiscreteInput(int i, bool on);
    bool coil(int i) const;
    void setCoil(int i, bool on);
    // reg 0.. data registers; 100 address, 101 code, 102 model number (as the wire shows it).
    std::uint16_t holding(int reg) const;
    void setHolding(int reg, std::uint16_t v);

    // The module's answer to one request frame, or an empty array for silence. A frame with a bad
    // CRC, another address, a length that does not fit its function, or fewer than 4 bytes gets
    // silence. Address 0 (broadcast) is answered only for reading inside registers 100..102 and
    // writing 100 or 101; other broadcast writes are carried out without an answer, other
    // broadcast reads ignored. Unknown function -> exception 01, outside the model's map (or a
    // read-only register written) -> exception 02, bad quantity or value -> exception 03. A new
    // address (1..254) or code (1..8) is echoed first and takes effect after the echo, so
    // address()/code() change after this call returns. Faults are applied here except
    // delay/pieces.
    QByteArray handle(const QByteArray &request);

    SimFaults faults;

    // Advances the demo inputs of the generic module (a walking bit on the inputs, one step a
    // second; ramps and waves on holding 0..3). Other models keep what they were given.
    void tick(int elapsedMs);

private:
    struct Outcome;
    Outcome process(const QByteArray &request);
    // One function code each; the request's length is checked before.
    Outcome readBits(const QByteArray &req);
    Outcome readRegisters(const QByteArray &req);
    Outcome writeCoil(const QByteArray &req);
    Outcome writeRegister(const QByteArray &req);
    Outcome writeMultiple(const QByteArray &req);
    Outcome failure(std::uint8_t function, std::uint8_t code) const;
    QByteArray exceptionReply(std::uint8_t function, std::uint8_t code) const;
    void applyDemo();

    int m_model;
    std::uint8_t m_address;
    int m_code;
    bool m_holdingWritable = false;
    std::vector<bool> m_inputs;
    std::vector<bool> m_coils;
    std::vector<std::uint16_t> m_holding;
    qint64 m_clockMs = 0;
};

// Several modules on one line.
class SimBus
{
public:
    SimBus();
    ~SimBus();
    SimBus(const SimBus &) = delete;
    SimBus &operator=(const SimBus &) = delete;

    SimModule *addModule(int modelNumber, std::uint8_t address, int code); // owned by the bus
    QList<SimModule *> modules() const;

    // What the line carries back for a request sent at baud/parity. Only modules whose code
    // matches the baud rate and parity listen; parity 0 means "not known" and matches any parity
    // (a pseudo-terminal cannot carry parity), and baud 0 any baud rate (behind a serial device
    // server the line settings are the server's). One answer gives that reply; two or more collide:
    // the replies are OR-ed byte by byte and the result never passes a CRC check. delayMs,
    // pieces and pieceGapMs tell the front end how to deliver it (the answering module's faults;
    // for a collision the longest delay, in one piece).
    QByteArray exchange(const QByteArray &request, qint32 baud, char parity, int *delayMs = nullptr,
                        int *pieces = nullptr, int *pieceGapMs = nullptr);

    void tick(int elapsedMs);

private:
    std::vector<std::unique_ptr<SimModule>> m_modules;
};

// Splits a reply into `pieces` nearly equal consecutive parts (at least one byte each).
QList<QByteArray> splitReply(const QByteArray &reply, int pieces);
