// The drive line through ser2net on loopback, raw TCP and RFC 2217, against the same simulator
// on its pseudo-terminal directly: one exchange ("RV 8", SendCmdLong), the 25-parameter read,
// and a capture (PCMD + PFBK, 512 values, span 100 ms). Two drives: one that paces its replies
// at wire speed, and one that sends each whole reply at once, 18 ms after the command (late in
// SendCmdLong's 20 ms initial wait, where a few milliseconds more cost a whole poll step); the
// second also behind ser2net as it comes, without the README's options.
// The three ports take turns round by round, so that the machine's load falls on all alike;
// each figure is a median, and each network figure a ratio to the direct one.
//
//   bench_network [--quick]
#include "Clock.h"
#include "Measure.h"
#include "Ser2net.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"
#include "ToolSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

double timed(const std::function<bool()> &work, int &failed)
{
    QElapsedTimer t;
    t.start();
    failed += work() ? 0 : 1;
    return t.nsecsElapsed() / 1e6;
}

const QStringList Kinds { QStringLiteral("direct"), QStringLiteral("socket://"),
                          QStringLiteral("rfc2217://") };
const QStringList Works { QStringLiteral("one exchange, \"RV 8\" (`SendCmdLong`)"),
                          QStringLiteral("the 25-parameter read (`vcm-tool read`)"),
                          QStringLiteral("a capture, PCMD + PFBK, 512 values, span 100 ms") };

// [kind][work]: times in ms. Empty when the drive could not be reached.
using Times = std::vector<std::vector<std::vector<double>>>;

Times measure(const QStringList &simArgs, int delayMs, const QString &options, int rounds,
              int &failed)
{
    Times took(3, std::vector<std::vector<double>>(3));
    SimProcess sim(simArgs + QStringList { QStringLiteral("--stations"), QStringLiteral("1") });
    Ser2net server(sim.path(), QStringLiteral("38400n81"), options);
    if (sim.path().isEmpty() || !server.start()) {
        say(QStringLiteral("cannot start the simulator and ser2net"));
        return {};
    }
    if (delayMs > 0 && sim.command(QStringLiteral("fault 1 delay %1").arg(delayMs)) != "ok") {
        say(QStringLiteral("the simulator takes no reply delay"));
        return {};
    }
    const QStringList ports { sim.path(), server.rawPort(), server.rfc2217Port() };
    CaptureRequest capture;
    capture.channels[0] = capture.channels[1] = true;
    capture.span = QStringLiteral("100");

    SteadyClock clock;
    QString output, errors;
    QTextStream out(&output), err(&errors);
    for (int round = 0; round <= rounds; ++round) {
        for (int k = 0; k < 3; ++k) {
            SystemSerialPort port;
            port.setPortName(ports[k]);
            ToolSession session(port, clock, out, err);
            // ser2net releases the device a moment after the previous client has gone.
            for (int tries = 0; !port.open() && tries < 30; ++tries)
                QThread::msleep(100);
            if (!port.isOpen() || session.address(1) != ToolExit::Done) {
                say(QStringLiteral("%1: cannot reach station 1: %2")
                        .arg(Kinds[k], port.errorString()));
                return {};
            }
            const double one = timed([&] { return session.link().SendCmdLong("RV 8"); }, failed);
            const double read = timed([&] { return session.read() == ToolExit::Done; }, failed);
            const double rec
                = timed([&] { return session.capture(capture) == ToolExit::Done; }, failed);
            port.close();
            output.clear();
            if (round == 0)
                continue; // warming up
            took[k][0].push_back(one);
            took[k][1].push_back(read);
            took[k][2].push_back(rec);
        }
    }
    if (!errors.isEmpty())
        say(errors.trimmed());
    return took;
}

void table(const QString &drive, const Times &took, int rounds)
{
    say(QStringLiteral("\n| work (median of %1, %2) | direct | `socket://` | `rfc2217://` |")
            .arg(rounds)
            .arg(drive));
    say(QStringLiteral("|---|---|---|---|"));
    for (int w = 0; w < 3; ++w) {
        const double direct = Measure::median(took[0][w]);
        QString row = QStringLiteral("| %1 | %2 ms |").arg(Works[w]).arg(direct, 0, 'f', 1);
        for (int k = 1; k < 3; ++k) {
            const double m = Measure::median(took[k][w]);
            row += QStringLiteral(" %1 ms (%2) |").arg(m, 0, 'f', 1).arg(m / direct, 0, 'f', 3);
        }
        say(row);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int rounds = 11;
    if (argc > 1 && QByteArray(argv[1]) == "--quick") {
        rounds = 3;
    } else if (argc > 1) {
        std::fprintf(stderr, "usage: bench_network [--quick]\n");
        return 2;
    }
    if (Ser2net::program().isEmpty()) {
        say(QStringLiteral("no ser2net: scripts/setup installs it"));
        return 1;
    }
    say(QStringLiteral("load average at start: %1").arg(Measure::loadAverage()));
    int failed = 0;
    const QStringList atOnceDrive { QStringLiteral("--fast") };
    const Times paced = measure({}, 0, Ser2net::recommendedOptions(), rounds, failed);
    const Times atOnce = measure(atOnceDrive, 18, Ser2net::recommendedOptions(), rounds, failed);
    const Times atOnceDefault = measure(atOnceDrive, 18, Ser2net::defaultOptions(), rounds, failed);
    say(QStringLiteral("load average at end: %1, %2 failed exchanges or commands")
            .arg(Measure::loadAverage())
            .arg(failed));
    if (paced.empty() || atOnce.empty() || atOnceDefault.empty())
        return 1;
    table(QStringLiteral("replies at wire speed"), paced, rounds);
    table(QStringLiteral("each reply at once, 18 ms after the command"), atOnce, rounds);
    table(QStringLiteral("the same, ser2net without `sendon`"), atOnceDefault, rounds);
    return failed == 0 ? 0 : 1;
}
