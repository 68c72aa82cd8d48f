#pragma once

#include "Clock.h"

// Clock for tests: time moves only when something sleeps, so an 8 s time-out costs
// microseconds. It can start just short of the counter's wrap.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint32_t start = 1000) : m_now(start) { }

    std::uint32_t tickMs() override { return static_cast<std::uint32_t>(m_now); }
    void sleepMs(int ms) override { advance(ms > 0 ? ms : 0); }

    void advance(std::int64_t ms) { m_now += ms; }
    // Elapsed virtual time since construction, without the 32-bit wrap.
    std::int64_t now() const { return m_now; }

private:
    std::int64_t m_now;
};
