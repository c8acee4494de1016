#include "simmodule.h"

#include "modbus.h"
#include "models.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>

namespace {

struct ModelMap {
    int inputs;
    int coils;
    int holding;
    bool holdingWritable;
};

// A model's register map from its row of the model table: its digital inputs and outputs as
// discrete inputs and coils, its analog inputs as read-only registers, its analog output as one
// writable register (the current in µA). Model 0 is the generic module; other numbers have none.
std::optional<ModelMap> mapOf(int model)
{
    if (model == 0)
        return ModelMap{16, 16, 8, true};
    for (const ModelRow &row : modelTable()) {
        if (modelNumber(row) != model)
            continue;
        const bool output = row.kind == PanelKind::AnalogOutput;
        return ModelMap{row.inputs(), row.outputs(), output ? 1 : row.channels(), output};
    }
    return std::nullopt;
}

// What the generic module reports as its model, so that the tool shows a name it knows.
constexpr std::uint16_t genericModelNumber = 5510;

} // namespace

// What a request leads to: the reply (possibly empty) and the change of state it makes, kept
// apart so that a fault can drop the change and so that parameter writes act after the echo.
struct SimModule::Outcome {
    QByteArray reply;
    std::function<void()> effect;
    bool exception = false;
};

SimModule::SimModule(int modelNumber, std::uint8_t address, int code)
    : m_model(modelNumber), m_address(address), m_code(code)
{
    if (const std::optional<ModelMap> m = mapOf(modelNumber)) {
        m_inputs.assign(std::size_t(m->inputs), false);
        m_coils.assign(std::size_t(m->coils), false);
        m_holding.assign(std::size_t(m->holding), 0);
        m_holdingWritable = m->holdingWritable;
    }
    if (m_model == 0)
        applyDemo();
}

bool SimModule::isKnownModel(int modelNumber)
{
    return mapOf(modelNumber).has_value();
}

bool SimModule::discreteInput(int i) const
{
    return i >= 0 && i < discreteInputCount() && m_inputs[std::size_t(i)];
}

void SimModule::setDiscreteInput(int i, bool on)
{
    if (i >= 0 && i < discreteInputCount())
        m_inputs[std::size_t(i)] = on;
}

bool SimModule::coil(int i) const
{
    return i >= 0 && i < coilCount() && m_coils[std::size_t(i)];
}

void SimModule::setCoil(int i, bool on)
{
    if (i >= 0 && i < coilCount())
        m_coils[std::size_t(i)] = on;
}

std::uint16_t SimModule::holding(int reg) const
{
    switch (reg) {
    case kAddressRegister: return m_address;
    case kCodeRegister: return std::uint16_t(m_code);
    case kModelRegister: return m_model == 0 ? genericModelNumber : std::uint16_t(m_model);
    default: break;
    }
    return reg >= 0 && reg < holdingCount() ? m_holding[std::size_t(reg)] : 0;
}

void SimModule::setHolding(int reg, std::uint16_t v)
{
    if (reg == kAddressRegister)
        m_address = std::uint8_t(v);
    else if (reg == kCodeRegister)
        m_code = v;
    else if (reg >= 0 && reg < holdingCount())
        m_holding[std::size_t(reg)] = v;
}

QByteArray SimModule::exceptionReply(std::uint8_t function, std::uint8_t code) const
{
    return exceptionPayload(m_address, function, code);
}

SimModule::Outcome SimModule::failure(std::uint8_t function, std::uint8_t code) const
{
    Outcome out;
    out.reply = exceptionReply(function, code);
    out.exception = true;
    return out;
}

SimModule::Outcome SimModule::process(const QByteArray &req)
{
    static constexpr struct {
        std::uint8_t function;
        Outcome (SimModule::*serve)(const QByteArray &);
    } kServes[] = {
        {0x01, &SimModule::readBits},      {0x02, &SimModule::readBits},      {0x03, &SimModule::readRegisters},
        {0x05, &SimModule::writeCoil},     {0x06, &SimModule::writeRegister}, {0x0F, &SimModule::writeMultiple},
        {0x10, &SimModule::writeMultiple},
    };
    const auto fn = std::uint8_t(req[1]);
    for (const auto &s : kServes) {
        if (s.function != fn)
            continue;
        // A frame whose length does not fit its function is noise: silence, as for a bad CRC.
        if (req.size() != requestLength(req))
            return {};
        return (this->*s.serve)(req);
    }
    return failure(fn, 0x01);
}

