#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class Clock;
class ExchangeTrace;
class SerialPort;

// How one of the four exchange routines frames a command and waits for the prompt.
struct ExchangeTiming {
    const char *routine; // the routine's name, for the trace
    int waitBeforeWrite; // ms after the flush, before the command goes out
    bool paced; // one character at a time, 5 ms apart, then CR alone
    int initialWait; // ms after writing, before the reply window opens
    int pollStep; // ms between reads of the input
    int limit; // the reply window ends once elapsed time exceeds this
    int waitAfterLoop; // ms after the prompt was found or the window closed
};

namespace Timing {
inline constexpr ExchangeTiming Cmd { "SendCmd", 0, false, 10, 5, 200, 0 };
inline constexpr ExchangeTiming Long { "SendCmdLong", 0, false, 20, 5, 2000, 0 };
inline constexpr ExchangeTiming Slow { "SendCmdSlow", 5, false, 50, 15, 3000, 15 };
inline constexpr ExchangeTiming Paced { "SendCmdPaced", 0, true, 10, 5, 8000, 0 };
inline constexpr int PacedCharGap = 5;
} // namespace Timing

// The synchronous command/reply exchange with a drive: flush, write, busy-wait for ">".
// Waits never process window events (except DelayDoEvents) and sleep at most 1 ms a
// pass, so they neither let another handler in nor spin a core.
class CommandExchange {
public:
    // Largest reply kept; input beyond it is still searched for the prompt.
    static constexpr int MaxReplyBytes = 256 * 1024;
    // The protocol counts a command's characters in 16 bits.
    static constexpr int MaxCommandChars = 32767;

    // Whether the line would carry the command as built: one byte per character, no line
    // end or other control character inside it, and no more than MaxCommandChars.
    static bool fitsTheLine(const QString &command);

    CommandExchange(SerialPort &port, Clock &clock);

    bool SendCmd(const QString &command);
    bool SendCmdLong(const QString &command);
    bool SendCmdSlow(const QString &command);
    bool SendCmdPaced(const QString &command);
    bool exchange(const QString &command, const ExchangeTiming &timing);

    void Delay(std::int32_t msecond);
    // The same wait, ended early once `stop` says so; false then.
    bool Delay(std::int32_t msecond, const std::function<bool()> &stop);
    void DelayDoEvents(std::int32_t msecond);

    // The port the exchanges go through: whether it is still usable, and why not.
    SerialPort &port() { return m_port; }
    const SerialPort &port() const { return m_port; }

    // What DelayDoEvents runs on each pass; QCoreApplication::processEvents by default.
    void setEventPump(std::function<void()> pump);
    // Where every exchange is reported once it has ended; none by default.
    void setTrace(ExchangeTrace *trace) { m_trace = trace; }

    // Exchanges made and those that got no prompt, since construction (for soak runs).
    quint64 exchangeCount() const { return m_exchanges; }
    quint64 failureCount() const { return m_failures; }

    // Reply of the latest exchange, one character per byte received.
    QString RxBuffer;
    // False only while an exchange runs.
    bool CommDone = true;

private:
    bool run(const QString &command, const ExchangeTiming &timing);
    void appendInput(const QByteArray &bytes, bool &promptFound);
    void pause();

    SerialPort &m_port;
    Clock &m_clock;
    std::function<void()> m_eventPump;
    ExchangeTrace *m_trace = nullptr;
    quint64 m_exchanges = 0;
    quint64 m_failures = 0;
};
