// Measures the command exchange on a real pseudo-terminal through the QSerialPort adapter:
// (a) how close an answered SendCmdLong comes to the protocol's minimum (20 ms initial wait,
// then one 5 ms poll step), and (b) the CPU it burns while waiting out a 2000 ms time-out.
#include "Clock.h"
#include "CommandExchange.h"
#include "PtyPeer.h"
#include "SystemSerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {
double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_THREAD, &u); // this thread only: the pty peer has its own
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 21;

    PtyPeer drive([](const QByteArray &line) -> QByteArray {
        return line == "SILENT" ? QByteArray() : QByteArray("0800 \r\n>");
    });
    SystemSerialPort port;
    SteadyClock clock;
    CommandExchange link(port, clock);
    port.setPortName(drive.path());
    if (!port.open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(drive.path()));
        return 1;
    }

    std::vector<double> answered;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (!link.SendCmdLong(QStringLiteral("RV 8"))) {
            std::fprintf(stderr, "no answer\n");
            return 1;
        }
        answered.push_back(t.nsecsElapsed() / 1e6);
    }
    const double minimum = 20 + 5;
    const double med = median(answered);
    std::printf("SendCmdLong answered at once: median %.2f ms over %d runs, minimum %.0f ms, "
                "ratio %.3f, excess %.2f ms (limit: one poll step, 5 ms) -> %s\n",
                med, rounds, minimum, med / minimum, med - minimum,
                med - minimum <= 5 + 1 ? "ok" : "TOO SLOW");

    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    const bool ok = link.SendCmdLong(QStringLiteral("SILENT"));
    const double wallMs = wall.nsecsElapsed() / 1e6;
    const double cpuMs = (cpuSeconds() - cpu0) * 1000;
    std::printf("SendCmdLong time-out: %s after %.0f ms (limit 2000 ms), CPU %.1f ms = %.2f %% of "
                "one core (limit 5 %%) -> %s\n",
                ok ? "answered?" : "no prompt", wallMs, cpuMs, 100 * cpuMs / wallMs,
                100 * cpuMs / wallMs < 5 ? "ok" : "TOO BUSY");
    port.close();
    return 0;
}
