#pragma once

#include "Bus.h"

#include <QString>

#include <cstdint>
#include <string>

// Drives a bus in simulated time: a command goes out, time moves on far enough for any
// reply, and whatever the stations sent comes back.
struct SimHarness {
    explicit SimHarness(const std::vector<int> &stations = { 0 },
                        const std::vector<int> &newRecorder = {})
        : bus(stations, newRecorder)
    {
    }

    QString exchange(const std::string &command, std::int64_t replyWindowUs = 5000)
    {
        bus.receive(command + "\r", nowUs);
        runMs(replyWindowUs / 1000.0);
        return QString::fromLatin1(bus.takeDue(nowUs).c_str());
    }

    void runMs(double ms)
    {
        nowUs += static_cast<std::int64_t>(ms * 1000.0);
        bus.advanceTo(nowUs);
    }

    Bus bus;
    std::int64_t nowUs = 0;
};
