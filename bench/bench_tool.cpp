// vcm-tool against what the line protocol allows, and against the window doing the same work:
// `read` of the 25 parameters and one `capture` with a test motion, against the drive
// simulator at wire speed. Every figure stands next to its protocol minimum
// (ProtocolMinimum.h); the run ends with a Markdown table.
//
//   bench_tool [--quick]
#include "ConsoleRig.h"
#include "Measure.h"
#include "ProtocolMinimum.h"
#include "ToolSession.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>
#include <vector>

using Measure::median;
namespace PM = ProtocolMinimum;

namespace {

QStringList g_table;

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

struct Figure {
    double median = 0; // ms
    double minimum = 0; // ms, the protocol's least for the same traffic
    int failed = 0;
    int rounds = 0;
    double ratio() const { return minimum > 0 ? median / minimum : 0; }
};

// Runs `work` rounds + 1 times (the first warms up) and times it against the minimum of the
// traffic it caused on `port`, plus `extraMs` of waits the protocol asks for besides.
Figure measure(int rounds, CountingPort &port, double extraMs, const std::function<bool()> &work)
{
    std::vector<double> took, minimum;
    Figure f;
    for (int i = 0; i <= rounds; ++i) {
        port.clearLog();
        QElapsedTimer t;
        t.start();
        const bool ok = work();
        const double elapsed = t.nsecsElapsed() / 1e6;
        if (i == 0)
            continue;
        f.failed += ok ? 0 : 1;
        took.push_back(elapsed);
        minimum.push_back(PM::logMs(port.log(), true) + extraMs);
    }
    f.median = median(took);
    f.minimum = median(minimum);
    f.rounds = static_cast<int>(took.size());
    return f;
}

void report(const QString &what, const Figure &f)
{
    say(QStringLiteral("  %1: median %2 ms, minimum %3 ms, ratio %4, %5 of %6 failed")
            .arg(what)
            .arg(f.median, 0, 'f', 1)
            .arg(f.minimum, 0, 'f', 1)
            .arg(f.ratio(), 0, 'f', 3)
            .arg(f.failed)
            .arg(f.rounds));
    g_table << QStringLiteral("| %1 | %2 ms | %3 ms (median of %4) | %5 |")
                   .arg(what)
                   .arg(f.minimum, 0, 'f', 1)
                   .arg(f.median, 0, 'f', 1)
                   .arg(f.rounds)
                   .arg(f.ratio(), 0, 'f', 3);
}

// The tool's session on its own simulator, the port wrapped to log the traffic.
struct ToolRig {
    explicit ToolRig(const QStringList &simArgs) : sim(simArgs), port(system)
    {
        system.setPortName(sim.path());
        opened = system.open();
    }
    // One command as vcm-tool runs it: address the station, then the work.
    bool run(const std::function<int(ToolSession &)> &work)
    {
        output.clear();
        ToolSession session(port, clock, out, err);
        const bool ok = session.address(1) == ToolExit::Done && work(session) == ToolExit::Done;
        err.flush();
        if (!ok)
            say(QStringLiteral("  failed: ") + errors.trimmed());
        errors.clear();
        return ok;
    }

