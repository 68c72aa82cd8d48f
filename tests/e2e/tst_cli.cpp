// One run a row: vcm-tool on the drive simulator (every command and exit code), and the
// console's answers that need no window. Rows share one simulator: later ones read earlier writes.
#include "SimProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestCli final : public QObject {
    Q_OBJECT

    SimProcess m_sim { { "--fast", "--stations", "1,2,5" } };
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(!m_sim.path().isEmpty());
        QFile bad(m_dir.filePath(QStringLiteral("bad.vcmpar")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("KPP = 300\nKPX = 1\n");
    }

    // Arguments: "@port" and "@dir" are the simulator's line and a scratch folder; "@sim:X"
    // sends X to the simulator first; "@console" runs the console instead of vcm-tool;
    // "@stdout:F" sends standard output to F; "@busy" has another vcm-tool hold the port.
    // VCM_PORT names the simulator unless the row gives --port or is about having no port.
    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // a pattern stdout matches
        QTest::addColumn<QString>("err"); // text stderr holds
        QTest::addColumn<QString>("trace"); // text the --trace file holds; none: no --trace
        const auto row
            = [](const char *name, const QStringList &args, int exitCode, const QString &out,
                 const QString &err = {}, const QString &trace = {}) {
                  QTest::newRow(name) << args << exitCode << out << err << trace;
              };

        row("scan", { "scan" }, 0, "^1\n2\n5\n$");
        row("status, --port instead of VCM_PORT", { "--port", "@port", "status" }, 0,
            "^status=0[0-9A-F]{3}\n(\\w+=[01]\n){7}SVON=0\n(\\w+=[01]\n){5}source=pulse\n$");
        row("status --json", { "--json", "status" }, 0,
            "^\\{\"bits\":\\{.*\"SVON\":0.*\\},\"source\":\"pulse\",\"station\":1,\"status\":\"0");
        row("vars", { "vars" }, 0,
            QStringLiteral("^PCMD=%1\nPFBK=%1\nPERR=%1\nVCMD=%1\nVFBK=%1\nVERR=%1\nICMD=%1\n$")
                .arg("-?\\d+"));
        row("vars --json", { "--json", "--station", "5", "vars" }, 0,
            "^\\{\"station\":5,\"variables\":\\{\"ICMD\":-?\\d+,");
        row("set, traced", { "set", "kpp=300", "KVP = 120" }, 0,
            "^KPP=300 confirmed\nKVP=120 confirmed\n$", "",
            "\"station\":1,\"routine\":\"SendCmdPaced\",\"command\":\"WT 0 2 120\","
            "\"reply\":\"KVP=120;\\r\\n>\"");
        row("read to stdout", { "read" }, 0,
            "^# VCM drive parameter set\n# station 1, read \\d{4}-\\d\\d-\\d\\d [\\d:]{8}\n"
            "KPP = 300\nKFV = 50\nKVP = 120\n(\\w+ = -?\\d+\n){21}TH1 = 5000\n$");
        row("read --json to a file", { "--json", "read", "@dir/station1.vcmpar" }, 0,
            "^\\{\"parameters\":\\{.*\"KPP\":300,.*\\},\"read\":\"\\d{4}-.*\",\"station\":1\\}\n$");
        row("write --save to another drive",
            { "--station", "2", "write", "@dir/station1.vcmpar", "--save" }, 0,
            "^KPP=300 confirmed\n(\\w+=-?\\d+ confirmed\n){24}SAVE OK\n$");
        row("read it back", { "--station", "2", "read" }, 0, "KPP = 300\nKFV = 50\nKVP = 120\n");
        row("a value the drive clamps", { "--json", "set", "KFV=150" }, 1,
            "^\\{\"error\":\"KFV: sent 150, the drive holds "
            "100\",\"parameters\":\\[\\{\"confirmed\":"
            "false,\"held\":100,\"name\":\"KFV\",\"sent\":"
            "150\\}\\],",
            "KFV: sent 150, the drive holds 100");
        row("a bad file sends nothing", { "write", "@dir/bad.vcmpar" }, 2, "^$",
            "bad.vcmpar: line 2: unknown name \"KPX\"", "(nothing)");
        row("save", { "--json", "save" }, 0, "^\\{\"saved\":true,\"station\":1\\}\n$");
        row("source updown, proven", { "--json", "--station", "5", "source", "updown" }, 0,
            "^\\{\"mode\":\"0040\",\"source\":\"updown\",\"station\":5\\}\n$");
        row("source refused while the servo is on",
            { "@sim:servo 5 on", "--station", "5", "source", "pulse" }, 1, "^$",
            " You must servo off before changing command source");
        row("capture", { "capture", "--channels", "pfbk,PCMD", "--interval", "100" }, 0,
            "^time_ms,PCMD,PFBK\n0,-?\\d+,-?\\d+\n(.+\n){254}99.609375,-?\\d+,-?\\d+\n$");
        row("no test motion in pulse mode",
            { "capture", "--channels", "PCMD,PFBK", "--move", "3000" }, 1, "^$",
            "no test motion: it needs up/down mode with the servo on and DI1 off");
        row("capture with a test motion",
            { "--station", "5", "capture", "--channels", "PCMD,DIO", "--move", "3000" }, 0,
            "^time_ms,PCMD,DIO\n(.+\n){255}[\\d.]+,3000,\\d+\n$", "",
            "\"command\":\"WT 2 0 3000\"");
        row("garbled replies, traced as received",
            { "@sim:fault 2 garbage", "--station", "2", "status" }, 1, "^$",
            "no hexadecimal word in the reply to \"RV 8\"", "\"reply\":\"\\u0015~");
        row("a silent station", { "--json", "--station", "4", "status" }, 3,
            "^\\{\"error\":\"no answer to \\\\\"ST 4\\\\\"\",\"station\":4\\}\n$",
            "no answer to \"ST 4\"");
        row("read to a full standard output", { "@stdout:/dev/full", "read" }, 4, "^$",
            "cannot write the standard output: ");
        row("read to a full device, written in place", { "read", "/dev/full" }, 4, "^$",
            "cannot write /dev/full: No space left on device");
        row("a trace that cannot be completed", { "--trace=/dev/full", "vars" }, 4,
            "^PCMD=", "the trace /dev/full stopped");
        row("a port another program holds", { "@busy", "status" }, 3, "^$",
            "the port " + m_sim.path() + " is in use by another program");
        row("a port that cannot be opened", { "--port", "/dev/nonexistent-vcm", "scan" }, 3, "^$",
            "cannot open the port /dev/nonexistent-vcm");
        row("no port", { "status" }, 2, "^$", "no port: give --port or set VCM_PORT");
        row("unknown command", { "frobnicate" }, 2, "^$", "unknown command");
        row("set, an argument that is a comment", { "set", "KPP=1", "#KVP=2" }, 2, "^$",
            "set: argument 2 \"#KVP=2\" is no NAME=VALUE");
        row("a channel that is none", { "capture", "--channels", "PCMD,PFBX" }, 2, "^$",
            "--channels takes two of");
        row("an option of another command", { "read", "--channels", "PCMD,PFBK" }, 2, "^$",
            "--channels is an option of capture");
        row("--help", { "--help" }, 0, "^Usage: vcm-tool [\\s\\S]*Exit codes:");
        row("--version", { "--version" }, 0, "^vcm-tool " VCM_VERSION "\n$");

        // The console, with no display at all: these must not need one.
        const QString usage = QStringLiteral("Usage:");
        row("console --version", { "@console", "--version" }, 0, "^vcm-console " VCM_VERSION);
        row("console help after a port", { "@console", "4", "-h" }, 0,
            "^Usage: vcm-console \\[--trace FILE\\] \\[PORT\\]");
        row("console --trace without a file", { "@console", "4", "--trace" }, 2, "^$", usage);
        row("console trace that cannot be written",
            { "@console", "--trace=/nonexistent/t.jsonl", "4" }, 2, "^$",
            "vcm-console: cannot write the trace /nonexistent/t.jsonl");
    }
    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, trace);
        QStringList toolArgs;
        QProcess tool, holder;
        for (QString arg : args) {
            if (arg.startsWith(QLatin1String("@sim:")))
                QCOMPARE(m_sim.command(arg.mid(5)), QStringLiteral("ok"));
            else if (arg.startsWith(QLatin1String("@stdout:")))
                tool.setStandardOutputFile(arg.mid(8));
            else if (arg == QLatin1String("@busy")) {
                // A scan spends seconds on the silent stations, holding the port; meanwhile
                // the station that answered is already out.
                holder.start(QStringLiteral(VCM_TOOL), { "--port", m_sim.path(), "scan" });
                QVERIFY(holder.waitForReadyRead(3000));
                QCOMPARE(holder.readAllStandardOutput(), "1\n");
            } else if (arg != QLatin1String("@console"))
                toolArgs << arg.replace(QLatin1String("@port"), m_sim.path())
                                .replace(QLatin1String("@dir"), m_dir.path());
        }
        const QString traceFile
            = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".jsonl");
        if (!trace.isEmpty())
            toolArgs.prepend(QStringLiteral("--trace=") + traceFile);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const bool noPort = args.contains(QLatin1String("--port"))
            || QByteArray(QTest::currentDataTag()).startsWith("no port");
        env.insert(QStringLiteral("VCM_PORT"), noPort ? QString() : m_sim.path());
        // No display for xcb: a console answer that needed a window would fail.
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        tool.setProcessEnvironment(env);
        tool.start(args.contains(QLatin1String("@console")) ? QStringLiteral(VCM_CONSOLE)
                                                            : QStringLiteral(VCM_TOOL),
                   toolArgs);
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        const QString stdoutText = QString::fromUtf8(tool.readAllStandardOutput());
        const QString stderrText = QString::fromUtf8(tool.readAllStandardError());
        QVERIFY2(tool.exitCode() == exitCode, qPrintable(stderrText));
        QVERIFY2(QRegularExpression(out).match(stdoutText).hasMatch(), qPrintable(stdoutText));
        QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
        // The pointer to --help is for a command line that is wrong, not for a file.
        if (!args.contains(QLatin1String("@console")))
            QCOMPARE(stderrText.contains(QLatin1String("Try 'vcm-tool --help'.")),
                     exitCode == 2 && !QByteArray(QTest::currentDataTag()).contains("file"));
        holder.waitForFinished(20000);
        if (trace.isEmpty())
            return;
        QFile file(traceFile);
        const QString traced
            = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        QVERIFY2(trace == QLatin1String("(nothing)") ? traced.isEmpty() : traced.contains(trace),
                 qPrintable(traced));
        for (const QString &line : traced.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            QVERIFY(QJsonDocument::fromJson(line.toUtf8()).isObject());
    }

    // Ctrl+C during a tuning run: the run ends at once with the gains as found written back.
    void tuneInterrupted()
    {
        SimProcess sim({ "--demo", "--keep-servo-on", "--stations", "1" });
        QTemporaryDir dir;
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(QStringLiteral(VCM_TOOL),
                   { "--port", sim.path(), "tune", "--step", "300", "--log", "trials.csv" });
        QString out;
        while (!out.contains("trial 2 ") && tool.waitForReadyRead(30000))
            out += QString::fromUtf8(tool.readAllStandardOutput());
        QVERIFY2(out.contains("trial 2 "), qPrintable(out + tool.readAllStandardError()));
        ::kill(pid_t(tool.processId()), SIGINT);
        QVERIFY(tool.waitForFinished(20000));
        out += QString::fromUtf8(tool.readAllStandardOutput());
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(tool.readAllStandardError().contains("vcm-tool: tune: aborted"));
        QVERIFY2(out.endsWith("the gains as found are in force again\n"), qPrintable(out));
        QFile log(dir.filePath("trials.csv"));
        QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().count('\n') >= 3);
        QCOMPARE(QDir(dir.path()).entryList({ "station1-*.vcmpar" }).size(), 1);
        QProcess read;
        read.start(QStringLiteral(VCM_TOOL), { "--port", sim.path(), "read" });
        QVERIFY(read.waitForFinished(20000));
        QVERIFY(
            read.readAllStandardOutput().contains("\nKPP = 250\nKFV = 50\nKVP = 100\nKVI = 100\n"));
    }

    // Every vcm-tool example of the README as written, in its order, against the simulator as
    // scripts/run --tool starts it (at wire speed: the CI capture depends on the timing).
    void readmeExamples()
    {
        const QString root = QStringLiteral(VCM_SOURCE_DIR);
        QFile run(root + "/scripts/run"), readme(root + "/README.md");
        QVERIFY(run.open(QIODevice::ReadOnly) && readme.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch options
            = QRegularExpression("\ntool_options=\"([^\"]*)\"").match(run.readAll());
        QVERIFY(options.hasMatch());
        SimProcess sim(options.captured(1).split(' '));
        QVERIFY(!sim.path().isEmpty());
        QTemporaryDir dir;
        const auto shell = [&](const QStringList &args) { // its output, if it succeeded
            QProcess sh;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("PATH", QFileInfo(VCM_TOOL).path() + ':' + env.value("PATH"));
            env.insert("VCM_PORT", sim.path());
            sh.setProcessEnvironment(env);
            sh.setWorkingDirectory(dir.path());
            sh.start("sh", args);
            const bool ok = sh.waitForFinished(60000) && sh.exitCode() == 0;
            const QString out = QString::fromUtf8(sh.readAllStandardOutput());
            if (!ok)
                qWarning() << args << out << sh.readAllStandardError();
            return ok ? out : QString();
        };

        const QString text = QString::fromUtf8(readme.readAll())
                                 .section("\n## The command line: `vcm-tool`", 1)
                                 .section("\n## ", 0, 0);
        const QRegularExpression block("\n```(\\w*)\n(.*?)```",
                                       QRegularExpression::DotMatchesEverythingOption);
        int examples = 0;
        for (const QRegularExpressionMatch &m : block.globalMatch(text)) {
            const QString code = m.captured(2);
            if (code.startsWith("#!/bin/sh")) { // the production line, for station 5
                QFile script(dir.filePath("program.sh"));
                QVERIFY(script.open(QIODevice::WriteOnly));
                script.write(code.toUtf8());
                script.close();
                QCOMPARE(shell({ "program.sh", "5" }), "station 5: programmed and saved\n");
                ++examples;
            } else if (m.captured(1) == "sh") { // one command a line
                for (const QString &line : code.split('\n', Qt::SkipEmptyParts)) {
                    QVERIFY2(!shell({ "-c", line + " && echo ok" }).isEmpty(), qPrintable(line));
                    ++examples;
                }
            } else if (code.startsWith("$ vcm-tool")) { // commands, each with its output
                const QStringList lines = code.split('\n', Qt::SkipEmptyParts);
                for (int i = 0; i + 1 < lines.size(); i += 2) {
                    const QString out = shell({ "-c", lines[i].mid(2) + "; true" });
                    QCOMPARE(shape(QJsonDocument::fromJson(out.toUtf8()).object()),
                             shape(QJsonDocument::fromJson(lines[i + 1].toUtf8()).object()));
                    ++examples;
                }
            }
        }
        QCOMPARE(examples, 7);

        // The CI capture holds the step and its settling: away from the target at first, and
        // within 20 counts of it from 50 ms after the command got there (when the move leaves
        // depends on the machine's load) to the end, over at least the last 8 samples.
        QFile csv(dir.filePath("step.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + 256);
        const auto cell
            = [&](int row, int column) { return rows[row].section(',', column, column); };
        const auto offTarget = [&](int row) { return qAbs(cell(row, 2).toInt() - 3000); };
        QVERIFY(offTarget(1) > 20);
        int row = 1;
        while (row < rows.size() && cell(row, 1).toInt() != 3000)
            ++row;
        const double settled = cell(std::min(row, int(rows.size()) - 1), 0).toDouble() + 50;
        while (row < rows.size() && cell(row, 0).toDouble() < settled)
            ++row;
        QVERIFY2(row <= int(rows.size()) - 8, qPrintable(rows.join(' ')));
        for (; row < rows.size(); ++row)
            QVERIFY2(offTarget(row) <= 20, qPrintable(rows[row]));
    }

private:
    // Members, array lengths and value types, without the values.
    static QString shape(const QJsonValue &v)
    {
        QString text = QString::number(v.type());
        const QJsonObject object = v.toObject();
        for (auto m = object.begin(); m != object.end(); ++m)
            text += ' ' + m.key() + ':' + shape(*m);
        for (const QJsonValue &e : v.toArray())
            text += ' ' + shape(e);
        return text + ';';
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