// 01 read coils, 02 read discrete inputs.
SimModule::Outcome SimModule::readBits(const QByteArray &req)
{
    const int start = wordAt(req, 2);
    const int count = wordAt(req, 4);
    const std::vector<bool> &bits = req[1] == 0x01 ? m_coils : m_inputs;
    if (count < 1 || count > 2000)
        return failure(std::uint8_t(req[1]), 0x03);
    if (start + count > int(bits.size()))
        return failure(std::uint8_t(req[1]), 0x02);
    const QByteArray data = packBits(QList<bool>(bits.begin() + start, bits.begin() + start + count));
    Outcome out;
    out.reply = req.left(2) + char(data.size()) + data;
    return out;
}

// 03 read holding registers: the data registers or the parameter registers, not across them.
SimModule::Outcome SimModule::readRegisters(const QByteArray &req)
{
    const int start = wordAt(req, 2);
    const int count = wordAt(req, 4);
    if (count < 1 || count > 125)
        return failure(0x03, 0x03);
    const bool inData = start + count <= holdingCount();
    const bool inParams = start >= kAddressRegister && start + count <= kModelRegister + 1;
    if (!inData && !inParams)
        return failure(0x03, 0x02);
    Outcome out;
    out.reply = req.left(2) + char(count * 2);
    for (int i = 0; i < count; ++i)
        appendWord(out.reply, holding(start + i));
    return out;
}

// 05 write single coil; the reply echoes the request.
SimModule::Outcome SimModule::writeCoil(const QByteArray &req)
{
    const int at = wordAt(req, 2);
    const std::uint16_t value = wordAt(req, 4);
    if (value != 0xFF00 && value != 0x0000)
        return failure(0x05, 0x03);
    if (at >= coilCount())
        return failure(0x05, 0x02);
    Outcome out;
    out.reply = req.left(6);
    out.effect = [this, at, value] { setCoil(at, value == 0xFF00); };
    return out;
}

// 06 write single register: the address (1..254), the code (1..8) or a writable data register.
SimModule::Outcome SimModule::writeRegister(const QByteArray &req)
{
    const int reg = wordAt(req, 2);
    const std::uint16_t value = wordAt(req, 4);
    Outcome out;
    out.reply = req.left(6);
    if (reg == kAddressRegister) {
        if (!isModuleAddress(value))
            return failure(0x06, 0x03);
        out.effect = [this, value] { m_address = std::uint8_t(value); };
    } else if (reg == kCodeRegister) {
        if (!isCode(value))
            return failure(0x06, 0x03);
        out.effect = [this, value] { m_code = value; };
    } else if (m_holdingWritable && reg < holdingCount()) {
        out.effect = [this, reg, value] { m_holding[std::size_t(reg)] = value; };
    } else {
        return failure(0x06, 0x02);
    }
    return out;
}

// 0F write multiple coils, 10 write multiple registers; the reply is the request's first six bytes.
SimModule::Outcome SimModule::writeMultiple(const QByteArray &req)
{
    const auto fn = std::uint8_t(req[1]);
    const int start = wordAt(req, 2);
    const int count = wordAt(req, 4);
    const int bytes = std::uint8_t(req[6]);
    const QByteArray data = req.mid(7, bytes);
    Outcome out;
    if (fn == 0x0F) {
        if (count < 1 || count > 1968 || bytes != (count + 7) / 8)
            return failure(fn, 0x03);
        if (start + count > coilCount())
            return failure(fn, 0x02);
        out.effect = [this, start, data = unpackBits(data, 0, count)] {
            std::copy(data.begin(), data.end(), m_coils.begin() + start);
        };
    } else {
        if (count < 1 || count > 123 || bytes != count * 2)
            return failure(fn, 0x03);
        if (!m_holdingWritable || start + count > holdingCount())
            return failure(fn, 0x02);
        out.effect = [this, start, count, data] {
            for (int i = 0; i < count; ++i)
                m_holding[std::size_t(start + i)] = wordAt(data, 2 * i);
        };
    }
    out.reply = req.left(6);
    return out;
}

QByteArray SimModule::handle(const QByteArray &request)
{
    if (faults.silent || request.size() < 4 || !crcOk(request))
        return {};
    const auto to = std::uint8_t(request[0]);
    const bool broadcast = to == 0;
    if (!broadcast && to != m_address)
        return {};
    Outcome out = process(request);
    if (out.reply.isEmpty())
        return {};

    if (broadcast) {
        // A module of this family answers a broadcast only for its parameter registers, so that
        // an installer can find a module whose address is unknown. Everything else follows the
        // Modbus rule: writes are carried out silently, reads and errors are ignored.
        const auto fn = std::uint8_t(request[1]);
        const int reg = wordAt(request, 2);
        const bool answered = !out.exception
            && ((fn == 0x03 && reg >= kAddressRegister) || (fn == 0x06 && (reg == kAddressRegister || reg == kCodeRegister)));
        if (!answered) {
            if (!out.exception && !faults.exception && !faults.noWrite && out.effect && fn != 0x03)
                out.effect();
            return {};
        }
    }

    QByteArray reply = faults.exception ? exceptionReply(std::uint8_t(request[1]), 0x01) : out.reply;
    if (broadcast)
        reply[0] = 0;
    reply = withCrc(reply);
    if (!faults.exception && !faults.noWrite && out.effect)
        out.effect();

    if (faults.garbageBytes > 0) {
        reply.resize(faults.garbageBytes);
        for (char &c : reply)
            c = char(QRandomGenerator::global()->bounded(256));
        return reply;
    }
    if (faults.badCrc)
        reply[reply.size() - 1] = char(~std::uint8_t(reply[reply.size() - 1]));
    if (faults.extraByte)
        reply += '\0';
    if (faults.truncate)
        reply.chop(1);
    return reply;
}

