#include "CommandExchange.h"

#include "Clock.h"
#include "ExchangeTrace.h"
#include "SerialPort.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>

CommandExchange::CommandExchange(SerialPort &port, Clock &clock)
    : m_port(port), m_clock(clock), m_eventPump([] { QCoreApplication::processEvents(); })
{
}

bool CommandExchange::SendCmd(const QString &command)
{
    return exchange(command, Timing::Cmd);
}

bool CommandExchange::SendCmdLong(const QString &command)
{
    return exchange(command, Timing::Long);
}

bool CommandExchange::SendCmdSlow(const QString &command)
{
    return exchange(command, Timing::Slow);
}

bool CommandExchange::SendCmdPaced(const QString &command)
{
    return exchange(command, Timing::Paced);
}

bool CommandExchange::exchange(const QString &command, const ExchangeTiming &timing)
{
    // Only the raw clocks are read before the exchange; the record is made and written after
    // it, so that the line's timing stays as it is.
    const qint64 startedAt = m_trace ? QDateTime::currentMSecsSinceEpoch() : 0;
    const std::uint32_t startTick = m_trace ? m_clock.tickMs() : 0;
    const bool found = run(command, timing);
    ++m_exchanges;
    if (!found)
        ++m_failures;
    if (m_trace) {
        const std::uint32_t elapsed = tickElapsed(startTick, m_clock.tickMs());
        m_trace->exchanged({ QDateTime::fromMSecsSinceEpoch(startedAt),
                             QLatin1String(timing.routine), command, RxBuffer, elapsed, found });
    }
    return found;
}

bool CommandExchange::fitsTheLine(const QString &command)
{
    if (command.size() > MaxCommandChars)
        return false;
    return std::all_of(command.cbegin(), command.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u >= 0x20 && u != 0x7F && u <= 0xFF;
    });
}

bool CommandExchange::run(const QString &command, const ExchangeTiming &timing)
{
    if (!fitsTheLine(command)) {
        // Cut or re-encoded, the drive would receive another command than the one built.
        RxBuffer.clear();
        return false;
    }
    CommDone = false;

    m_port.readAll();
    RxBuffer.clear();

    if (timing.waitBeforeWrite > 0)
        Delay(timing.waitBeforeWrite);

    // A line that will not take the bytes (a server that stops reading) may hold the writes
    // together no longer than the reply window would last.
    int writeBudget = timing.limit;
    const auto write = [&](const QByteArray &bytes) {
        const std::uint32_t start = m_clock.tickMs();
        const bool ok = m_port.write(bytes, std::max(0, writeBudget));
        writeBudget -= static_cast<int>(tickElapsed(start, m_clock.tickMs()));
        return ok;
    };
    const QByteArray bytes = command.toLatin1();
    bool written = true;
    if (timing.paced) {
        for (int i = 0; i < bytes.size() && written; ++i) {
            written = write(bytes.mid(i, 1));
            Delay(Timing::PacedCharGap);
        }
        written = written && write(QByteArray("\r"));
    } else {
        written = write(bytes + '\r');
    }
    if (!written || !m_port.isUsable()) {
        // A port that is closed or gone cannot answer; waiting out the limit would only
        // freeze the window.
        CommDone = true;
        return false;
    }

    Delay(timing.initialWait);

    const std::uint32_t windowStart = m_clock.tickMs();
    bool promptFound = false;
    for (;;) {
        appendInput(m_port.readAll(), promptFound);
        Delay(timing.pollStep);
        if (promptFound)
            break;
        if (tickElapsed(windowStart, m_clock.tickMs()) > static_cast<std::uint32_t>(timing.limit))
            break;
        if (!m_port.isUsable())
            break;
    }

    if (timing.waitAfterLoop > 0)
        Delay(timing.waitAfterLoop);

    CommDone = true;
    return promptFound;
}

void CommandExchange::appendInput(const QByteArray &bytes, bool &promptFound)
{
    if (bytes.isEmpty())
        return;
    if (bytes.contains('>'))
        promptFound = true;
    const int room = MaxReplyBytes - RxBuffer.size();
    if (room > 0)
        RxBuffer += QString::fromLatin1(bytes.left(room));
}

void CommandExchange::Delay(std::int32_t msecond)
{
    const std::uint32_t start = m_clock.tickMs();
    // Strictly greater: Delay(5) lasts until the counter has moved on by 6.
    while (static_cast<std::int64_t>(tickElapsed(start, m_clock.tickMs())) <= msecond)
        pause();
}

bool CommandExchange::Delay(std::int32_t msecond, const std::function<bool()> &stop)
{
    const std::uint32_t start = m_clock.tickMs();
    while (static_cast<std::int64_t>(tickElapsed(start, m_clock.tickMs())) <= msecond) {
        if (stop())
            return false;
        pause();
    }
    return !stop();
}

void CommandExchange::DelayDoEvents(std::int32_t msecond)
{
    const std::uint32_t start = m_clock.tickMs();
    for (;;) {
        m_eventPump();
        if (static_cast<std::int64_t>(tickElapsed(start, m_clock.tickMs())) > msecond)
            break;
        pause();
    }
}

void CommandExchange::setEventPump(std::function<void()> pump)
{
    m_eventPump = std::move(pump);
}

void CommandExchange::pause()
{
    // One millisecond at most, so that the strict "> msecond" test is met on time. On an
    // open port the sleep also pulls arriving bytes into the port's buffer.
    if (m_port.isUsable())
        m_port.waitForInput(1);
    else
        m_clock.sleepMs(1);
}
