// A write meant for one module is made to one module: the parameter reads around korvant-cli's
// set-address --to-address and set-comm --address, as steps the caller drives over its line (a
// window's "Set address…" can drive the same). Before the write, the module's address must hold
// one module, and a new address none; after it, the module must answer where the write sent it.
#pragma once

#include "linesettings.h"
#include "modbus.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// Who answered a parameter read to one address (or the broadcast), judged with the echo set
// aside: nothing is nobody; a valid reply or an exception is one module; bytes that fail the
// check are several modules whose replies collided.
enum class Presence { Nobody, One, Several };
Presence presenceOf(const ReplyVerdict &verdict);

class OneModuleWrite
{
public:
    // set-address: the module at address from gets address to.
    static OneModuleWrite address(std::uint8_t from, std::uint8_t to);
    // set-comm: the module at address gets communication-parameter code 1..8; the caller opens
    // the line at the code's settings before the Verify step.
    static OneModuleWrite comm(std::uint8_t address, int code);

    // Check reads the module's address, Free the new address (set-address to another address
    // than 0 and its own), Write writes, Verify reads the module where the write sent it.
    enum class Step { Check, Free, Write, Verify, Done };
    enum class Outcome { Pending, Written, Several, Nobody, Taken, WriteRefused, NotThere };

    Step step() const { return m_step; }
    Outcome outcome() const { return m_outcome; }
    // The request of the step.
    QByteArray request() const;
    // The settings the Verify step reads at, from those of the line before: set-comm's code's.
    LineSettings lineAfter(LineSettings line) const;
    // The verdict on the step's exchange: the next step, or Done with the outcome.
    void heard(const ReplyVerdict &verdict);
    // Why it ended as it did, for a refusal ("address 4 is taken, so nothing was written"); empty
    // for Written and WriteRefused (the write's verdict says why).
    QString refusal() const;
    // The outcome as a JSON verdict key: "ok", "collision", "timeout", "taken", "not_there";
    // empty for WriteRefused.
    QString key() const;

private:
    OneModuleWrite(std::uint8_t module, int target, int code) : m_module(module), m_target(target), m_code(code) {}
    std::uint8_t m_module;
    int m_target; // the address the module answers at after the write
    int m_code;   // set-comm's code, 0 for set-address
    Step m_step = Step::Check;
    Outcome m_outcome = Outcome::Pending;
    bool m_written = false; // the write was answered well
};
