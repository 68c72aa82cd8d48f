// How close the console runs to what the line protocol allows, in one run: one exchange, one
// status poll and one capture cycle against the drive simulator at wire speed, the repaint of
// the plot, CPU between and during ticks, start-up time and resident memory. Every figure is
// printed next to the least time the protocol's waits and the bytes on the wire allow for the
// same traffic (ProtocolMinimum.h), and the run ends with a Markdown table.
//
//   bench_console [--quick] [--stalls] [--no-tuning] [--memory-seconds N] [--cpu-seconds N]
//
// --stalls runs only the table of the window's stalls, phase by phase, before and after the
// line left the window's thread.
//
// Runs on the offscreen platform; start it under xvfb-run to time start-up on X11 as well.
#include "Clock.h"
#include "CommandExchange.h"
#include "ConsoleRig.h"
#include "CountingPort.h"
#include "ExchangeTrace.h"
#include "Form1.h"
#include "GraphSurface.h"
#include "Measure.h"
#include "MessageSink.h"
#include "ProtocolMinimum.h"
#include "Record.h"
#include "RecordingMessages.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"
#include "TuneDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

using Measure::median;
namespace PM = ProtocolMinimum;

namespace {

struct Options {
    int exchangeRounds = 51;
    int pollRounds = 21;
    int captureRounds = 11;
    int paintRounds = 201;
    int startupRounds = 11;
    int cpuSeconds = 20;
    int memorySeconds = 180;
    bool tuning = true; // the stall of a whole tuning run
    bool stallsOnly = false;
};

struct Row {
    QString measure;
    QString minimum;
    QString measured;
    QString ratio;
};
QList<Row> g_rows;

QString ms(double v, int decimals = 1)
{
    return QString::number(v, 'f', decimals) + QStringLiteral(" ms");
}

QString ratio(double measured, double minimum)
{
    return minimum > 0 ? QString::number(measured / minimum, 'f', 3) : QStringLiteral("-");
}

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// 1. One exchange, the drive answering at once.
void benchExchange(const Options &o)
{
    say(QStringLiteral("\n== One exchange: SendCmdLong(\"RV 8\"), station answering at once"));
    for (const bool wire : { true, false }) {
        QStringList args { QStringLiteral("--stations"), QStringLiteral("1") };
        if (!wire)
            args << QStringLiteral("--fast");
        SimProcess sim(args);
        SystemSerialPort system;
        CountingPort port(system);
        SteadyClock clock;
        CommandExchange link(port, clock);
        port.setPortName(sim.path());
        if (sim.path().isEmpty() || !port.open() || !link.SendCmd(QStringLiteral("ST 1"))) {
            say(QStringLiteral("  cannot reach the simulator"));
            return;
        }
        std::vector<double> took, minimum, cpu;
        int failed = 0;
        for (int i = 0; i <= o.exchangeRounds; ++i) {
            port.clearLog();
            const double cpu0 = Measure::cpuSeconds(RUSAGE_THREAD);
            QElapsedTimer t;
            t.start();
            const bool ok = link.SendCmdLong(QStringLiteral("RV 8"));
            const double elapsed = t.nsecsElapsed() / 1e6;
            const double cpuMs = (Measure::cpuSeconds(RUSAGE_THREAD) - cpu0) * 1000;
            if (i == 0)
                continue; // warm-up
            failed += ok ? 0 : 1;
            took.push_back(elapsed);
            cpu.push_back(cpuMs);
            minimum.push_back(PM::logMs(port.log(), wire));
        }
        const double med = median(took);
        const double min = median(minimum);
        const QString speed = wire ? QStringLiteral("wire speed") : QStringLiteral("`--fast`");
        say(QStringLiteral(
                "  %1: median %2, p90 %3, minimum %4, ratio %5, CPU %6 a exchange, %7 failed")
                .arg(speed, ms(med, 2), ms(Measure::quantile(took, 0.9), 2), ms(min, 2),
                     ratio(med, min), ms(median(cpu), 2))
                .arg(failed));
        g_rows.append(
            { QStringLiteral("One exchange, `SendCmdLong` \"RV 8\" answered at once, %1")
                  .arg(speed),
              QStringLiteral(
                  "%1 (20 ms wait + one 5 ms poll step; the 8-byte reply lands within the wait)")
                  .arg(ms(min, 0)),
              QStringLiteral("%1 (median of %2)").arg(ms(med, 2)).arg(took.size()),
              ratio(med, min) });

        if (wire) {
            // The same exchange with --trace on and off, alternately, so that both see the
            // same load; the line is written out before the call returns. Four times the
            // rounds: the difference is well below the 1 ms grid the waits run on.
            QTemporaryDir dir;
            JsonLinesTrace trace;
            trace.open(dir.filePath(QStringLiteral("trace.jsonl")));
            std::vector<double> plain, traced, lineUs;
            for (int i = 0; i < 8 * o.exchangeRounds; ++i) {
                const bool on = i % 2 == 1;
                link.setTrace(on ? &trace : nullptr);
                QElapsedTimer t;
                t.start();
                link.SendCmdLong(QStringLiteral("RV 8"));
                (on ? traced : plain).push_back(t.nsecsElapsed() / 1e6);
            }
            link.setTrace(nullptr);
            const ExchangeRecord record { QDateTime::currentDateTime(),
                                          QStringLiteral("SendCmdLong"),
                                          QStringLiteral("RV 8"),
                                          link.RxBuffer,
                                          25,
                                          true };
            for (int i = 0; i < o.exchangeRounds; ++i) {
                QElapsedTimer t;
                t.start();
                trace.exchanged(record);
                lineUs.push_back(t.nsecsElapsed() / 1e3);
            }
            say(QStringLiteral("  with --trace: median %1 (without, alternately: %2), ratio %3; "
                               "writing one line %4 us")
                    .arg(ms(median(traced), 2), ms(median(plain), 2), ratio(median(traced), min))
                    .arg(median(lineUs), 0, 'f', 1));
            g_rows.append(
                { QStringLiteral("The same exchange with `--trace` (one JSON line "
                                 "appended), wire speed"),
                  QStringLiteral("%1 (the trace is written after the reply)").arg(ms(min, 0)),
                  QStringLiteral("%1 (median of %2; %3 without, alternately; the line "
                                 "itself %4 us)")
                      .arg(ms(median(traced), 2))
                      .arg(traced.size())
                      .arg(ms(median(plain), 2))
                      .arg(median(lineUs), 0, 'f', 1),
                  ratio(median(traced), min) });

            // The waits themselves: a wait of n ms ends once the millisecond count has moved
            // on by n + 1, so n + 0.5 ms on average, and it sleeps in steps of at most 1 ms.
            for (const int n : { 5, 20 }) {
                std::vector<double> waited;
                for (int i = 0; i < o.exchangeRounds; ++i) {
                    QElapsedTimer t;
                    t.start();
                    link.Delay(n);
                    waited.push_back(t.nsecsElapsed() / 1e6);
                }
                say(QStringLiteral("  Delay(%1): median %2, p90 %3")
                        .arg(n)
                        .arg(ms(median(waited), 2), ms(Measure::quantile(waited, 0.9), 2)));
            }

            // An unanswered exchange: how much of a core the wait costs.
            link.SendCmd(QStringLiteral("ST 3")); // no such station: the line stays silent
            QElapsedTimer t;
            const double cpu0 = Measure::cpuSeconds(RUSAGE_THREAD);
            t.start();
            const bool ok = link.SendCmdLong(QStringLiteral("RV 8"));
            const double wallMs = t.nsecsElapsed() / 1e6;
            const double cpuMs = (Measure::cpuSeconds(RUSAGE_THREAD) - cpu0) * 1000;
            const double share = 100 * cpuMs / wallMs;
            const double limitMs = PM::Long.initial + 2000 + PM::Long.step;
            say(QStringLiteral("  time-out: %1 after %2 (least %3), CPU %4 = %5 % of one core")
                    .arg(ok ? QStringLiteral("answered?") : QStringLiteral("no prompt"),
                         ms(wallMs, 0), ms(limitMs, 0), ms(cpuMs, 1),
                         QString::number(share, 'f', 2)));
            g_rows.append(
                { QStringLiteral("CPU while `SendCmdLong` waits out its time-out (no answer)"),
                  QStringLiteral("waits may sleep: 0 %; budget 5 % of one core"),
                  QStringLiteral("%1 % of one core over %2")
                      .arg(QString::number(share, 'f', 2), ms(wallMs, 0)),
                  QStringLiteral("-") });
        }
    }
}

// 2. One status poll, the window's tick with the oscilloscope stopped.
void benchStatusPoll(const Options &o)
{
    say(QStringLiteral("\n== One status poll: Timer1_Timer, 7 x \"RV n\" + \"RV 8\", wire speed"));
    ConsoleRig rig({ QStringLiteral("--stations"), QStringLiteral("1") });
    if (!rig.select(1)) {
        say(QStringLiteral("  selection failed: ") + rig.messages.texts.join(QLatin1Char('|')));
        return;
    }
    std::vector<double> took, minimum, replyBytes;
    int failed = 0;
    for (int i = 0; i <= o.pollRounds; ++i) {
        rig.port->clearLog();
        rig.messages.texts.clear();
        QElapsedTimer t;
        t.start();
        rig.form.Timer1_Timer();
        rig.settle();
        const double elapsed = t.nsecsElapsed() / 1e6;
        if (i == 0)
            continue;
        if (!rig.messages.texts.isEmpty() || rig.port->log().size() != 8)
            ++failed;
        took.push_back(elapsed);
        minimum.push_back(PM::logMs(rig.port->log(), true));
        double bytes = 0;
        for (const auto &e : rig.port->log())
            bytes += e.replyBytes;
        replyBytes.push_back(bytes);
    }
    const double med = median(took);
    const double min = median(minimum);
    say(QStringLiteral(
            "  median %1, p90 %2, minimum %3 (%4 reply bytes = %5 on the wire), ratio %6, "
            "excess %7 a exchange, %8 failed")
            .arg(ms(med), ms(Measure::quantile(took, 0.9)), ms(min))
            .arg(median(replyBytes))
            .arg(ms(median(replyBytes) * PM::ByteMs), ratio(med, min), ms((med - min) / 8, 2))
            .arg(failed));
    g_rows.append(
        { QStringLiteral("One status poll (`Timer1_Timer`: 7 x \"RV n\" + \"RV 8\"), wire speed"),
          QStringLiteral(
              "%1 (8 x (20 + 5 ms); each reply, about %2 bytes, lands within the 20 ms wait)")
              .arg(ms(min, 0))
              .arg(std::lround(median(replyBytes) / 8)),
          QStringLiteral("%1 (median of %2)").arg(ms(med)).arg(took.size()), ratio(med, min) });
}

// A DIO record as the drive uploads it: a step of PFBK, then the status words with INPOS,
// DO0, BOND and DI1 changing.
QString dioRecordReply()
{
    QString text = QStringLiteral("RO:");
    std::vector<int> position(256);
    for (int i = 0; i < 256; ++i) {
        const double settle = 1 - std::exp(-i / 20.0) * std::cos(i / 8.0);
        position[i] = static_cast<int>(2000 + 8000 * settle);
        text += QString::number(position[i]) + QLatin1Char(',');
    }
    for (int i = 0; i < 256; ++i) {
        int word = 0x0910; // DRDY, SVON, EMS
        if (i < 5 || i > 90)
            word |= 0x20; // INPOS
        if (position[i] >= 5000)
            word |= 0x40; // DO0
        if ((i / 64) % 2)
            word |= 0x200; // BOND
        if (i >= 200 && i < 230)
            word |= 0x1000; // DI1
        text += QString::number(word) + QLatin1Char(',');
    }
    return text + QStringLiteral(";\r\n>");
}

struct CaptureResult {
    double medianMs = 0;
    double minimumMs = 0;
};

// 3. One whole capture cycle: RN 0 1, paced WT 2 0, record wait, RO, parse, plot, status poll.
void benchCapture(const Options &o, bool newRecorder)
{
    const int values = newRecorder ? 256 : 512;
    const QString kind = newRecorder ? QStringLiteral("%1 values, PCMD + PFBK").arg(values)
                                     : QStringLiteral("%1 values, PFBK + DIO").arg(values);
    say(QStringLiteral("\n== One capture cycle (%1, span 200 ms, alternating motion), wire speed")
            .arg(kind));
    QStringList args { QStringLiteral("--stations"), QStringLiteral("1"),
                       QStringLiteral("--demo") };
    if (newRecorder)
        args << QStringLiteral("--new-recorder") << QStringLiteral("1");
    ConsoleRig rig(args);
    if (!rig.select(1)) {
        say(QStringLiteral("  selection failed: ") + rig.messages.texts.join(QLatin1Char('|')));
        return;
    }
    // The bench switches the servo on a second after the selection.
    runFor(1300);
    rig.form.Timer1->stop();
    rig.form.Timer1_Timer();
    rig.settle();
    if (!rig.form.ServoOn
        || !rig.startScope(newRecorder, newRecorder ? 0 : 1, newRecorder ? 1 : 7)) {
        say(QStringLiteral("  set-up failed: ") + rig.messages.texts.join(QLatin1Char('|')));
        return;
    }

    const int expectedItems = 14 + (newRecorder ? 2 * 128 : 5 * 256);
    std::vector<double> took, minimum, roBytes, roMinimum;
    // From each command's first byte to the next one's: the exchange, then whatever the
    // console does before the next command (the record wait, parsing and plotting).
    std::vector<double> spans[11];
    double spanMinimum[11] = {};
    QString spanName[11];
    int failed = 0;
    for (int i = 0; i <= o.captureRounds; ++i) {
        rig.port->clearLog();
        rig.messages.texts.clear();
        QElapsedTimer t;
        t.start();
        rig.form.Timer1_Timer();
        rig.settle();
        const double elapsed = t.nsecsElapsed() / 1e6;
        const qint64 endNs = rig.port->elapsedNs();
        if (i == 0)
            continue;
        const auto &log = rig.port->log();
        for (int k = 0; k < log.size() && k < 11; ++k) {
            const qint64 next = k + 1 < log.size() ? log[k + 1].writtenAtNs : endNs;
            spans[k].push_back((next - log[k].writtenAtNs) / 1e6);
            spanMinimum[k] = PM::exchangeMs(log[k], true);
            spanName[k] = QString::fromLatin1(log[k].command.trimmed());
        }
        const bool ok = rig.messages.texts.isEmpty() && log.size() == 11
            && rig.form.Graph1->displayList().items().size() == expectedItems;
        if (!ok) {
            ++failed;
            say(QStringLiteral("  round %1: %2 exchanges, %3 items, messages: %4")
                    .arg(i)
                    .arg(log.size())
                    .arg(rig.form.Graph1->displayList().items().size())
                    .arg(rig.messages.texts.join(QLatin1Char('|'))));
        }
        took.push_back(elapsed);
        minimum.push_back(PM::logMs(log, true) + rig.form.RecordWaitMs);
        for (const auto &e : log) {
            if (e.command.startsWith("RO")) {
                roBytes.push_back(e.replyBytes);
                roMinimum.push_back(PM::exchangeMs(e, true));
            }
        }
    }
    rig.form.cmdStop->click();

    // The upload alone, to see where the cycle's excess lies.
    std::vector<double> roTook;
    for (int i = 0; i <= o.captureRounds; ++i) {
        // Timed on the line's own thread, as the exchange runs there.
        auto upload = rig.form.line().run([](DriveProcedures &drive) {
            QElapsedTimer t;
            t.start();
            drive.link().SendCmdSlow(QStringLiteral("RO"));
            return t.nsecsElapsed() / 1e6;
        });
        rig.settle();
        if (i > 0)
            roTook.push_back(upload.take());
    }

    const double med = median(took);
    const double min = median(minimum);
    const double roMin = median(roMinimum);
    say(QStringLiteral(
            "  median %1, p90 %2, minimum %3 (record wait %4 ms, RO reply %5 bytes = %6 on the "
            "wire), ratio %7, %8 failed")
            .arg(ms(med), ms(Measure::quantile(took, 0.9)), ms(min))
            .arg(rig.form.RecordWaitMs)
            .arg(median(roBytes))
            .arg(ms(median(roBytes) * PM::ByteMs), ratio(med, min))
            .arg(failed));
    for (int k = 0; k < 11; ++k) {
        if (!spans[k].empty())
            say(QStringLiteral("    %1: %2 to the next command, exchange at least %3")
                    .arg(spanName[k], -12)
                    .arg(ms(median(spans[k])), ms(spanMinimum[k])));
    }
    say(QStringLiteral("  upload alone (SendCmdSlow \"RO\"): median %1, minimum %2, ratio %3")
            .arg(ms(median(roTook)), ms(roMin), ratio(median(roTook), roMin)));
    g_rows.append(
        { QStringLiteral(
              "One capture cycle, %1 (RN 0 1, paced WT 2 0, record wait, RO, parse, plot, "
              "status poll), wire speed")
              .arg(kind),
          QStringLiteral("%1 (waits %2 ms record + exchanges; RO reply %3 bytes = %4 on the wire)")
              .arg(ms(min, 0))
              .arg(rig.form.RecordWaitMs)
              .arg(median(roBytes))
              .arg(ms(median(roBytes) * PM::ByteMs, 0)),
          QStringLiteral("%1 (median of %2)").arg(ms(med)).arg(took.size()), ratio(med, min) });
    g_rows.append(
        { QStringLiteral("  of which the upload, `SendCmdSlow` \"RO\", %1 values").arg(values),
          QStringLiteral("%1 (5 ms + the reply on the wire, at least 50 ms, + 15 ms step + 15 ms)")
              .arg(ms(roMin, 0)),
          QStringLiteral("%1 (median of %2)").arg(ms(median(roTook))).arg(roTook.size()),
          ratio(median(roTook), roMin) });
}

// 4. Parse, display list and repaint of Graph1 for a 512-value DIO record.
void benchPaint(const Options &o)
{
    say(QStringLiteral(
        "\n== Graph1 with a DIO record (512 values: one trace + four bit tracks), offscreen"));
    SystemSerialPort port;
    SteadyClock clock;
    RecordingMessages messages;
    Form1 form(port, clock, messages);
    form.show();
    runFor(100);

    const QString reply = dioRecordReply();
    RecordShape shape;
    shape.recordLength = 512;
    shape.dio = true;
    shape.step = 1;

    std::vector<double> parseUs, buildUs, repaintUs, rasterUs;
    RecordParse parse;
    DisplayList list;
    for (int i = 0; i <= o.paintRounds; ++i) {
        QElapsedTimer t;
        t.start();
        parse = parseRecord(reply.mid(3), shape);
        const double p = t.nsecsElapsed() / 1e3;
        t.restart();
        const PlotRange range = plotRange(parse.record, shape);
        list = plotRecord(parse.record, shape, range);
        const double b = t.nsecsElapsed() / 1e3;
        if (i > 0) {
            parseUs.push_back(p);
            buildUs.push_back(b);
        }
    }
    form.Graph1->setDisplayList(list);
    QImage image(form.Graph1->size(), QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i <= o.paintRounds; ++i) {
        QElapsedTimer t;
        t.start();
        form.Graph1->repaint();
        const double r = t.nsecsElapsed() / 1e3;
        t.restart();
        {
            QPainter painter(&image);
            painter.fillRect(image.rect(), Qt::black);
            GraphSurface::paintDisplayList(painter, list, image.size());
        }
        const double d = t.nsecsElapsed() / 1e3;
        if (i > 0) {
            repaintUs.push_back(r);
            rasterUs.push_back(d);
        }
    }
    const int items = list.items().size();
    say(QStringLiteral("  %1 x %2 px, %3 display items (%4 values parsed)")
            .arg(form.Graph1->width())
            .arg(form.Graph1->height())
            .arg(items)
            .arg(parse.record.count));
    say(QStringLiteral("  parse %1 us, display list %2 us, Graph1 repaint %3 us, paint into an "
                       "image %4 us (medians)")
            .arg(median(parseUs), 0, 'f', 0)
            .arg(median(buildUs), 0, 'f', 0)
            .arg(median(repaintUs), 0, 'f', 0)
            .arg(median(rasterUs), 0, 'f', 0));
    const auto us
        = [](double v) { return QString::number(v / 1000, 'f', 3) + QStringLiteral(" ms"); };
    g_rows.append(
        { QStringLiteral("Parse a 512-value DIO record (`parseRecord`)"),
          QStringLiteral("no wait mandated"),
          QStringLiteral("%1 (median of %2)").arg(us(median(parseUs))).arg(parseUs.size()),
          QStringLiteral("-") });
    g_rows.append(
        { QStringLiteral("Build its display list (`plotRange` + `plotRecord`, %1 items)")
              .arg(items),
          QStringLiteral("no wait mandated"),
          QStringLiteral("%1 (median of %2)").arg(us(median(buildUs))).arg(buildUs.size()),
          QStringLiteral("-") });
    g_rows.append(
        { QStringLiteral("Repaint `Graph1` with it (%1 x %2 px, offscreen)")
              .arg(form.Graph1->width())
              .arg(form.Graph1->height()),
          QStringLiteral("no wait mandated (one 60 Hz frame: 16.7 ms)"),
          QStringLiteral("%1 (median of %2)").arg(us(median(repaintUs))).arg(repaintUs.size()),
          QStringLiteral("%1 of a frame").arg(ratio(median(repaintUs) / 1000, 1000.0 / 60)) });
}

// 5. CPU of the whole process between ticks and inside them.
void benchCpu(const Options &o)
{
    say(QStringLiteral("\n== CPU while idle between ticks, while polling and while capturing (%1 s "
                       "each), wire speed")
            .arg(o.cpuSeconds));
    ConsoleRig rig({ QStringLiteral("--stations"), QStringLiteral("1"), QStringLiteral("--demo") });
    if (!rig.select(1)) {
        say(QStringLiteral("  selection failed"));
        return;
    }
    // Measure each tick from outside: the window's own handler, wrapped, from its start to its
    // end (its line's work included: the process's CPU, both threads).
    double tickCpu = 0, tickWall = 0;
    int ticks = 0;
    QObject::disconnect(rig.form.Timer1, &QTimer::timeout, nullptr, nullptr);
    QObject::connect(rig.form.Timer1, &QTimer::timeout, &rig.form, [&] {
        if (!rig.form.PollIdle)
            return; // a tick is under way: the timer's tick waits for it, as it always did
        const double cpu0 = Measure::cpuSeconds();
        auto t = std::make_shared<QElapsedTimer>();
        t->start();
        rig.form.Timer1_Timer().then([&, t, cpu0] {
            tickWall += t->nsecsElapsed() / 1e9;
            tickCpu += Measure::cpuSeconds() - cpu0;
            ++ticks;
        });
    });

    struct Phase {
        QString name;
        double idle = 0, inTick = 0, whole = 0, tickMs = 0;
        int ticks = 0;
    };
    const auto run = [&](const QString &name) {
        tickCpu = tickWall = 0;
        ticks = 0;
        const double cpu0 = Measure::cpuSeconds();
        QElapsedTimer t;
        t.start();
        runFor(o.cpuSeconds * 1000);
        const double wall = t.nsecsElapsed() / 1e9;
        const double cpu = Measure::cpuSeconds() - cpu0;
        Phase p;
        p.name = name;
        p.ticks = ticks;
        p.whole = 100 * cpu / wall;
        p.inTick = tickWall > 0 ? 100 * tickCpu / tickWall : 0;
        p.idle = 100 * (cpu - tickCpu) / (wall - tickWall);
        p.tickMs = ticks ? 1000 * tickWall / ticks : 0;
        say(QStringLiteral("  %1: %2 ticks of %3 ms; idle between ticks %4 %, inside ticks %5 %, "
                           "overall %6 % of one core")
                .arg(name)
                .arg(p.ticks)
                .arg(p.tickMs, 0, 'f', 0)
                .arg(p.idle, 0, 'f', 3)
                .arg(p.inTick, 0, 'f', 2)
                .arg(p.whole, 0, 'f', 2));
        return p;
    };

    rig.form.ResumePolling();
    const Phase polling = run(QStringLiteral("polling every 1500 ms"));
    rig.form.Timer1->stop();
    if (!rig.startScope(false, 1, 7)) {
        say(QStringLiteral("  scope set-up failed: ") + rig.messages.texts.join(QLatin1Char('|')));
        return;
    }
    rig.form.ResumePolling();
    const Phase capturing = run(QStringLiteral("capturing every 2500 ms"));
    rig.form.Timer1->stop();
    int errors = 0;
    for (const QString &m : rig.messages.texts)
        errors += m.startsWith(QStringLiteral("Communication error")) ? 1 : 0;
    say(QStringLiteral("  communication errors: %1").arg(errors));

    const auto pct = [](double v) { return QString::number(v, 'f', 2) + QStringLiteral(" %"); };
    g_rows.append(
        { QStringLiteral("CPU idle between ticks (selected, polling every 1500 ms)"),
          QStringLiteral("0 % (nothing to do)"),
          QStringLiteral("%1 of one core (%2 s)").arg(pct(polling.idle)).arg(o.cpuSeconds),
          QStringLiteral("-") });
    g_rows.append({ QStringLiteral("CPU during a status-poll tick (%1 ms a tick)")
                        .arg(polling.tickMs, 0, 'f', 0),
                    QStringLiteral("waits may sleep; budget 5 % of one core"),
                    QStringLiteral("%1 of one core; %2 averaged over the %3 s")
                        .arg(pct(polling.inTick), pct(polling.whole))
                        .arg(o.cpuSeconds),
                    QStringLiteral("-") });
    g_rows.append({ QStringLiteral("CPU during a capture tick (512 values, DIO; %1 ms a tick)")
                        .arg(capturing.tickMs, 0, 'f', 0),
                    QStringLiteral("waits may sleep; budget 5 % of one core"),
                    QStringLiteral("%1 of one core; %2 averaged over the %3 s")
                        .arg(pct(capturing.inTick), pct(capturing.whole))
                        .arg(o.cpuSeconds),
                    QStringLiteral("-") });
}

// How late a 10 ms timer in the window's event loop fires: the window's stalls, as the operator
// feels them (a click, a repaint, a drag waits as long).
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_late.push_back(std::max<double>(0, (now - m_last) / 1e6 - 10));
            m_last = now;
        });
    }
    void start()
    {
        m_late.clear();
        m_clock.start();
        m_last = m_clock.nsecsElapsed();
        m_timer.start(10);
    }
    // Stops once a tick overdue since a stall has come.
    void stop()
    {
        runFor(30);
        m_timer.stop();
    }
    double longest() const { return m_late.empty() ? 0 : *std::max_element(m_late.begin(), m_late.end()); }
    double p99() const { return m_late.empty() ? 0 : Measure::quantile(m_late, 0.99); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    std::vector<double> m_late;
};

