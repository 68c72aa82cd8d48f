#pragma once

#include "CountingPort.h"

#include <QList>

#include <algorithm>

// The least time the line protocol allows for some traffic: its fixed waits, its poll grid
// and the bytes' time on the wire. The numbers are written out here rather than taken from
// the console, so that a wrong constant there shows up as a ratio below 1.
namespace ProtocolMinimum {

// Ten bits a byte at 38400 baud.
inline constexpr double ByteMs = 10.0 * 1000.0 / 38400.0;

struct Routine {
    const char *name;
    double before; // wait after the flush, before writing
    double charGap; // after each character of a paced command
    double initial; // after writing, before the first read
    double step; // between reads
    double after; // once the prompt was seen
};

inline constexpr Routine Cmd { "SendCmd", 0, 0, 10, 5, 0 };
inline constexpr Routine Long { "SendCmdLong", 0, 0, 20, 5, 0 };
inline constexpr Routine Slow { "SendCmdSlow", 5, 0, 50, 15, 15 };
inline constexpr Routine Paced { "SendCmdPaced", 0, 5, 10, 5, 0 };

// The prompt can be seen no earlier than the window opens or its byte arrives, whichever is
// later, and one poll step follows the read that sees it. Where that read falls on the poll
// grid depends on how the waits happen to line up, so the grid is not counted: this is a
// lower bound that no implementation of the waits can beat.
inline double exchangeMs(const Routine &r, int commandChars, qint64 replyBytes, bool wireSpeed)
{
    const double transfer = wireSpeed ? replyBytes * ByteMs : 0.0;
    return r.before + r.charGap * commandChars + std::max(r.initial, transfer) + r.step + r.after;
}

// Which routine the console used, from the command and how it was written.
inline const Routine &routineFor(const CountingPort::Exchange &e)
{
    if (e.writes > 1)
        return Paced;
    if (e.command.startsWith("RO"))
        return Slow;
    if (e.command.startsWith("ST "))
        return Cmd;
    return Long;
}

inline double exchangeMs(const CountingPort::Exchange &e, bool wireSpeed)
{
    const int chars = static_cast<int>(e.command.size()) - (e.command.endsWith('\r') ? 1 : 0);
    return exchangeMs(routineFor(e), chars, e.replyBytes, wireSpeed);
}

inline double logMs(const QList<CountingPort::Exchange> &log, bool wireSpeed)
{
    double sum = 0;
    for (const CountingPort::Exchange &e : log)
        sum += exchangeMs(e, wireSpeed);
    return sum;
}

} // namespace ProtocolMinimum
