// The port box in a real X11 window (Xvfb, started by ctest through xvfb-run), driven with xdotool
// as an operator would: popups take the pointer there, unlike on the offscreen platform, and can
// swallow a click.
#include "PtyPeer.h"

#include <QProcess>
#include <QtTest>

// Window positions in pixels, from the design's twips: the "Comm Port Setup" frame at
// (120, 840), in it the port box at (1680, 360) (its centre), Start at (240, 840), Scan drive
// at (240, 1320).
const QPoint PortBox(8 + 112 + 24, 56 + 24 + 12);
const QPoint StartButton(8 + 16 + 32, 56 + 56 + 12);
const QPoint ScanButton(8 + 16 + 52, 56 + 88 + 12);

class TestConsoleX11 final : public QObject {
    Q_OBJECT

private:
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();

    QString xdotool(const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }
    void click(QPoint at)
    {
        xdotool({ "mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1" });
    }
    void typeIntoPortBox(const QString &text)
    {
        click(PortBox);
        xdotool({ "key", "ctrl+a" });
        xdotool({ "type", "--delay", "10", text });
    }
    // Closes the message box (titled as the application) that must come up, with Enter.
    bool closeMessageBox()
    {
        QString box;
        for (int i = 0;
             i < 100 && (box = xdotool({ "search", "--name", "^VCM Drive Console$" })).isEmpty();
             ++i)
            QTest::qWait(50);
        xdotool({ "windowfocus", "--sync", box.section(QLatin1Char('\n'), 0, 0), "key", "Return" });
        QTest::qWait(400); // Start's handler goes on for 100 ms after its box
        return !box.isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "run it through ctest (xvfb-run)");
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }

    // Type a path, click Start once: the port opens (Scan drive then reaches the line). A bad
    // name first fails and leaves Start enabled: its second click fails again.
    void startTakesTheFirstClick_data()
    {
        QTest::addColumn<bool>("listOpen");
        QTest::addColumn<bool>("badNameFirst");
        QTest::newRow("typed") << false << false;
        QTest::newRow("port list open") << true << false;
        QTest::newRow("bad name first") << false << true;
    }
    void startTakesTheFirstClick()
    {
        QFETCH(bool, listOpen);
        QFETCH(bool, badNameFirst);

        PtyPeer peer([](const QByteArray &) { return QByteArray("OK;\r\n>"); });
        QProcess console;
        console.setProcessEnvironment(m_env);
        console.start(QStringLiteral(VCM_CONSOLE), QStringList());
        QVERIFY(console.waitForStarted(5000));
        QVERIFY(!xdotool({ "search", "--sync", "--name", "^Korvane$" }).isEmpty());
        QTest::qWait(300);

        if (badNameFirst) {
            typeIntoPortBox(QStringLiteral("/dev/ttyNoSuchPort7"));
            for (int i = 0; i < 2; ++i) {
                click(StartButton);
                QVERIFY(closeMessageBox());
            }
            click(ScanButton);
            QTest::qWait(300);
            QCOMPARE(peer.linesSeen(), 0);
        }
        typeIntoPortBox(peer.path());
        if (listOpen)
            xdotool({ "key", "Down", "sleep", "0.3" });
        click(StartButton);

        // "COM Port Open Success" in a box of its own, titled as the application.
        QVERIFY(closeMessageBox());
        click(ScanButton);
        QTRY_VERIFY_WITH_TIMEOUT(peer.linesSeen() >= 2, 5000);
    }
};

QTEST_GUILESS_MAIN(TestConsoleX11)
#include "tst_console_sim_x11.moc"