// A rfc2217:// server that takes the connection and never answers: the opening's 3 s limit.
class SilentServer {
public:
    SilentServer() { m_server.listen(QHostAddress::LocalHost); }
    QString text() const
    {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_server.serverPort());
    }

private:
    QTcpServer m_server;
};

struct StallRow {
    QString phase;
    double before = 0, beforeP99 = 0, after = 0, afterP99 = 0;
};

// Every phase the operator goes through, with the line on the window's thread as it was
// ("before") and on a thread of its own as now ("after"), at wire speed.
void benchStalls(const Options &o)
{
    say(QStringLiteral("\n== The window's stalls, phase by phase: a 10 ms timer in its event "
                       "loop, how late it fires (wire speed)"));
    QList<StallRow> rows;
    QTemporaryDir dir;
    SilentServer silent;
    for (const ConsoleRig::Line mode : { ConsoleRig::Line::Inline, ConsoleRig::Line::Threaded }) {
        const bool before = mode == ConsoleRig::Line::Inline;
        ConsoleRig rig({ QStringLiteral("--stations"), QStringLiteral("1,5") }, mode);
        ScriptedFileDialogs files;
        files.file = dir.filePath(QStringLiteral("set.vcmpar"));
        rig.form.setFileDialogs(files);
        Form1 &f = rig.form;
        const QString drivePort = rig.sim.path();
        const auto tick = [&] {
            f.Timer1_Timer();
            rig.settle();
        };
        const auto click = [&](QAbstractButton *b) {
            b->click();
            rig.settle();
        };
        const QList<std::pair<QString, std::function<void()>>> phases {
            // The floor: the machine's own scheduling, nothing on the line.
            { QStringLiteral("nothing to do (5 s)"), [&] { runFor(5000); } },
            { QStringLiteral("port open and close (Start, Stop)"),
              [&] {
                  click(f.cmdCommStart);
                  click(f.cmdCommStop);
              } },
            { QStringLiteral("network port without answer (the 3 s limit)"),
              [&] {
                  f.listComPort->setText(silent.text());
                  click(f.cmdCommStart);
                  f.listComPort->setText(drivePort);
                  click(f.cmdCommStart);
              } },
            { QStringLiteral("Scan drive (16 stations, 2 present)"), [&] { click(f.CmdScan); } },
            { QStringLiteral("Select (and its LOAD)"),
              [&] {
                  f.Combo1->setEditText(QStringLiteral("1"));
                  click(f.CmdSelect);
                  f.Timer1->stop();
              } },
            { QStringLiteral("polling (3 ticks)"),
              [&] {
                  f.ResumePolling();
                  runFor(3300);
                  f.Timer1->stop();
                  rig.settle();
              } },
            { QStringLiteral("LOAD"), [&] { click(f.cmdRead); } },
            { QStringLiteral("SAVE"), [&] { click(f.CmdSave); } },
            { QStringLiteral("Set (command source DI2 up/down)"),
              [&] {
                  f.Option2->setChecked(true);
                  click(f.cmdSet);
              } },
            { QStringLiteral("Setup (recorder)"),
              [&] {
                  f.chkBox[0]->click();
                  f.chkBox[1]->click();
                  f.listInterval->setCurrentText(QStringLiteral("200"));
                  click(f.cmdSetup);
                  f.Timer1->stop();
              } },
            { QStringLiteral("Set Motion"),
              [&] {
                  rig.sim.command(QStringLiteral("servo 1 on"));
                  runFor(200);
                  tick();
                  f.CheckContinuous->setChecked(true);
                  click(f.cmdSetMotion);
              } },
            { QStringLiteral("box write (Enter in KPP)"),
              [&] {
                  f.txtKG[0]->setText(QStringLiteral("250"));
                  QTest::keyClick(f.txtKG[0], Qt::Key_Return);
                  rig.settle();
              } },
            { QStringLiteral("oscilloscope captures (3, alternating motion)"),
              [&] {
                  click(f.cmdStart);
                  f.ResumePolling();
                  runFor(7600);
                  f.Timer1->stop();
                  rig.settle();
                  click(f.cmdStop);
              } },
            { QStringLiteral("parameter set saved, then loaded"),
              [&] {
                  f.saveParameterSet();
                  rig.settle();
                  f.loadParameterSet();
                  rig.settle();
              } },
            { QStringLiteral("RESET"), [&] { click(f.Command1); f.Timer1->stop(); rig.settle(); } },
        };
        for (int i = 0; i < phases.size(); ++i) {
            if (rows.size() <= i)
                rows.append({ phases[i].first });
            StallProbe probe;
            probe.start();
            phases[i].second();
            probe.stop();
            (before ? rows[i].before : rows[i].after) = probe.longest();
            (before ? rows[i].beforeP99 : rows[i].afterP99) = probe.p99();
            say(QStringLiteral("  %1, %2: longest %3, p99 %4")
                    .arg(before ? QStringLiteral("before") : QStringLiteral("after"),
                         phases[i].first, ms(probe.longest(), 0), ms(probe.p99(), 0)));
        }
        if (o.tuning) {
            // The tuner on the drive as set up above: DI2 up/down, servo on.
            if (rows.size() <= phases.size())
                rows.append({ QStringLiteral("guided tuning (a whole run)") });
            f.openScopeWindow();
            f.openTuneDialog();
            f.tuneDialog()->setBackupPath(dir.filePath(QStringLiteral("backup.vcmpar")));
            StallProbe probe;
            probe.start();
            for (QPushButton *b : f.tuneDialog()->findChildren<QPushButton *>())
                if (b->text() == QStringLiteral("&Start"))
                    b->click();
            runFor(200);
            rig.settle();
            probe.stop();
            StallRow &row = rows.last();
            (before ? row.before : row.after) = probe.longest();
            (before ? row.beforeP99 : row.afterP99) = probe.p99();
            say(QStringLiteral("  %1, guided tuning: longest %2, p99 %3 (%4)")
                    .arg(before ? QStringLiteral("before") : QStringLiteral("after"),
                         ms(probe.longest(), 0), ms(probe.p99(), 0),
                         f.tuneDialog()->statusText().section(QLatin1Char('\n'), 0, 0)));
        }
        const QStringList errors = rig.messages.texts.filter(QStringLiteral("error"));
        if (!errors.isEmpty())
            say(QStringLiteral("  messages: ") + errors.join(QLatin1Char('|')));
    }
    say(QStringLiteral("\n| phase | before: longest stall | before: 99th percentile | after: "
                       "longest stall | after: 99th percentile |"));
    say(QStringLiteral("|---|---|---|---|---|"));
    for (const StallRow &r : rows)
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                .arg(r.phase, ms(r.before, 0), ms(r.beforeP99, 0), ms(r.after, 0),
                     ms(r.afterP99, 0)));
}

