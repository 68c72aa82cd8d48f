#pragma once

#include "Station.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The multi-drop line as the drives see it: it assembles command lines from the bytes
// received, routes each to the addressed station, and queues the replies with the time
// (in microseconds of the bus's own clock) at which each piece goes on the line.
class Bus final {
public:
    static constexpr std::size_t MaxLineLength = 80;
    static constexpr int StationLimit = 16;

    struct Output {
        std::int64_t dueUs;
        std::string bytes;
    };

    Bus(const std::vector<int> &stations, const std::vector<int> &newRecorderStations);

    Station *station(int number);
    std::vector<Station *> stations();
    int addressed() const { return m_addressed; }

    // Runs every station's model up to this time.
    void advanceTo(std::int64_t us);
    // Bytes from the line, received at this time; the models are brought up to it first.
    void receive(const std::string &bytes, std::int64_t us);

    // Reply pieces due by this time, in order.
    std::string takeDue(std::int64_t us);
    std::optional<std::int64_t> nextDue() const;
    // The line went away: nothing queued reaches anyone, and half a line is forgotten.
    void discardPending();

    void setSaveHandler(std::function<void(const Station &)> handler)
    {
        m_saveHandler = std::move(handler);
    }

private:
    void takeByte(char c, std::int64_t us);
    void handleLine(const std::string &line, bool overlong, std::int64_t us);
    void queueReply(const Station &station, std::string reply, std::int64_t us);

    std::map<int, std::unique_ptr<Station>> m_stations;
    int m_addressed = -1;
    std::int64_t m_steps = 0;
    std::string m_line;
    bool m_overlong = false;
    bool m_lastWasCr = false;
    std::deque<Output> m_pending;
    std::function<void(const Station &)> m_saveHandler;
};
