#include "Clock.h"
#include "CommandExchange.h"
#include "SystemSerialPort.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

namespace {
// The console's side of the line: its own serial port adapter and exchange routines.
struct Console {
    explicit Console(const QString &path)
    {
        port.setPortName(path);
        opened = port.open();
        exchange.setEventPump([] {});
    }
    SystemSerialPort port;
    SteadyClock clock;
    CommandExchange exchange { port, clock };
    bool opened = false;
};
} // namespace

// The real program on a pseudo-terminal.
class TestSimEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void exchangesAndSavedState();
    void faultsAndTheLineVanishing();
    void repliesArePacedAtWireSpeed();

private:
    bool start(const QStringList &arguments);
    QString nextOutputLine();
    QString control(const QByteArray &command);

    QProcess m_sim;
    QTemporaryDir m_dir;
    QString m_ptyPath;
};

bool TestSimEndToEnd::start(const QStringList &arguments)
{
    m_sim.start(QStringLiteral(VCM_DRIVE_SIM), arguments);
    m_ptyPath = m_sim.waitForStarted(5000) ? nextOutputLine() : QString();
    return m_ptyPath.startsWith('/');
}

QString TestSimEndToEnd::nextOutputLine()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_sim.canReadLine() && timer.elapsed() < 5000)
        m_sim.waitForReadyRead(100);
    return QString::fromLocal8Bit(m_sim.readLine()).trimmed();
}

QString TestSimEndToEnd::control(const QByteArray &command)
{
    m_sim.write(command + '\n');
    return command == "quit" ? QString() : nextOutputLine();
}

void TestSimEndToEnd::cleanup()
{
    if (m_sim.state() != QProcess::NotRunning) {
        control("quit");
        if (!m_sim.waitForFinished(3000))
            m_sim.kill();
        m_sim.waitForFinished(3000);
    }
}

void TestSimEndToEnd::exchangesAndSavedState()
{
    const QString link = m_dir.filePath("bus");
    const QString state = m_dir.filePath("drives.state");
    std::ofstream(state.toStdString()) << "9 KPP 777\n5 KVP 99999\n";
    QVERIFY(start({ "--fast", "--stations", "0,5", "--link", link, "--state", state }));
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_ptyPath);
    {
        Console console(link);
        QVERIFY(console.opened);
        CommandExchange &x = console.exchange;
        QVERIFY(x.SendCmd("ST 0"));
        QCOMPARE(x.RxBuffer, QStringLiteral("OK;\r\n>"));
        QVERIFY(!x.SendCmd("ST 3"));
        QVERIFY(x.SendCmd("ST 5"));
        QVERIFY(x.SendCmdLong("RV 8"));
        QCOMPARE(x.RxBuffer, QStringLiteral("0810;\r\n>"));
        QVERIFY(x.SendCmdLong("RD 0 2"));
        QCOMPARE(x.RxBuffer, QStringLiteral("KVP=2000;\r\n>")); // clamped on loading
        QVERIFY(x.SendCmdPaced("WT 0 0 300"));
        QCOMPARE(x.RxBuffer, QStringLiteral("KPP=300;\r\n>"));
        QVERIFY(x.SendCmd("SV"));
        QVERIFY(x.SendCmdPaced("WT 0 2 150")); // not saved
    }
    cleanup();

    // Station 9 was absent when station 5 saved, but keeps its line.
    QVERIFY(start({ "--fast", "--stations", "0,5,9", "--link", link, "--state", state }));
    Console console(link);
    QVERIFY(console.opened);
    CommandExchange &x = console.exchange;
    QVERIFY(x.SendCmd("ST 5"));
    QVERIFY(x.SendCmdLong("RD 0 0"));
    QCOMPARE(x.RxBuffer, QStringLiteral("KPP=300;\r\n>"));
    QVERIFY(x.SendCmdLong("RD 0 2"));
    QCOMPARE(x.RxBuffer, QStringLiteral("KVP=2000;\r\n>"));
    QVERIFY(x.SendCmd("ST 9"));
    QVERIFY(x.SendCmdLong("RD 0 0"));
    QCOMPARE(x.RxBuffer, QStringLiteral("KPP=777;\r\n>"));
}

void TestSimEndToEnd::faultsAndTheLineVanishing()
{
    const QString link = m_dir.filePath("bus2");
    QVERIFY(start({ "--fast", "--link", link }));
    Console console(link);
    QVERIFY(console.opened);
    CommandExchange &x = console.exchange;
    QVERIFY(x.SendCmd("ST 0"));

    QCOMPARE(control("fault 0 delay 400"), QStringLiteral("ok"));
    QVERIFY(!x.SendCmd("RV 8")); // 200 ms is too short
    QVERIFY(x.SendCmdLong("RV 8"));
    QCOMPARE(control("fault clear 0"), QStringLiteral("ok"));

    QCOMPARE(control("line drop"), QStringLiteral("line dropped"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!x.SendCmdLong("RV 8"));
    QVERIFY(timer.elapsed() < 1500); // ends at once instead of waiting out the limit
    QVERIFY(!console.port.isUsable());
    QVERIFY(!QFileInfo::exists(link));

    QVERIFY(control("line restore").startsWith("line restored: /dev/"));
    console.port.close();
    QVERIFY(console.port.open());
    QVERIFY(x.SendCmd("ST 0"));
    QVERIFY(x.SendCmdLong("RD 0 1"));
    QCOMPARE(x.RxBuffer, QStringLiteral("KFV=50;\r\n>"));
}

void TestSimEndToEnd::repliesArePacedAtWireSpeed()
{
    QVERIFY(start({}));
    Console console(m_ptyPath);
    QVERIFY(console.opened);
    QVERIFY(console.exchange.SendCmd("ST 0"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(console.exchange.SendCmdSlow("RO"));
    QCOMPARE(console.exchange.RxBuffer.count(','), 512);
    // 10 bits a byte at 38400 baud.
    const qint64 wireMs = console.exchange.RxBuffer.size() * 10 * 1000 / 38400;
    QVERIFY(wireMs > 200);
    QVERIFY2(timer.elapsed() >= wireMs && timer.elapsed() < wireMs + 1000,
             qPrintable(QString("%1 %2").arg(timer.elapsed()).arg(wireMs)));
}

QTEST_GUILESS_MAIN(TestSimEndToEnd)
#include "tst_simendtoend.moc"