// Child: the console's start-up as main() does it, until the window is exposed and painted.
int startupProbe(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    SystemSerialPort port;
    SteadyClock clock;
    DialogMessageSink messages;
    Form1 form(port, clock, messages);
    messages.setParent(&form);
    form.show();
    QWindow *window = form.windowHandle();
    // Wakes the wait below should the window never be exposed.
    QTimer::singleShot(20000, &app, [] {});
    while (!(window && window->isExposed()) && sinceMain.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        window = form.windowHandle();
    }
    // Let the first frame be painted and flushed.
    QCoreApplication::processEvents();
    std::printf("shown %.3f %ld\n", sinceMain.nsecsElapsed() / 1e6, Measure::statusKb("VmRSS"));
    std::fflush(stdout);
    return window && window->isExposed() ? 0 : 1;
}

// Child: the console on the simulator for `seconds`, capturing; resident memory on the way.
int memoryProbe(int argc, char *argv[], int seconds)
{
    QApplication app(argc, argv);
    const auto report = [](const char *what) {
        std::printf("%s %ld\n", what, Measure::statusKb("VmRSS"));
        std::fflush(stdout);
    };
    report("rss-start");
    ConsoleRig rig({ QStringLiteral("--stations"), QStringLiteral("1"), QStringLiteral("--demo") });
    report("rss-shown");
    if (!rig.select(1))
        return 1;
    runFor(1300);
    rig.form.Timer1_Timer();
    rig.settle();
    if (!rig.startScope(false, 1, 7))
        return 1;
    report("rss-selected");
    rig.form.ResumePolling();
    QElapsedTimer t;
    t.start();
    runFor(std::min(seconds, 60) * 1000);
    report("rss-1min");
    runFor(std::max(0, seconds * 1000 - static_cast<int>(t.elapsed())));
    rig.form.Timer1->stop();
    report("rss-end");
    int errors = 0;
    for (const QString &m : rig.messages.texts)
        errors += m.startsWith(QStringLiteral("Communication error")) ? 1 : 0;
    std::printf("exchanges %llu %llu %d\n",
                static_cast<unsigned long long>(rig.form.line().exchangeCount()),
                static_cast<unsigned long long>(rig.form.line().failureCount()), errors);
    std::fflush(stdout);
    return 0;
}

