// What every fuzz target shares: a check that stays on in optimised builds, and a reader that
// turns the fuzzer's bytes into a few small decisions followed by raw data.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, so libFuzzer keeps the input as a crash and the run fails.
#define FUZZ_CHECK(cond)                                                                             \
    ((cond) ? void()                                                                                 \
            : (std::fprintf(stderr, "invariant broken: %s at %s:%d\n", #cond, __FILE__, __LINE__), std::abort()))

class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size)
        : m_bytes(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)))
    {
    }

    bool atEnd() const { return m_at >= m_bytes.size(); }
    // Past the end every decision reads as 0, so short inputs still run the whole target.
    std::uint8_t byte() { return atEnd() ? 0 : std::uint8_t(m_bytes[m_at++]); }
    std::uint16_t word()
    {
        const int high = byte();
        return std::uint16_t(high << 8 | byte());
    }
    QByteArray bytes(qsizetype n)
    {
        const QByteArray b = m_bytes.mid(m_at, n);
        m_at += b.size();
        return b;
    }
    QByteArray rest() { return bytes(m_bytes.size()); }

private:
    const QByteArray m_bytes; // the fuzzer's buffer, not copied: it outlives the input
    qsizetype m_at = 0;
};
