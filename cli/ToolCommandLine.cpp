#include "ToolCommandLine.h"

#include "ExchangeTrace.h"
#include "ParameterSet.h"
#include "PortName.h"
#include "RecorderSetup.h"
#include "SerialPort.h"
#include "ToolSession.h"
#include "Tuner.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>

using namespace ToolExit;

namespace {
const char *const Help
    = R"(Usage: vcm-tool [--port PORT] [--station N] [--json] [--trace FILE] COMMAND [ARGS]
A VCM servo drive on an RS-485 line, from the command line: the console's own exchanges,
for scripts, production lines and test rigs.

Commands:
  scan                      stations 0-15 that answer, one per line
  status                    status word (4 hex digits), every named bit as NAME=0|1,
                            command source (source=pulse|updown)
  vars                      the seven variables, NAME=value per line
                            (PCMD PFBK PERR VCMD VFBK VERR ICMD)
  read [FILE]               the 25 parameters as a parameter set (.vcmpar), to FILE or stdout
  write FILE [--save] [--allow-motion]
                            write a parameter set, every echo checked; --save sends SV
                            when the drive confirmed all values
  set NAME=VALUE... [--allow-motion]
                            write single parameters, e.g. set KPP=300 KVP=120 (names
                            in any case)
  save                      SV: the drive keeps its parameters over a power cycle
  source pulse|updown       UD 0 / UD 1, then RV 10 proves it; refused while the servo is on
  capture --channels A,B [--interval MS] [--new-recorder] [--move TARGET] [--out FILE.csv]
                            recorder set-up, one capture (with a test motion to TARGET, only
                            in up/down mode with the servo on and DI1 off), upload, and the
                            record as CSV (as the console's export) to FILE.csv or stdout
  tune [--step COUNTS] [--overshoot PERCENT] [--gains KPP,KVP,KVI] [--max-trials N]
       [--log FILE.csv] [--out FILE.vcmpar] [--backup FILE.vcmpar] [--restore] [--save]
                            guided tuning from measured step responses between the position
                            held and that position + COUNTS (default 200): the shortest
                            settling time with overshoot at most PERCENT (default 5) both
                            ways, margin measured; the gains as found go to the backup first
                            (default stationN-TIME.vcmpar here) and back on any failure or
                            Ctrl+C; --restore measures only; --save sends SV after success.
                            Exit 1: target not met, stopped for safety or interrupted (the
                            gains as found restored)

Options:
  --port PORT      a COM port number (n: /dev/ttyS<n-1> on Linux, COMn on Windows), a
                   device path, a port name, or a serial server on the network:
                   socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet, RFC 2217);
                   default: the environment variable VCM_PORT
  --station N      the drive, 0-15 (default 1); every command but scan first addresses it
                   with "ST N" twice
  --json           print one JSON object instead of lines, also when the command stops
                   early (then with "error")
  --trace FILE     append every exchange to FILE, one JSON object a line
  --channels A,B   two of PCMD PFBK PERR VCMD VFBK VERR ICMD DIO
  --interval MS    the span of a capture: 100, 200, 300, 400 or 500 (default 500)
  --new-recorder   the drive has the "VCRR new" recorder (256 values a record, not 512)
  --gains LIST     the gains tune may change, a subset of KPP,KFV,KVP,KVI (default
                   KPP,KVP,KVI)
  --allow-motion   write UP0 and DN0 even where that moves the actuator (up/down mode with
                   the servo on); without it such a set is refused and nothing is sent
  -h, --help       show this help and exit
  -v, --version    show the version and exit

Exit codes:
  0  done and confirmed
  1  the drive answered but refused, or holds a value other than the one written
     (each such parameter is named on stderr)
  2  usage or a bad parameter file; nothing was sent
  3  the port cannot be opened or is in use, the drive did not answer, or the port was
     lost (the unanswered command, and why a port was lost, are named on stderr)
  4  output could not be written: standard output, FILE, the CSV or the trace (an output
     file or trace that cannot be opened sends nothing)
)";