// Runs this program again with `args`; its output lines, once it has ended.
QStringList runChild(const QStringList &args, const QString &platform, int timeoutMs,
                     double *firstLineMs = nullptr)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    child.start(QCoreApplication::applicationFilePath(), args);
    while (!child.canReadLine() && child.state() != QProcess::NotRunning && t.elapsed() < timeoutMs)
        child.waitForReadyRead(timeoutMs);
    if (firstLineMs)
        *firstLineMs = t.nsecsElapsed() / 1e6;
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished(2000);
    }
    return QString::fromLocal8Bit(child.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// 6. Start-up time to a shown window, and resident memory.
void benchStartup(const Options &o)
{
    QStringList platforms { QStringLiteral("offscreen") };
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        platforms << QStringLiteral("xcb");
    for (const QString &platform : platforms) {
        say(QStringLiteral("\n== Start-up to a shown window (%1)").arg(platform));
        std::vector<double> total, inProcess, rss;
        for (int i = 0; i <= o.startupRounds; ++i) {
            double firstLine = 0;
            const QStringList lines
                = runChild({ QStringLiteral("--startup-probe") }, platform, 20000, &firstLine);
            const QStringList f = lines.value(0).split(QLatin1Char(' '));
            if (f.value(0) != QLatin1String("shown")) {
                say(QStringLiteral("  probe failed: ") + lines.join(QLatin1Char('|')));
                return;
            }
            if (i == 0)
                continue; // the first start fills the page cache
            total.push_back(firstLine);
            inProcess.push_back(f.value(1).toDouble());
            rss.push_back(f.value(2).toDouble());
        }
        say(QStringLiteral("  exec to exposed window: median %1 (in main(): %2); resident %3 MiB")
                .arg(ms(median(total)), ms(median(inProcess)))
                .arg(median(rss) / 1024, 0, 'f', 1));
        g_rows.append({ QStringLiteral("Start-up to a shown, painted window (%1)").arg(platform),
                        QStringLiteral("no wait mandated"),
                        QStringLiteral("%1 from exec, %2 of it in `main()` (median of %3)")
                            .arg(ms(median(total)), ms(median(inProcess)))
                            .arg(total.size()),
                        QStringLiteral("-") });
        if (platform == QLatin1String("offscreen"))
            g_rows.append({ QStringLiteral("Resident memory once shown (offscreen)"),
                            QStringLiteral("-"),
                            QStringLiteral("%1 MiB").arg(median(rss) / 1024, 0, 'f', 1),
                            QStringLiteral("-") });
    }

    // The product itself, observed from outside: memory, and CPU while it waits for the
    // operator with no port open.
    std::vector<double> rss, idle;
    for (int i = 0; i < 3; ++i) {
        QProcess console;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        console.setProcessEnvironment(env);
        console.start(QStringLiteral(VCM_CONSOLE), { QStringLiteral("4") });
        if (!console.waitForStarted(5000))
            break;
        const auto pid = static_cast<pid_t>(console.processId());
        runFor(1000);
        const double cpu0 = Measure::processCpuSeconds(pid);
        QElapsedTimer t;
        t.start();
        runFor(3000);
        idle.push_back(100 * (Measure::processCpuSeconds(pid) - cpu0) / (t.nsecsElapsed() / 1e9));
        rss.push_back(Measure::statusKb("VmRSS", pid));
        console.terminate();
        if (!console.waitForFinished(3000)) {
            console.kill();
            console.waitForFinished(2000);
        }
    }
    say(QStringLiteral("  vcm-console itself, 4 s after launch (offscreen): resident %1 MiB, CPU "
                       "%2 % of one core "
                       "over the last 3 s")
            .arg(median(rss) / 1024, 0, 'f', 1)
            .arg(median(idle), 0, 'f', 2));
    g_rows.append({ QStringLiteral("`vcm-console` itself, started with no port open (offscreen)"),
                    QStringLiteral("-"),
                    QStringLiteral("%1 MiB resident; CPU %2 % of one core while it waits")
                        .arg(median(rss) / 1024, 0, 'f', 1)
                        .arg(median(idle), 0, 'f', 2),
                    QStringLiteral("-") });
}

void benchMemory(const Options &o)
{
    say(QStringLiteral(
            "\n== Resident memory over %1 s of capturing every 2500 ms (child process), wire speed")
            .arg(o.memorySeconds));
    const QStringList lines
        = runChild({ QStringLiteral("--memory-probe"), QString::number(o.memorySeconds) },
                   QStringLiteral("offscreen"), (o.memorySeconds + 60) * 1000);
    QHash<QString, double> kb;
    QStringList exchanges;
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.value(0) == QLatin1String("exchanges"))
            exchanges = f;
        else
            kb.insert(f.value(0), f.value(1).toDouble());
    }
    if (!kb.contains(QStringLiteral("rss-end"))) {
        say(QStringLiteral("  probe failed: ") + lines.join(QLatin1Char('|')));
        return;
    }
    const double oneMin = kb.value(QStringLiteral("rss-1min"));
    const double end = kb.value(QStringLiteral("rss-end"));
    const double growth = 100 * (end - oneMin) / oneMin;
    say(QStringLiteral(
            "  resident: shown %1 MiB, selected %2 MiB, after 1 min %3 MiB, after %4 s %5 MiB "
            "(%6 % since the first minute); %7 exchanges, %8 without prompt, %9 error messages")
            .arg(kb.value(QStringLiteral("rss-shown")) / 1024, 0, 'f', 1)
            .arg(kb.value(QStringLiteral("rss-selected")) / 1024, 0, 'f', 1)
            .arg(oneMin / 1024, 0, 'f', 1)
            .arg(o.memorySeconds)
            .arg(end / 1024, 0, 'f', 1)
            .arg(growth, 0, 'f', 2)
            .arg(exchanges.value(1), exchanges.value(2), exchanges.value(3)));
    g_rows.append({ QStringLiteral("Resident memory after %1 min of capturing (DIO, every 2500 ms)")
                        .arg(o.memorySeconds / 60.0, 0, 'f', 0),
                    QStringLiteral("-"),
                    QStringLiteral("%1 MiB, %2 % since the first minute (%3 exchanges, %4 failed)")
                        .arg(end / 1024, 0, 'f', 1)
                        .arg(growth, 0, 'f', 2)
                        .arg(exchanges.value(1), exchanges.value(2)),
                    QStringLiteral("-") });
}

