#include "SimulatedLine.h"

#include <algorithm>
#include <limits>

namespace {
constexpr double ByteUs = 1.0e6 * 10.0 / 38400.0; // start, 8 data, stop
constexpr std::int64_t Never = std::numeric_limits<std::int64_t>::max();
} // namespace

SimulatedLine::SimulatedLine(const std::vector<int> &stations,
                             const std::vector<int> &newRecorderStations, std::uint32_t startTick)
    : m_bus(stations, newRecorderStations), m_startTick(startTick)
{
}

void SimulatedLine::advanceUs(std::int64_t us)
{
    if (us <= 0)
        return;
    m_nowUs += us;
    pump();
}

void SimulatedLine::pump()
{
    m_bus.advanceTo(m_nowUs);
    // Pieces go out in the order the bus has them due, each byte after the one before.
    while (const auto due = m_bus.nextDue()) {
        if (*due > m_nowUs)
            break;
        const std::string bytes = m_bus.takeDue(*due);
        double at = std::max(m_lineFreeUs, double(*due));
        for (const char c : bytes) {
            at += ByteUs;
            m_inFlight.push_back({ at, c });
        }
        m_lineFreeUs = at;
    }
    while (!m_inFlight.empty() && m_inFlight.front().arrivesUs <= double(m_nowUs)) {
        if (isUsable())
            m_received += m_inFlight.front().byte;
        m_inFlight.pop_front();
    }
}

std::int64_t SimulatedLine::nextArrivalUs() const
{
    double at;
    if (!m_inFlight.empty())
        at = m_inFlight.front().arrivesUs;
    else if (const auto due = m_bus.nextDue())
        at = std::max(m_lineFreeUs, double(*due)) + ByteUs;
    else
        return Never;
    // The first whole microsecond at which the byte is in.
    return std::max(m_nowUs + 1, static_cast<std::int64_t>(at) + 1);
}

void SimulatedLine::dropLine()
{
    m_present = false;
    m_bus.discardPending();
    m_inFlight.clear();
    m_received.clear();
}

std::uint32_t SimulatedLine::tickMs()
{
    return static_cast<std::uint32_t>(m_startTick + static_cast<std::uint64_t>(m_nowUs / 1000));
}

void SimulatedLine::sleepMs(int ms)
{
    advanceUs(std::int64_t(std::max(ms, 0)) * 1000);
}

bool SimulatedLine::open()
{
    if (!m_present)
        return false;
    m_open = true;
    // Opening drops whatever was pending, as a real port's open does.
    pump();
    m_inFlight.clear();
    m_received.clear();
    return true;
}

bool SimulatedLine::write(const QByteArray &data, int /*timeoutMs*/)
{
    if (!isUsable())
        return false;
    m_bus.receive(data.toStdString(), m_nowUs);
    pump();
    return true;
}

QByteArray SimulatedLine::readAll()
{
    if (!isUsable())
        return {};
    pump();
    QByteArray bytes;
    bytes.swap(m_received);
    return bytes;
}

void SimulatedLine::waitForInput(int ms)
{
    if (ms <= 0)
        return;
    const std::int64_t end = m_nowUs + std::int64_t(ms) * 1000;
    // A usable port wakes when the next byte is in; a closed or failed one sleeps it out.
    const std::int64_t wake = isUsable() ? std::min(end, nextArrivalUs()) : end;
    advanceUs(wake - m_nowUs);
}

QString SimulatedLine::errorString() const
{
    if (!m_present)
        return QStringLiteral("the simulated line is gone");
    return m_open ? QString() : QStringLiteral("the simulated port is not open");
}