std::atomic_bool g_interrupted { false };

// The first Ctrl+C asks a tuning run to stop and restore; a second one ends the program.
extern "C" void interrupted(int signal)
{
    g_interrupted.store(true);
    std::signal(signal, SIG_DFL);
}

int usage(QTextStream &err, const QString &message)
{
    err << "vcm-tool: " << message << "\nTry 'vcm-tool --help'.\n";
    return Usage;
}

// The reasons of the file format, told of `set` arguments: one argument is one line.
QString argumentReason(QString reason)
{
    static const QRegularExpression line(QStringLiteral("first on line (\\d+)"));
    reason.replace(line, QStringLiteral("first as argument \\1"));
    return reason.replace(QLatin1String("the file is"), QLatin1String("the arguments are"))
        .replace(QLatin1String("the file"), QLatin1String("the arguments"));
}

// A port that another program holds is not a permission problem, whatever the lock says.
bool portBusy(const QString &error)
{
    return error.contains(QLatin1String("locking"), Qt::CaseInsensitive)
        || error.contains(QLatin1String("busy"), Qt::CaseInsensitive);
}

} // namespace

QString toolHelp()
{
    return QString::fromUtf8(Help);
}

int runTool(const QStringList &arguments, SerialPort &port, Clock &clock, QTextStream &out,
            QTextStream &err, const QString &defaultPort)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("PORT"));
    const QCommandLineOption stationOption(QStringLiteral("station"), QString(),
                                           QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption traceOption(QStringLiteral("trace"), QString(),
                                         QStringLiteral("FILE"));
    const QCommandLineOption saveOption(QStringLiteral("save"));
    const QCommandLineOption channelsOption(QStringLiteral("channels"), QString(),
                                            QStringLiteral("A,B"));
    const QCommandLineOption intervalOption(QStringLiteral("interval"), QString(),
                                            QStringLiteral("MS"), QStringLiteral("500"));
    const QCommandLineOption newRecorderOption(QStringLiteral("new-recorder"));
    const QCommandLineOption moveOption(QStringLiteral("move"), QString(),
                                        QStringLiteral("TARGET"));
    const QCommandLineOption outOption(QStringLiteral("out"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption allowMotionOption(QStringLiteral("allow-motion"));
    const QCommandLineOption stepOption(QStringLiteral("step"), QString(), QStringLiteral("COUNTS"),
                                        QStringLiteral("200"));
    const QCommandLineOption overshootOption(QStringLiteral("overshoot"), QString(),
                                             QStringLiteral("PERCENT"), QStringLiteral("5"));
    const QCommandLineOption gainsOption(QStringLiteral("gains"), QString(), QStringLiteral("LIST"),
                                         QStringLiteral("KPP,KVP,KVI"));
    const QCommandLineOption maxTrialsOption(QStringLiteral("max-trials"), QString(),
                                             QStringLiteral("N"), QStringLiteral("40"));
    const QCommandLineOption logOption(QStringLiteral("log"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption backupOption(QStringLiteral("backup"), QString(),
                                          QStringLiteral("FILE"));
    const QCommandLineOption restoreOption(QStringLiteral("restore"));
    const QCommandLineOption helpOption(
        QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption versionOption(
        QStringList { QStringLiteral("v"), QStringLiteral("version") });
    parser.addOptions({ portOption,      stationOption,  jsonOption,        traceOption,
                        saveOption,      channelsOption, intervalOption,    newRecorderOption,
                        moveOption,      outOption,      allowMotionOption, stepOption,
                        overshootOption, gainsOption,    maxTrialsOption,   logOption,
                        backupOption,    restoreOption,  helpOption,        versionOption });
    if (!parser.parse(arguments))
        return usage(err, parser.errorText());
    if (parser.isSet(helpOption)) {
        out << Help;
        return Done;
    }
    if (parser.isSet(versionOption)) {
        out << "vcm-tool " << VCM_VERSION << '\n';
        return Done;
    }

    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usage(err, QStringLiteral("no command"));
    const QString command = args.takeFirst();
    // Each command with the number of arguments it takes.
    static const struct {
        const char *name;
        int minArgs;
        int maxArgs;
    } shapes[] = {
        { "scan", 0, 0 },    { "status", 0, 0 }, { "vars", 0, 0 }, { "read", 0, 1 },
        { "write", 1, 1 },   { "set", 1, 1000 }, { "save", 0, 0 }, { "source", 1, 1 },
        { "capture", 0, 0 }, { "tune", 0, 0 },
    };
    const auto shape = std::find_if(std::begin(shapes), std::end(shapes), [&](const auto &s) {
        return command == QLatin1String(s.name);
    });
    if (shape == std::end(shapes))
        return usage(err, QStringLiteral("unknown command \"%1\"").arg(command));
    if (args.size() < shape->minArgs || args.size() > shape->maxArgs)
        return usage(err, QStringLiteral("wrong arguments for %1").arg(command));
    if (command == QLatin1String("source") && args[0] != QLatin1String("pulse")
        && args[0] != QLatin1String("updown"))
        return usage(err, QStringLiteral("source takes pulse or updown"));
    const struct {
        const QCommandLineOption &option;
        const char *command;
        const char *other; // a second command that takes it
    } commandOptions[] = {
        { saveOption, "write", "tune" },        { channelsOption, "capture", nullptr },
        { intervalOption, "capture", nullptr }, { newRecorderOption, "capture", nullptr },
        { moveOption, "capture", nullptr },     { outOption, "capture", "tune" },
        { stepOption, "tune", nullptr },        { overshootOption, "tune", nullptr },
        { gainsOption, "tune", nullptr },       { maxTrialsOption, "tune", nullptr },
        { logOption, "tune", nullptr },         { backupOption, "tune", nullptr },
        { restoreOption, "tune", nullptr },
    };
    for (const auto &o : commandOptions) {
        if (parser.isSet(o.option) && command != QLatin1String(o.command)
            && (!o.other || command != QLatin1String(o.other)))
            return usage(err,
                         QStringLiteral("--%1 is an option of %2")
                             .arg(o.option.names().constFirst(),
                                  o.other
                                      ? QStringLiteral("%1 and %2")
                                            .arg(QLatin1String(o.command), QLatin1String(o.other))
                                      : QLatin1String(o.command)));
    }
    const bool writes = command == QLatin1String("write") || command == QLatin1String("set");
    if (parser.isSet(allowMotionOption) && !writes)
        return usage(err, QStringLiteral("--allow-motion is an option of write and set"));

    bool stationOk = false;
    const int station = parser.value(stationOption).toInt(&stationOk);
    if (!stationOk || station < 0 || station > 15)
        return usage(err, QStringLiteral("--station takes 0 to 15"));

    const QString portText = parser.isSet(portOption) ? parser.value(portOption) : defaultPort;
    if (portText.trimmed().isEmpty())
        return usage(err, QStringLiteral("no port: give --port or set VCM_PORT"));
    const std::optional<QString> portName = portNameFromText(portText);
    if (!portName)
        return usage(
            err,
            QStringLiteral("\"%1\" names no port: %2").arg(portText, portTextProblem(portText)));

    ParameterSet set;
    QString fileError;
    if (command == QLatin1String("write")) {
        const ParameterSetParse p = readParameterSetFile(args[0]);
        if (!p.ok)
            fileError = args[0] + QStringLiteral(": ") + p.message();
        set = p.set;
    } else if (command == QLatin1String("set")) {
        QStringList lines;
        for (int i = 0; i < args.size(); ++i) {
            const QString arg = args[i].trimmed();
            // Either would be a comment or a blank line to the file parser, and vanish.
            if (arg.isEmpty())
                return usage(err,
                             QStringLiteral("set: argument %1 is empty; "
                                            "each argument is NAME=VALUE")
                                 .arg(i + 1));
            if (arg.startsWith(QLatin1Char('#')))
                return usage(err,
                             QStringLiteral("set: argument %1 \"%2\" is no NAME=VALUE")
                                 .arg(i + 1)
                                 .arg(args[i]));
            const int equals = arg.indexOf(QLatin1Char('='));
            lines << (equals < 0 ? arg : arg.left(equals).toUpper() + arg.mid(equals));
        }
        const ParameterSetParse p = parseParameterSet(lines.join(QLatin1Char('\n')).toUtf8());
        if (!p.ok)
            return usage(err,
                         p.line > 0 ? QStringLiteral("set: argument %1 \"%2\": %3")
                                          .arg(p.line)
                                          .arg(args.value(p.line - 1), argumentReason(p.reason))
                                    : QStringLiteral("set: ") + argumentReason(p.reason));
        set = p.set;
    }

    CaptureRequest capture;
    if (command == QLatin1String("capture")) {
        const QStringList names = parser.value(channelsOption).split(QLatin1Char(','));
        for (const QString &name : names) {
            if (const std::optional<int> box = channelBox(name.trimmed()))
                capture.channels[*box] = true;
        }
        if (names.size() != 2
            || std::count(capture.channels.begin(), capture.channels.end(), true) != 2)
            return usage(err,
                         QStringLiteral("--channels takes two of PCMD PFBK PERR VCMD VFBK "
                                        "VERR ICMD DIO, e.g. --channels PCMD,PFBK"));
        capture.span = parser.value(intervalOption);
        capture.newRecorder = parser.isSet(newRecorderOption);
        if (!intervalSetting(capture.span, capture.newRecorder))
            return usage(err, QStringLiteral("--interval takes 100, 200, 300, 400 or 500"));
        if (parser.isSet(moveOption)) {
            if (!parameterSetValue(parser.value(moveOption)))
                return usage(err, QStringLiteral("--move takes a target from -32768 to 32767"));
            capture.moveTarget = parser.value(moveOption);
        }
    }

    TuneOptions tune;
    if (command == QLatin1String("tune")) {
        bool ok = false;
        tune.step = parser.value(stepOption).toInt(&ok);
        if (!ok || tune.step < 1 || tune.step > 32767)
            return usage(err, QStringLiteral("--step takes counts from 1 to 32767"));
        tune.overshootPercent = parser.value(overshootOption).toDouble(&ok);
        if (!ok || !(tune.overshootPercent >= 0) || tune.overshootPercent > 100)
            return usage(err, QStringLiteral("--overshoot takes a percentage from 0 to 100"));
        tune.maxTrials = parser.value(maxTrialsOption).toInt(&ok);
        if (!ok || tune.maxTrials < 2 || tune.maxTrials > 1000)
            return usage(err, QStringLiteral("--max-trials takes 2 to 1000"));
        static const char *const names[] = { "KPP", "KFV", "KVP", "KVI" };
        tune.tuned = {};
        for (const QString &name : parser.value(gainsOption).split(QLatin1Char(','))) {
            const auto at = std::find_if(std::begin(names), std::end(names), [&](const char *n) {
                return name.trimmed().compare(QLatin1String(n), Qt::CaseInsensitive) == 0;
            });
            if (at == std::end(names))
                return usage(err, QStringLiteral("--gains takes a subset of KPP,KFV,KVP,KVI, not "
                                                 "\"%1\"")
                                      .arg(name.trimmed()));
            if (tune.tuned[std::size_t(at - std::begin(names))])
                return usage(err, QStringLiteral("--gains names %1 twice").arg(name.trimmed()));
            tune.tuned[std::size_t(at - std::begin(names))] = true;
        }
        // A measurement puts the gains as found back: there is nothing of its own to save.
        if (parser.isSet(restoreOption) && parser.isSet(saveOption))
            return usage(err, QStringLiteral("--restore and --save exclude each other: --restore "
                                             "puts the gains as found back, so nothing tuned is "
                                             "left to save"));
        tune.station = station;
        tune.restore = parser.isSet(restoreOption);
        tune.save = parser.isSet(saveOption);
        tune.backupPath = parser.isSet(backupOption)
            ? parser.value(backupOption)
            : QStringLiteral("station%1-%2.vcmpar")
                  .arg(station)
                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    }

    ToolSession session(port, clock, out, err, parser.isSet(jsonOption));
    ToolOutput &output = session.output();
    // From here on every outcome is one JSON object with --json, also an early stop.
    const auto finish
        = [&output](int code) { return !output.finish() && code == Done ? OutputLost : code; };
    if (!fileError.isEmpty()) {
        output.error(QStringLiteral("vcm-tool: ") + fileError);
        return finish(Usage);
    }

    // Opened before anything is sent, so that a path that cannot be written refuses the command.
    const QString outPath
        = command == QLatin1String("read") ? args.value(0) : parser.value(outOption);
    std::unique_ptr<QFileDevice> file;
    if (!outPath.isEmpty()) {
        // A file is replaced whole or not at all. A device or a pipe is written in place: a
        // save file would put a regular file in its stead (root may do that to /dev/null).
        const QFileInfo target(outPath);
        if (target.exists() && !target.isFile())
            file = std::make_unique<QFile>(outPath);
        else
            file = std::make_unique<QSaveFile>(outPath);
        if (!file->open(QIODevice::WriteOnly)) {
            output.fileFailed(outPath, file->errorString());
            return finish(OutputLost);
        }
    }

    // Each row reaches the log as its trial ends: an interrupted run keeps its record.
    std::unique_ptr<QFile> log;
    if (parser.isSet(logOption)) {
        log = std::make_unique<QFile>(parser.value(logOption));
        if (!log->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            output.fileFailed(parser.value(logOption), log->errorString());
            return finish(OutputLost);
        }
    }

    JsonLinesTrace trace;
    if (parser.isSet(traceOption)) {
        if (!trace.open(parser.value(traceOption))) {
            output.fileFailed(QStringLiteral("the trace ") + parser.value(traceOption),
                              trace.errorString());
            return finish(OutputLost);
        }
        trace.setOnStopped(
            [&output](const QString &why) { output.error(QStringLiteral("vcm-tool: ") + why); });
        session.link().setTrace(&trace);
    }

    port.setPortName(*portName);
    if (!port.open()) {
        const QString why = port.errorString();
        output.error(
            portBusy(why)
                ? QStringLiteral("vcm-tool: the port %1 is in use by another program")
                      .arg(*portName)
                : QStringLiteral("vcm-tool: cannot open the port %1: %2").arg(*portName, why));
        return finish(NoAnswer);
    }

    const auto run = [&]() {
        if (command == QLatin1String("scan"))
            return session.scan();
        if (const int addressed = session.address(station); addressed != Done)
            return addressed;
        if (command == QLatin1String("status"))
            return session.status();
        if (command == QLatin1String("vars"))
            return session.vars();
        if (command == QLatin1String("read"))
            return session.read(file.get());
        if (command == QLatin1String("write") || command == QLatin1String("set"))
            return session.write(set, parser.isSet(saveOption), parser.isSet(allowMotionOption));
        if (command == QLatin1String("save"))
            return session.save();
        if (command == QLatin1String("source"))
            return session.source(args[0] == QLatin1String("updown"));
        if (command == QLatin1String("tune")) {
            g_interrupted.store(false);
            session.setInterrupt(&g_interrupted);
            std::signal(SIGINT, interrupted);
            std::signal(SIGTERM, interrupted);
            const int tuned = session.tune(tune, log.get(), file.get());
            std::signal(SIGINT, SIG_DFL);
            std::signal(SIGTERM, SIG_DFL);
            return tuned;
        }
        return session.capture(capture, file.get());
    };
    int code = run();
    session.link().setTrace(nullptr);
    if (!trace.stopped().isEmpty() && code == Done)
        code = OutputLost;
    return finish(code);
}
