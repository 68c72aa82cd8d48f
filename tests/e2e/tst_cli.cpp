// The program's command line: answers that need no window, and refusals.
#include <QProcess>
#include <QtTest>

class TestCli final : public QObject {
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutStart");
        QTest::addColumn<QString>("stderrStart");

        QTest::newRow("--version")
            << QStringList { "--version" } << 0 << "vcm-console " VCM_VERSION << "";
        QTest::newRow("-v") << QStringList { "-v" } << 0 << "vcm-console "
                            << "";
        QTest::newRow("--help") << QStringList { "--help" } << 0
                                << "Usage: vcm-console [--trace FILE] [PORT]"
                                << "";
        QTest::newRow("help after a port") << QStringList { "4", "-h" } << 0 << "Usage:"
                                           << "";
        QTest::newRow("two ports") << QStringList { "4", "5" } << 2 << ""
                                   << "Usage:";
        QTest::newRow("unknown option") << QStringList { "--fast" } << 2 << ""
                                        << "Usage:";
        QTest::newRow("--trace without a file") << QStringList { "4", "--trace" } << 2 << ""
                                                << "Usage:";
        QTest::newRow("trace that cannot be written")
            << QStringList { "--trace=/nonexistent/t.jsonl", "4" } << 2 << ""
            << "vcm-console: cannot write the trace /nonexistent/t.jsonl";
    }
    void answers()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutStart);
        QFETCH(QString, stderrStart);

        QProcess p;
        // No display at all: these must not need one.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VCM_CONSOLE), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(stdoutStart.isEmpty() ? out.isEmpty() : out.startsWith(stdoutStart),
                 qPrintable(out));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(stderrStart.isEmpty() || err.startsWith(stderrStart), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
