#pragma once

#include <cstdint>

// Millisecond time source for the protocol's waits. It behaves like the operating
// system's tick counter (unsigned 32 bits, wraps after ~49.7 days), so every wait
// measures elapsed time with tickElapsed() and never compares raw ticks.
class Clock {
public:
    virtual ~Clock() = default;

    virtual std::uint32_t tickMs() = 0;
    // Blocks the calling thread for about ms milliseconds, never noticeably longer.
    virtual void sleepMs(int ms) = 0;
};

// Modular difference: correct across a wrap of the counter.
constexpr std::uint32_t tickElapsed(std::uint32_t start, std::uint32_t now)
{
    return now - start;
}

// Monotonic wall time (std::chrono::steady_clock), truncated to 32 bits.
class SteadyClock final : public Clock {
public:
    std::uint32_t tickMs() override;
    void sleepMs(int ms) override;
};
