#pragma once

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes the fuzzer's bytes from the front: small choices first, the rest as line text.
class FuzzBytes {
public:
    FuzzBytes(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) { }

    // One byte, or 0 once the input is used up.
    std::uint8_t byte() { return m_size == 0 ? 0 : (--m_size, *m_data++); }

    // Up to n bytes as text, one character per byte, as the port hands them over.
    QString text(std::size_t n)
    {
        n = std::min(n, m_size);
        const QString s = QString::fromLatin1(reinterpret_cast<const char *>(m_data), qsizetype(n));
        m_data += n;
        m_size -= n;
        return s;
    }
    QString rest() { return text(m_size); }
    std::size_t remaining() const { return m_size; }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
};

// A broken invariant is a finding: abort so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
