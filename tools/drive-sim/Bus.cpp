#include "Bus.h"

#include "CommandLine.h"

#include <algorithm>

namespace {
const std::string LineTooLong = "?5";
// Line noise as a drive's transmitter makes it while it switches on.
const std::string Garbage = "\x15~\xFF";
} // namespace

Bus::Bus(const std::vector<int> &stations, const std::vector<int> &newRecorderStations)
{
    for (const int number : stations) {
        if (number < 0 || number >= StationLimit)
            continue;
        const bool isNew = std::find(newRecorderStations.begin(), newRecorderStations.end(), number)
            != newRecorderStations.end();
        m_stations[number] = std::make_unique<Station>(
            number, isNew ? Recorder::Variant::New : Recorder::Variant::Classic);
    }
}

Station *Bus::station(int number)
{
    const auto it = m_stations.find(number);
    return it == m_stations.end() ? nullptr : it->second.get();
}

std::vector<Station *> Bus::stations()
{
    std::vector<Station *> list;
    for (auto &entry : m_stations)
        list.push_back(entry.second.get());
    return list;
}

void Bus::advanceTo(std::int64_t us)
{
    // 20480 steps a second: us * 20480 / 10^6 without rounding drift.
    const std::int64_t target = us * 128 / 6250;
    for (; m_steps < target; ++m_steps) {
        for (auto &entry : m_stations)
            entry.second->step();
    }
}

void Bus::receive(const std::string &bytes, std::int64_t us)
{
    advanceTo(us);
    for (const char c : bytes)
        takeByte(c, us);
}

void Bus::takeByte(char c, std::int64_t us)
{
    const bool wasCr = m_lastWasCr;
    m_lastWasCr = c == '\r';
    if (c == '\r' || c == '\n') {
        if (c == '\n' && wasCr)
            return; // CR LF ends one line, not two
        const std::string line = m_line;
        const bool overlong = m_overlong;
        m_line.clear();
        m_overlong = false;
        handleLine(line, overlong, us);
        return;
    }
    if (c == '\b' || c == 0x7F) {
        if (!m_line.empty() && !m_overlong)
            m_line.pop_back();
        return;
    }
    if (c == '\t')
        c = ' ';
    // NUL and other control bytes are line noise.
    if (static_cast<unsigned char>(c) < 0x20)
        return;
    if (m_line.size() >= MaxLineLength) {
        m_overlong = true;
        return;
    }
    m_line += c;
}

void Bus::handleLine(const std::string &line, bool overlong, std::int64_t us)
{
    Station *current = station(m_addressed);
    if (overlong) {
        if (current)
            queueReply(*current, LineTooLong + Station::ReplyEnd, us);
        return;
    }
    const std::vector<std::string> words = CommandLine::split(line);
    if (!words.empty() && words.front() == "ST") {
        const auto number = words.size() == 2 ? CommandLine::parseInteger(words[1])
                                              : std::optional<std::int64_t>();
        if (!number || *number < 0 || *number >= StationLimit) {
            if (current)
                queueReply(*current, std::string("?2") + Station::ReplyEnd, us);
            return;
        }
        m_addressed = static_cast<int>(*number);
        if (Station *target = station(m_addressed))
            queueReply(*target, target->addressed(), us);
        return;
    }
    if (!current)
        return;
    Station::Execution result = current->execute(line);
    if (result.saved && m_saveHandler)
        m_saveHandler(*current);
    queueReply(*current, std::move(result.reply), us);
}

void Bus::queueReply(const Station &station, std::string reply, std::int64_t us)
{
    const FaultSet &faults = station.faults();
    if (faults.silent)
        return;
    if (faults.garbage)
        reply = Garbage + reply;
    const std::int64_t due = us + std::int64_t(faults.delayMs) * 1000;
    if (faults.splitPromptMs >= 0 && !reply.empty() && reply.back() == '>') {
        reply.pop_back();
        m_pending.push_back({ due, reply });
        m_pending.push_back({ due + std::int64_t(faults.splitPromptMs) * 1000, ">" });
    } else {
        m_pending.push_back({ due, reply });
    }
    // Pieces leave in the order of their due times; a quick reply to a later command may
    // pass a delayed one, as when a slow drive answers late on a shared line.
    std::stable_sort(m_pending.begin(), m_pending.end(),
                     [](const Output &a, const Output &b) { return a.dueUs < b.dueUs; });
}

std::string Bus::takeDue(std::int64_t us)
{
    std::string bytes;
    while (!m_pending.empty() && m_pending.front().dueUs <= us) {
        bytes += m_pending.front().bytes;
        m_pending.pop_front();
    }
    return bytes;
}

std::optional<std::int64_t> Bus::nextDue() const
{
    if (m_pending.empty())
        return std::nullopt;
    return m_pending.front().dueUs;
}

void Bus::discardPending()
{
    m_pending.clear();
    m_line.clear();
    m_overlong = false;
}