void printTable()
{
    say(QStringLiteral("\n| measure | protocol minimum for the same work | measured | ratio |"));
    say(QStringLiteral("|---|---|---|---|"));
    for (const Row &r : g_rows)
        say(QStringLiteral("| %1 | %2 | %3 | %4 |").arg(r.measure, r.minimum, r.measured, r.ratio));
}

} // namespace

int main(int argc, char *argv[])
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--startup-probe") {
            return startupProbe(argc, argv);
        } else if (arg == "--memory-probe" && i + 1 < argc) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return memoryProbe(argc, argv, atoi(argv[i + 1]));
        } else if (arg == "--quick") {
            o.exchangeRounds = 11;
            o.pollRounds = 5;
            o.captureRounds = 3;
            o.paintRounds = 21;
            o.startupRounds = 3;
            o.cpuSeconds = 8;
            o.memorySeconds = 70;
            o.tuning = false;
        } else if (arg == "--memory-seconds" && i + 1 < argc) {
            o.memorySeconds = std::max(61, atoi(argv[++i]));
        } else if (arg == "--stalls") {
            o.stallsOnly = true;
        } else if (arg == "--no-tuning") {
            o.tuning = false;
        } else if (arg == "--cpu-seconds" && i + 1 < argc) {
            o.cpuSeconds = std::max(3, atoi(argv[++i]));
        } else {
            std::fprintf(stderr,
                         "usage: bench_console [--quick] [--stalls] [--no-tuning] "
                         "[--memory-seconds N] [--cpu-seconds N]\n");
            return 2;
        }
    }
    // Paint timings are for the offscreen raster surface; children choose their own platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    say(QStringLiteral("load average at start: %1 (%2 cores)")
            .arg(Measure::loadAverage())
            .arg(QThread::idealThreadCount()));
    if (o.stallsOnly) {
        benchStalls(o);
        return 0;
    }
    benchExchange(o);
    benchStatusPoll(o);
    benchCapture(o, false);
    benchCapture(o, true);
    benchPaint(o);
    benchCpu(o);
    benchStartup(o);
    benchMemory(o);
    benchStalls(o);
    say(QStringLiteral("\nload average at end: %1").arg(Measure::loadAverage()));
    printTable();
    return 0;
}