void SimModule::applyDemo()
{
    const double t = double(m_clockMs) / 1000.0;
    const int step = int((m_clockMs / 1000) % 16);
    for (int i = 0; i < discreteInputCount(); ++i)
        m_inputs[std::size_t(i)] = i == step;
    // Holding 0: a 0..4095 saw over 10 s; 1: a sine around mid-scale over 20 s; 2: a temperature
    // in tenths swinging 20.0..30.0 over a minute; 3: seconds since start. 4..7 are left alone.
    m_holding[0] = std::uint16_t((m_clockMs % 10000) * 4095 / 9999);
    m_holding[1] = std::uint16_t(std::lround(2048 + 2047 * std::sin(2 * std::numbers::pi * t / 20)));
    m_holding[2] = std::uint16_t(std::lround(250 + 50 * std::sin(2 * std::numbers::pi * t / 60)));
    m_holding[3] = std::uint16_t(m_clockMs / 1000);
}

void SimModule::tick(int elapsedMs)
{
    if (m_model != 0 || elapsedMs <= 0)
        return;
    m_clockMs += elapsedMs;
    applyDemo();
}

SimBus::SimBus() = default;
SimBus::~SimBus() = default;

SimModule *SimBus::addModule(int modelNumber, std::uint8_t address, int code)
{
    m_modules.push_back(std::make_unique<SimModule>(modelNumber, address, code));
    return m_modules.back().get();
}

QList<SimModule *> SimBus::modules() const
{
    QList<SimModule *> list;
    for (const auto &m : m_modules)
        list.append(m.get());
    return list;
}

QByteArray SimBus::exchange(const QByteArray &request, qint32 baud, char parity, int *delayMs, int *pieces,
                            int *pieceGapMs)
{
    QList<QByteArray> replies;
    SimFaults how;
    for (const auto &m : m_modules) {
        // Listening is decided before the request is handled: a module whose code the request
        // changes still answers at the old settings.
        if ((baud != 0 && baudForCode(m->code()) != baud) || (parity != 0 && parityForCode(m->code()) != parity))
            continue;
        const QByteArray reply = m->handle(request);
        if (reply.isEmpty())
            continue;
        if (replies.isEmpty()) {
            how = m->faults;
        } else {
            how.delayMs = qMax(how.delayMs, m->faults.delayMs);
            how.pieces = 1;
            how.pieceGapMs = 0;
        }
        replies.append(reply);
    }

    QByteArray line;
    if (replies.size() == 1) {
        line = replies.first();
    } else if (replies.size() > 1) {
        for (const QByteArray &r : std::as_const(replies)) {
            if (r.size() > line.size())
                line.resize(r.size(), '\0');
            for (qsizetype i = 0; i < r.size(); ++i)
                line[i] = char(std::uint8_t(line[i]) | std::uint8_t(r[i]));
        }
        // Identical replies would survive the overlay; on a real line two drivers never line up
        // bit for bit, so the master must not see a clean frame.
        if (crcOk(line))
            line[line.size() - 1] = char(~std::uint8_t(line[line.size() - 1]));
    }
    if (delayMs)
        *delayMs = line.isEmpty() ? 0 : how.delayMs;
    if (pieces)
        *pieces = line.isEmpty() ? 0 : qMax(1, how.pieces);
    if (pieceGapMs)
        *pieceGapMs = line.isEmpty() ? 0 : how.pieceGapMs;
    return line;
}

void SimBus::tick(int elapsedMs)
{
    for (const auto &m : m_modules)
        m->tick(elapsedMs);
}

QList<QByteArray> splitReply(const QByteArray &reply, int pieces)
{
    QList<QByteArray> parts;
    const qsizetype n = std::clamp<qsizetype>(pieces, 1, qMax<qsizetype>(1, reply.size()));
    qsizetype at = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype len = (reply.size() - at) / (n - i);
        parts.append(reply.mid(at, len));
        at += len;
    }
    return parts;
}
