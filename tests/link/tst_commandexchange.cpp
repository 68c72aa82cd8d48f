#include "CommandExchange.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

#include <QtTest>

#include <memory>

using Routine = bool (CommandExchange::*)(const QString &);
Q_DECLARE_METATYPE(Routine)
using Pieces = QList<QPair<int, QByteArray>>;
enum class Line { Open, Breaks, Closed };
Q_DECLARE_METATYPE(Line)

class TestCommandExchange final : public QObject {
    Q_OBJECT

private:
    struct Rig {
        explicit Rig(std::uint32_t start = 1000) : clock(start), port(clock), link(port, clock)
        {
            port.setPortName(QStringLiteral("COM4"));
            port.open();
        }
        VirtualClock clock;
        ScriptedSerialPort port;
        CommandExchange link;
    };

private slots:
    // Elapsed virtual time of each routine, start to return, for a drive that answers at
    // once and for one that stays silent. Delay(n) lasts n+1 ms on a 1 ms counter.
    void timing_data()
    {
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<qint64>("elapsed");
        const auto row
            = [](const char *name, Routine r, const char *command, bool answers, qint64 elapsed) {
                  QTest::newRow(name) << r << QString::fromLatin1(command) << answers << elapsed;
              };
        using C = CommandExchange;
        row("SendCmd answered", &C::SendCmd, "ST 1", true, 11 + 6);
        // poll steps of 6 until more than 200 ms passed
        row("SendCmd silent", &C::SendCmd, "ST 1", false, 11 + 34 * 6);
        row("SendCmdLong answered", &C::SendCmdLong, "RV 8", true, 21 + 6);
        row("SendCmdLong silent", &C::SendCmdLong, "RV 8", false, 21 + 334 * 6);
        // 6 before writing, 51, steps of 16, 16 after
        row("SendCmdSlow answered", &C::SendCmdSlow, "RO", true, 6 + 51 + 16 + 16);
        row("SendCmdSlow silent", &C::SendCmdSlow, "RO", false, 6 + 51 + 188 * 16 + 16);
        // one character every 6 ms (Delay(5)), then the wait of SendCmd
        row("SendCmdPaced answered", &C::SendCmdPaced, "SV", true, 2 * 6 + 11 + 6);
        row("SendCmdPaced silent", &C::SendCmdPaced, "SV", false, 2 * 6 + 11 + 1334 * 6);
    }
    void timing()
    {
        QFETCH(Routine, routine);
        QFETCH(QString, command);
        QFETCH(bool, answers);
        QFETCH(qint64, elapsed);

        Rig rig;
        if (answers)
            rig.port.answer(command.toLatin1(), "0000\r\n>");
        const qint64 start = rig.clock.now();
        const bool ok = (rig.link.*routine)(command);
        QCOMPARE(ok, answers);
        QCOMPARE(rig.clock.now() - start, elapsed);
        QVERIFY(rig.link.CommDone);
        QCOMPARE(rig.link.RxBuffer, answers ? QStringLiteral("0000\r\n>") : QString());
        QCOMPARE(rig.port.lines(), QList<QByteArray> { command.toLatin1() });
        // Paced: a write per character, 6 ms apart; otherwise the line in one write.
        const auto &w = rig.port.writes();
        const bool paced = routine == &CommandExchange::SendCmdPaced;
        QCOMPARE(w.size(), paced ? command.size() + 1 : 1);
        if (paced) {
            QCOMPARE(w[0].at, start);
            QCOMPARE(w[1].at - w[0].at, qint64(6));
        }
    }

    // A reply is taken while the reply window is open and lost once it has closed. The
    // delay counts from the carriage return; the last read of a window falls 2 to 16 ms
    // before its limit because each pass sleeps a whole poll step after reading.
    void limit_data()
    {
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<int>("delay");
        QTest::addColumn<bool>("taken");

        QTest::newRow("SendCmd inside") << &CommandExchange::SendCmd << 11 + 198 << true;
        QTest::newRow("SendCmd outside") << &CommandExchange::SendCmd << 11 + 199 << false;
        QTest::newRow("SendCmdLong inside") << &CommandExchange::SendCmdLong << 21 + 1998 << true;
        QTest::newRow("SendCmdLong outside") << &CommandExchange::SendCmdLong << 21 + 1999 << false;
        QTest::newRow("SendCmdSlow inside") << &CommandExchange::SendCmdSlow << 51 + 2992 << true;
        QTest::newRow("SendCmdSlow outside") << &CommandExchange::SendCmdSlow << 51 + 2993 << false;
        QTest::newRow("SendCmdPaced inside") << &CommandExchange::SendCmdPaced << 11 + 7998 << true;
        QTest::newRow("SendCmdPaced outside")
            << &CommandExchange::SendCmdPaced << 11 + 7999 << false;
    }
    void limit()
    {
        QFETCH(Routine, routine);
        QFETCH(int, delay);
        QFETCH(bool, taken);

        Rig rig;
        rig.port.answer("RV 8", "0100\r\n>", delay);
        QCOMPARE((rig.link.*routine)(QStringLiteral("RV 8")), taken);
        QCOMPARE(rig.link.RxBuffer.contains(QLatin1Char('>')), taken);
    }