    SimProcess sim;
    SystemSerialPort system;
    CountingPort port;
    SteadyClock clock;
    QString output, errors;
    QTextStream out { &output };
    QTextStream err { &errors };
    bool opened = false;
};

void benchRead(int rounds)
{
    say(QStringLiteral("\n== read: 25 x \"RD g i\" (SendCmdLong), wire speed"));
    ToolRig tool({ QStringLiteral("--stations"), QStringLiteral("1") });
    if (!tool.opened) {
        say(QStringLiteral("  cannot reach the simulator"));
        return;
    }
    // Addressed once, so that both sides do exactly the same 25 exchanges.
    ToolSession session(tool.port, tool.clock, tool.out, tool.err);
    if (session.address(1) != ToolExit::Done) {
        say(QStringLiteral("  station 1 does not answer"));
        return;
    }
    const Figure cli = measure(rounds, tool.port, 0, [&] {
        tool.output.clear();
        return session.read() == ToolExit::Done && tool.output.count(QLatin1Char('\n')) == 27;
    });
    report(QStringLiteral("`vcm-tool read` after \"ST 1\" (25 x \"RD\", `ToolSession::read`)"),
           cli);

    ConsoleRig window({ QStringLiteral("--stations"), QStringLiteral("1") });
    if (!window.select(1)) {
        say(QStringLiteral("  selection failed"));
        return;
    }
    const Figure load = measure(rounds, *window.port, 0, [&] {
        window.form.cmdRead_Click();
        window.settle();
        return window.form.txtPOS[5]->text() != QLatin1String("ER");
    });
    report(QStringLiteral("The window's LOAD, `cmdRead_Click` (25 x \"RD\")"), load);
    say(QStringLiteral("  the tool takes %1 of the window's time for the same 25 exchanges")
            .arg(cli.median / load.median, 0, 'f', 3));
}

void benchCapture(int rounds)
{
    say(QStringLiteral("\n== capture: PFBK + DIO, 512 values, span 200 ms, test motion "
                       "alternating 1000 / 3000, wire speed"));
    ToolRig tool({ QStringLiteral("--stations"), QStringLiteral("1") });
    if (!tool.opened || !tool.run([](ToolSession &s) { return s.source(true); })
        || tool.sim.command(QStringLiteral("servo 1 on")) != QLatin1String("ok")) {
        say(QStringLiteral("  cannot set the simulated drive up: ") + tool.errors);
        return;
    }
    runFor(200);
    int round = 0;
    CaptureRequest request;
    request.channels[1] = request.channels[7] = true;
    request.span = QStringLiteral("200");
    const Figure cli = measure(rounds, tool.port, 300, [&] {
        request.moveTarget = ++round % 2 ? QStringLiteral("3000") : QStringLiteral("1000");
        return tool.run([&](ToolSession &s) { return s.capture(request); })
            && tool.output.startsWith(QLatin1String("time_ms,PFBK,DIO\n"));
    });
    report(QStringLiteral("`vcm-tool capture --move` (2 x \"ST\", \"RV 8\", \"RV 10\", set-up, "
                          "\"RN 0 1\", \"WT 2 0\", 300 ms, \"RO\")"),
           cli);

    ConsoleRig window(
        { QStringLiteral("--stations"), QStringLiteral("1"), QStringLiteral("--demo") });
    if (!window.select(1)) {
        say(QStringLiteral("  selection failed"));
        return;
    }
    runFor(1300); // the bench switches the servo on a second after the selection
    window.form.Timer1_Timer();
    window.settle();
    if (!window.startScope(false, 1, 7)) {
        say(QStringLiteral("  set-up failed"));
        return;
    }
    const Figure tick = measure(rounds, *window.port, 300, [&] {
        window.messages.texts.clear();
        window.form.cmdSetup_Click();
        window.settle();
        window.form.Timer1->stop();
        window.form.Timer1_Timer();
        window.settle();
        return window.messages.texts == QStringList { QStringLiteral("Setup OK") };
    });
    report(QStringLiteral("The window: Setup, then a capture tick (set-up, \"RN 0 1\", \"WT 2 0\", "
                          "300 ms, \"RO\", plot, status poll)"),
           tick);
}

} // namespace

int main(int argc, char *argv[])
{
    int readRounds = 21;
    int captureRounds = 11;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--quick") {
            readRounds = 5;
            captureRounds = 3;
        } else {
            std::fprintf(stderr, "usage: bench_tool [--quick]\n");
            return 2;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    say(QStringLiteral("load average at start: %1").arg(Measure::loadAverage()));
    benchRead(readRounds);
    benchCapture(captureRounds);
    say(QStringLiteral("\nload average at end: %1").arg(Measure::loadAverage()));
    say(QStringLiteral("\n| work, wire speed | protocol minimum | measured | ratio |"));
    say(QStringLiteral("|---|---|---|---|"));
    for (const QString &row : g_table)
        say(row);
    return 0;
}
