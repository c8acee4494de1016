// What every fuzz target shares: a check that stays on in optimised builds, and a reader that
// turns the fuzzer's bytes into a few small decisions followed by raw data.
#pragma once

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, so libFuzzer keeps the input as a crash and the run fails.
#define FUZZ_CHECK(cond)                                                                             \
    do {                                                                                             \
        if (!(cond)) {                                                                               \
            std::fprintf(stderr, "invariant broken: %s at %s:%d\n", #cond, __FILE__, __LINE__);     \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)

class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_at >= m_size; }
    std::size_t remaining() const { return m_size - m_at; }

    // Past the end every decision reads as 0, so short inputs still run the whole target.
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t word()
    {
        const std::uint16_t hi = byte();
        return std::uint16_t(hi << 8 | byte());
    }
    QByteArray bytes(std::size_t n)
    {
        n = std::min(n, remaining());
        QByteArray b(reinterpret_cast<const char *>(m_data + m_at), qsizetype(n));
        m_at += n;
        return b;
    }
    QByteArray rest() { return bytes(remaining()); }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};