    // Replies as the line delivers them: pieces (ms after the command, bytes), then perhaps a
    // failing line. What the routine keeps, and how soon it returns.
    void delivery_data()
    {
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<QByteArray>("stale"); // waiting before the command goes out
        QTest::addColumn<Pieces>("pieces");
        QTest::addColumn<Line>("line");
        QTest::addColumn<QString>("kept"); // empty: the routine failed
        QTest::addColumn<qint64>("within");
        const auto row = [](const char *name, Routine r, const QByteArray &stale, const Pieces &p,
                            Line line, const QString &kept, qint64 within) {
            QTest::newRow(name) << r << stale << p << line << kept << within;
        };
        using C = CommandExchange;
        row("stale input flushed", &C::SendCmdLong, "=12 ok>", { { 3, "55\r\n>" } }, Line::Open,
            "55\r\n>", 2025);
        // Reads at 21, 27, ... 45 after the write; the one at 45 sees the prompt, then one more
        // poll step: found on the first pass after it arrived, not at the limit.
        row("prompt split over two reads", &C::SendCmdLong, {}, { { 0, "=1500\r\n" }, { 40, ">" } },
            Line::Open, "=1500\r\n>", 51);
        row("text after the prompt kept", &C::SendCmd, {}, { { 0, "ok>trailing" } }, Line::Open,
            "ok>trailing", 215);
        row("line fails mid-exchange", &C::SendCmdLong, {}, { { 0, "12" } }, Line::Breaks, "", 99);
        row("closed port", &C::SendCmdPaced, {}, { { 0, "0>" } }, Line::Closed, "", 99);
        Pieces flood;
        for (int i = 0; i < 8; ++i)
            flood.append({ i * 10, QByteArray(64 * 1024, 'x') });
        flood.append({ 100, ">" });
        // The prompt is found, but the reply is kept only up to its limit.
        row("flood", &C::SendCmdLong, {}, flood, Line::Open,
            QString(CommandExchange::MaxReplyBytes, QLatin1Char('x')), 2025);
    }
    void delivery()
    {
        QFETCH(Routine, routine);
        QFETCH(QByteArray, stale);
        QFETCH(Pieces, pieces);
        QFETCH(Line, line);
        QFETCH(QString, kept);
        QFETCH(qint64, within);

        Rig rig;
        if (!stale.isEmpty())
            rig.port.schedule(stale, 0);
        rig.port.setResponder([&](ScriptedSerialPort &port, const QByteArray &) {
            for (const auto &[delay, bytes] : pieces)
                port.schedule(bytes, delay);
            if (line == Line::Breaks)
                port.breakLine();
        });
        if (line == Line::Closed)
            rig.port.close();
        const qint64 start = rig.clock.now();
        QCOMPARE((rig.link.*routine)(QStringLiteral("RV 1")), !kept.isEmpty());
        QVERIFY(rig.link.CommDone);
        QCOMPARE(rig.link.RxBuffer, kept);
        QVERIFY(rig.clock.now() - start <= within);
    }

    // What the line would not carry as built is refused whole, never cut or re-encoded.
    void commandThatDoesNotFitIsNotSent_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("sent");
        QTest::newRow("longest") << QString(32767, QLatin1Char('1')) << true;
        QTest::newRow("one too long") << QString(32768, QLatin1Char('1')) << false;
        QTest::newRow("line end inside") << QStringLiteral("WT 0 0 1\rSV") << false;
        QTest::newRow("not one byte") << QStringLiteral("WT 0 0 1\u20ac") << false;
        QTest::newRow("Latin-1") << QStringLiteral("WT 0 0 \u00e9") << true;
        QTest::newRow("empty") << QString() << true;
    }
    void commandThatDoesNotFitIsNotSent()
    {
        QFETCH(QString, command);
        QFETCH(bool, sent);
        Rig rig;
        rig.link.RxBuffer = QStringLiteral("stale");
        rig.link.SendCmdPaced(command);
        QCOMPARE(rig.port.written().isEmpty(), !sent);
        if (sent)
            QCOMPARE(rig.port.written(), command.toLatin1() + '\r');
        else
            QVERIFY(rig.link.RxBuffer.isEmpty());
        QVERIFY(rig.link.CommDone);
    }

    void delayIsStrictlyLonger_data()
    {
        QTest::addColumn<uint>("start");
        QTest::addColumn<int>("msecond");
        QTest::addColumn<qint64>("elapsed");

        QTest::newRow("Delay(0)") << 1000u << 0 << qint64(1);
        QTest::newRow("Delay(5)") << 1000u << 5 << qint64(6);
        QTest::newRow("negative") << 1000u << -3 << qint64(0);
        // The tick counter wraps during the wait: neither early nor endless.
        QTest::newRow("across wrap") << 0xFFFFFFF0u << 100 << qint64(101);
        QTest::newRow("at wrap") << 0xFFFFFFFFu << 1000 << qint64(1001);
    }
    void delayIsStrictlyLonger()
    {
        QFETCH(uint, start);
        QFETCH(int, msecond);
        QFETCH(qint64, elapsed);

        Rig rig(start);
        const qint64 t0 = rig.clock.now();
        rig.link.Delay(msecond);
        QCOMPARE(rig.clock.now() - t0, elapsed);
    }

    void exchangeAcrossTickWrap()
    {
        Rig rig(0xFFFFFFFFu - 100);
        const qint64 start = rig.clock.now();
        QVERIFY(!rig.link.SendCmdLong(QStringLiteral("RV 8")));
        QCOMPARE(rig.clock.now() - start, qint64(2025));
    }

    void delayDoEventsProcessesEventsEachPass()
    {
        Rig rig;
        int passes = 0;
        rig.link.setEventPump([&] { ++passes; });
        rig.link.DelayDoEvents(100);
        QCOMPARE(passes, 102);
    }
};

QTEST_GUILESS_MAIN(TestCommandExchange)
#include "tst_commandexchange.moc"
