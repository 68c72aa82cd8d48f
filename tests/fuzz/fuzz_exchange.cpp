// One exchange with a drive whose reply is the fuzzer's bytes, arriving in pieces over
// virtual time. What the readers make of a reply is fuzzed by their own targets.
#include "CommandExchange.h"
#include "FuzzBytes.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

namespace {
struct Routine {
    bool (CommandExchange::*send)(const QString &);
    const char *command;
};
constexpr Routine Routines[] = {
    { &CommandExchange::SendCmd, "RD 12" },
    { &CommandExchange::SendCmdLong, "RV 8" },
    { &CommandExchange::SendCmdSlow, "RO" },
    { &CommandExchange::SendCmdPaced, "SV" },
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    const std::uint8_t choice = in.byte();
    const Routine &routine = Routines[choice & 3];
    // Near the counter's wrap now and then.
    VirtualClock clock((choice & 4) ? 0xFFFFFF00u : 1000u);
    ScriptedSerialPort port(clock);
    port.setPortName(QStringLiteral("/dev/ttyUSB0"));
    port.open();
    // Stale input that the flush before the command must drop.
    if (choice & 8)
        port.schedule(QByteArray("9;\r\n>"), 0);

    // Pieces: a delay byte (32 ms units, past the longest window), a length byte, the bytes.
    // They are scheduled once the command line is complete.
    QList<QPair<int, QByteArray>> pieces;
    QByteArray all;
    while (in.remaining() > 0) {
        const int delay = in.byte() * 32;
        const QByteArray bytes = in.text(in.byte()).toLatin1();
        pieces.append({ delay, bytes });
        all += bytes;
    }
    port.setResponder([&pieces](ScriptedSerialPort &p, const QByteArray &) {
        for (const auto &piece : pieces)
            p.schedule(piece.second, piece.first);
    });

    CommandExchange link(port, clock);
    const bool found = (link.*routine.send)(QString::fromLatin1(routine.command));
    FUZZ_CHECK(link.CommDone);
    FUZZ_CHECK(link.RxBuffer.size() <= CommandExchange::MaxReplyBytes);
    FUZZ_CHECK(found == link.RxBuffer.contains(QLatin1Char('>')));
    FUZZ_CHECK(link.RxBuffer.size() <= all.size());
    FUZZ_CHECK(link.exchangeCount() == 1 && link.failureCount() == (found ? 0u : 1u));
    return 0;
}
