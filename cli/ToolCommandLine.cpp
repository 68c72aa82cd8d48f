#include "ToolCommandLine.h"

#include "ExchangeTrace.h"
#include "ParameterSet.h"
#include "PortName.h"
#include "RecorderSetup.h"
#include "SerialPort.h"
#include "ToolSession.h"

#include <QCommandLineParser>
#include <QSaveFile>

#include <algorithm>
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
  write FILE [--save]       write a parameter set, every echo checked; --save sends SV
                            when the drive confirmed all values
  set NAME=VALUE...         write single parameters, e.g. set KPP=300 KVP=120
  save                      SV: the drive keeps its parameters over a power cycle
  source pulse|updown       UD 0 / UD 1; refused while the servo is on
  capture --channels A,B [--interval MS] [--new-recorder] [--move TARGET] [--out FILE.csv]
                            recorder set-up, one capture (with a test motion to TARGET, only
                            in up/down mode with the servo on and DI1 off), upload, and the
                            record as CSV (as the console's export) to FILE.csv or stdout

Options:
  --port PORT      a COM port number (n: /dev/ttyS<n-1> on Linux, COMn on Windows), a
                   device path or a port name; default: the environment variable VCM_PORT
  --station N      the drive, 0-15 (default 1); every command but scan first addresses it
                   with "ST N" twice
  --json           scan, status, vars, read and write print one JSON object
  --trace FILE     append every exchange to FILE, one JSON object a line
  --channels A,B   two of PCMD PFBK PERR VCMD VFBK VERR ICMD DIO
  --interval MS    the span of a capture: 100, 200, 300, 400 or 500 (default 500)
  --new-recorder   the drive has the "VCRR new" recorder (256 values a record, not 512)
  -h, --help       show this help and exit
  -v, --version    show the version and exit

Exit codes:
  0  done and confirmed
  1  the drive answered but refused, or holds a value other than the one written
     (each such parameter is named on stderr)
  2  usage or a bad file; nothing was sent
  3  the port cannot be opened, or the drive did not answer (the unanswered command is
     named on stderr)
)";

int usage(QTextStream &err, const QString &message)
{
    err << "vcm-tool: " << message << "\nTry 'vcm-tool --help'.\n";
    return Usage;
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
    const QCommandLineOption helpOption(
        QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption versionOption(
        QStringList { QStringLiteral("v"), QStringLiteral("version") });
    parser.addOptions({ portOption, stationOption, jsonOption, traceOption, saveOption,
                        channelsOption, intervalOption, newRecorderOption, moveOption, outOption,
                        helpOption, versionOption });
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
        { "scan", 0, 0 }, { "status", 0, 0 }, { "vars", 0, 0 },
        { "read", 0, 1 }, { "write", 1, 1 },  { "set", 1, 1000 },
        { "save", 0, 0 }, { "source", 1, 1 }, { "capture", 0, 0 },
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
    } commandOptions[] = {
        { saveOption, "write" },       { channelsOption, "capture" },
        { intervalOption, "capture" }, { newRecorderOption, "capture" },
        { moveOption, "capture" },     { outOption, "capture" },
    };
    for (const auto &o : commandOptions) {
        if (parser.isSet(o.option) && command != QLatin1String(o.command))
            return usage(err,
                         QStringLiteral("--%1 is an option of %2")
                             .arg(o.option.names().constFirst(), QLatin1String(o.command)));
    }

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
    if (command == QLatin1String("write")) {
        const ParameterSetParse p = readParameterSetFile(args[0]);
        if (!p.ok)
            return usage(err, args[0] + QStringLiteral(": ") + p.message());
        set = p.set;
    } else if (command == QLatin1String("set")) {
        const ParameterSetParse p = parseParameterSet(args.join(QLatin1Char('\n')).toUtf8());
        if (!p.ok)
            return usage(err,
                         p.line > 0 ? QStringLiteral("%1: %2").arg(args.value(p.line - 1), p.reason)
                                    : p.reason);
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

    // Opened before anything is sent, so that a path that cannot be written refuses the command.
    const QString outPath
        = command == QLatin1String("read") ? args.value(0) : parser.value(outOption);
    std::unique_ptr<QSaveFile> file;
    if (!outPath.isEmpty()) {
        file = std::make_unique<QSaveFile>(outPath);
        if (!file->open(QIODevice::WriteOnly))
            return usage(err,
                         QStringLiteral("cannot write %1: %2").arg(outPath, file->errorString()));
    }

    JsonLinesTrace trace;
    if (parser.isSet(traceOption) && !trace.open(parser.value(traceOption)))
        return usage(err,
                     QStringLiteral("cannot write the trace %1: %2")
                         .arg(parser.value(traceOption), trace.errorString()));

    port.setPortName(*portName);
    if (!port.open()) {
        err << "vcm-tool: cannot open the port " << *portName << ": " << port.errorString() << '\n';
        return NoAnswer;
    }
    ToolSession session(port, clock, out, err, parser.isSet(jsonOption));
    session.link().setTrace(parser.isSet(traceOption) ? &trace : nullptr);

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
    if (command == QLatin1String("write"))
        return session.write(set, parser.isSet(saveOption));
    if (command == QLatin1String("set"))
        return session.write(set, false);
    if (command == QLatin1String("save"))
        return session.save();
    if (command == QLatin1String("source"))
        return session.source(args[0] == QLatin1String("updown"));
    return session.capture(capture, file.get());
}
