#include "DriveProcedures.h"

#include "MotionSettings.h"
#include "ParameterReply.h"
#include "RecorderSetup.h"
#include "ReplyValue.h"
#include "SerialPort.h"
#include "Station.h"

#include <cmath>

namespace {
const QString StatusCommand = QStringLiteral("RV 8");
const QString ModeCommand = QStringLiteral("RV 10");
} // namespace

std::optional<int> recordValueCount(const QString &reply)
{
    const std::optional<QString> values = uploadValues(reply);
    if (!values)
        return std::nullopt;
    return static_cast<int>(values->count(QLatin1Char(',')));
}

bool DriveState::motionAllowed() const
{
    const StatusLamps state = lamps();
    return testMotionAllowed(upDown(), state.servoOn, state.di1On);
}

DriveProcedures::DriveProcedures(CommandExchange &link) : m_link(link) { }

bool DriveProcedures::eventPoint()
{
    if (m_hooks.eventPoint)
        m_hooks.eventPoint();
    return !stopRequested();
}

bool DriveProcedures::pause(int ms)
{
    if (!m_hooks.stopRequested) {
        m_link.Delay(ms);
        return true;
    }
    return m_link.Delay(ms, m_hooks.stopRequested);
}

bool DriveProcedures::pauseTakingEvents(int ms)
{
    m_link.setEventPump(m_hooks.eventPoint ? m_hooks.eventPoint : [] {});
    m_link.DelayDoEvents(ms);
    return !stopRequested();
}

bool DriveProcedures::openPort(const QString &name)
{
    SerialPort &port = m_link.port();
    // A port that is open cannot take a new name.
    if (!port.isOpen())
        port.setPortName(name);
    return port.isOpen() || port.open();
}

void DriveProcedures::closePort()
{
    m_link.port().close();
    if (m_link.port().isOpen())
        m_link.port().close();
}

bool DriveProcedures::portOpen() const
{
    return m_link.port().isOpen();
}

QString DriveProcedures::portError() const
{
    return m_link.port().errorString();
}

bool DriveProcedures::resetPort()
{
    m_link.Delay(1000);
    m_link.port().close();
    m_link.Delay(300);
    return m_link.port().open();
}

bool DriveProcedures::fail(DriveFailure::Kind kind, const QString &command, const QString &what)
{
    m_failure = { kind, command, m_link.RxBuffer, what };
    return false;
}

bool DriveProcedures::ask(const QString &command, const ExchangeTiming &routine)
{
    if (stopRequested()) {
        m_link.RxBuffer.clear();
        return fail(DriveFailure::Kind::Stopped, command, QString());
    }
    if (m_link.exchange(command, routine))
        return true;
    if (!m_link.port().isUsable())
        return fail(DriveFailure::Kind::Lost, command, m_link.port().errorString());
    return fail(DriveFailure::Kind::NoAnswer, command, QString());
}

bool DriveProcedures::address(int station)
{
    // Only the second answer counts.
    ask(stationCommand(station), Timing::Cmd);
    return ask(stationCommand(station), Timing::Cmd);
}

std::optional<std::int16_t> DriveProcedures::readWord(const QString &command)
{
    if (!ask(command, Timing::Long))
        return std::nullopt;
    const std::optional<std::int16_t> word = hexWord(m_link.RxBuffer);
    if (!word)
        fail(DriveFailure::Kind::Unreadable, command, QStringLiteral("hexadecimal word"));
    return word;
}

std::optional<DriveState> DriveProcedures::readState()
{
    m_state.reset();
    const std::optional<std::int16_t> status = readWord(StatusCommand);
    const std::optional<std::int16_t> mode = status ? readWord(ModeCommand) : std::nullopt;
    if (mode)
        m_state = DriveState { *status, *mode };
    return m_state;
}

std::optional<QString> DriveProcedures::readVariableText(int n)
{
    const QString command = QStringLiteral("RV %1").arg(n);
    if (!ask(command, Timing::Long))
        return std::nullopt;
    const std::optional<QString> value = variableValue(m_link.RxBuffer);
    if (!value)
        fail(DriveFailure::Kind::Unreadable, command, QLatin1String(VariableNames[n]));
    return value;
}

std::optional<double> DriveProcedures::readVariable(int n)
{
    const std::optional<QString> text = readVariableText(n);
    if (!text)
        return std::nullopt;
    bool number = false;
    const double value = text->trimmed().toDouble(&number);
    if (!number || !std::isfinite(value)) {
        fail(DriveFailure::Kind::Unreadable, QStringLiteral("RV %1").arg(n),
             QLatin1String(VariableNames[n]));
        return std::nullopt;
    }
    return value;
}

std::optional<std::array<QString, 7>> DriveProcedures::readVariables()
{
    std::array<QString, 7> values;
    for (int n = 0; n < 7; ++n) {
        const std::optional<QString> value = readVariableText(n);
        if (!value)
            return std::nullopt;
        values[n] = *value;
    }
    return values;
}

std::optional<QList<int>>
DriveProcedures::scan(const std::function<void(int station, bool answered)> &each)
{
    QList<int> found;
    for (int n = 0; n <= 15; ++n) {
        const bool answered = address(n);
        if (!answered && m_failure.kind == DriveFailure::Kind::Lost)
            return std::nullopt;
        if (answered)
            found << n;
        if (each)
            each(n, answered);
        if (!eventPoint())
            return std::nullopt;
    }
    return found;
}

Selection DriveProcedures::select(int station)
{
    Selection s;
    const auto stop = [&](Selection::Stop why) {
        s.stop = m_failure.kind == DriveFailure::Kind::Stopped ? Selection::Stop::Stopped : why;
        s.reply = m_link.RxBuffer;
        return s;
    };
    if (!address(station))
        return stop(Selection::Stop::NotAddressed);
    const std::optional<std::int16_t> status = readWord(StatusCommand);
    if (!status)
        return stop(Selection::Stop::StatusUnread);
    s.status = *status;
    if (decodeStatusWord(*status).servoOn)
        return stop(Selection::Stop::ServoOn);
    const std::optional<std::int16_t> mode = readWord(ModeCommand);
    if (!mode)
        return stop(Selection::Stop::SourceUnread);
    s.mode = *mode;
    if (!pause(50))
        return stop(Selection::Stop::Stopped);
    return s;
}

PollResult DriveProcedures::pollTick(const PollRequest &request, const PollEvents &events)
{
    PollResult r;
    const auto failed = [&](PollResult::Failed why) {
        r.failed
            = m_failure.kind == DriveFailure::Kind::Stopped ? PollResult::Failed::Stopped : why;
        r.reply = m_link.RxBuffer;
        return r;
    };
    if (request.capture) {
        if (!takeRecord(request.motionTarget, request.recordWaitMs)) {
            const QString &at = m_failure.command;
            return failed(at == ArmRecorderCommand          ? PollResult::Failed::Arm
                              : at == UploadCommand ? PollResult::Failed::Upload
                                                    : PollResult::Failed::Motion);
        }
        const std::optional<QString> values = uploadValues(m_link.RxBuffer);
        if (!values)
            return failed(PollResult::Failed::Upload);
        const RecordParse parse = parseRecord(*values, request.shape);
        if (!parse.ok) {
            r.failed = PollResult::Failed::Record;
            r.reply = parse.rest;
            return r;
        }
        m_link.RxBuffer.clear();
        if (!eventPoint())
            return failed(PollResult::Failed::Stopped);
        if (events.recorded)
            events.recorded(parse.record);
    }

    for (int n = 0; n <= 6; ++n) {
        if (!eventPoint())
            return failed(PollResult::Failed::Stopped);
        const std::optional<QString> value = readVariableText(n);
        if (!value) {
            r.variable = n;
            return failed(PollResult::Failed::Variable);
        }
        if (events.variable)
            events.variable(n, *value);
    }
    if (!eventPoint())
        return failed(PollResult::Failed::Stopped);
    const std::optional<std::int16_t> word = readWord(StatusCommand);
    if (!word)
        return failed(PollResult::Failed::Status);
    r.status = *word;
    r.statusText = m_link.RxBuffer.left(4);
    return r;
}

void DriveProcedures::loadParameters(const std::function<void(const ParameterRead &)> &each)
{
    for (const ParameterBox &box : ParameterMap::loadOrder()) {
        const int ordinal = ParameterMap::ordinal(box);
        const std::optional<QString> value = readParameterText(ordinal);
        if (m_failure.kind == DriveFailure::Kind::Stopped)
            return;
        if (each)
            each({ ordinal, value });
    }
}

bool DriveProcedures::setSource(bool upDown)
{
    return ask(sourceCommand(upDown), Timing::Paced);
}

RecorderSetUp DriveProcedures::setUpRecorder(const IntervalSetting &interval,
                                             const std::array<bool, 8> &channels)
{
    const auto stopped = [this](RecorderSetUp why) {
        return m_failure.kind == DriveFailure::Kind::Stopped ? RecorderSetUp::Stopped : why;
    };
    if (!ask(intervalCommand(interval), Timing::Paced))
        return stopped(RecorderSetUp::IntervalFailed);
    if (!ask(channelCommand(channels), Timing::Paced))
        return stopped(RecorderSetUp::ChannelsFailed);
    return RecorderSetUp::Done;
}

std::optional<WriteEcho> DriveProcedures::writeEchoed(const QString &command,
                                                      const ExchangeTiming &routine,
                                                      const QString &compareWith, QString *held)
{
    if (!ask(command, routine))
        return std::nullopt;
    return judgeWriteEcho(m_link.RxBuffer, compareWith, held);
}

bool DriveProcedures::takeRecord(const std::optional<QString> &motionTarget, int recordWaitMs)
{
    if (!ask(ArmRecorderCommand, Timing::Long))
        return false;
    if (motionTarget && !ask(motionCommand(*motionTarget), Timing::Paced))
        return false;
    if (!pause(recordWaitMs) || !eventPoint())
        return fail(DriveFailure::Kind::Stopped, UploadCommand, QString());
    return ask(UploadCommand, Timing::Slow);
}

std::optional<ParameterSet>
DriveProcedures::readParameters(const std::function<void(int, std::int16_t)> &each,
                                QList<DriveFailure> *unreadable)
{
    ParameterSet set;
    bool complete = true;
    for (const ParameterBox &box : ParameterMap::loadOrder()) {
        const int ordinal = ParameterMap::ordinal(box);
        const std::optional<std::int16_t> number = readParameter(ordinal);
        if (!number) {
            if (m_failure.kind == DriveFailure::Kind::NoAnswer
                || m_failure.kind == DriveFailure::Kind::Stopped
                || m_failure.kind == DriveFailure::Kind::Lost)
                return std::nullopt;
            if (unreadable)
                unreadable->append(m_failure);
            complete = false;
            continue;
        }
        set.values[std::size_t(ordinal)] = number;
        if (each)
            each(ordinal, *number);
    }
    if (!complete)
        return std::nullopt;
    return set;
}

std::optional<QString> DriveProcedures::readParameterText(int ordinal)
{
    const ParameterBox box = ParameterMap::boxAt(ordinal);
    const QString command = ParameterMap::readCommand(box.array, box.index);
    if (!ask(command, Timing::Long))
        return std::nullopt;
    const std::optional<QString> value = parameterValue(m_link.RxBuffer);
    if (!value)
        fail(DriveFailure::Kind::Unreadable, command, ParameterMap::name(box));
    return value;
}

std::optional<std::int16_t> DriveProcedures::readParameter(int ordinal)
{
    const std::optional<QString> value = readParameterText(ordinal);
    if (!value)
        return std::nullopt;
    const std::optional<std::int16_t> number = parameterSetValue(value->trimmed());
    if (!number) {
        const ParameterBox box = ParameterMap::boxAt(ordinal);
        fail(DriveFailure::Kind::Unreadable, ParameterMap::readCommand(box.array, box.index),
             ParameterMap::name(box));
    }
    return number;
}

std::optional<ParameterWrite> DriveProcedures::writeParameter(int ordinal, std::int16_t value)
{
    const ParameterBox box = ParameterMap::boxAt(ordinal);
    ParameterWrite result { ordinal, value, WriteEcho::NoValue, QString() };
    const QString sent = QString::number(value);
    const QString command = ParameterMap::writeCommand(box.array, box.index, sent);
    const std::optional<WriteEcho> echo = writeEchoed(command, Timing::Paced, sent, &result.held);
    if (!echo) {
        m_failure.what = ParameterMap::name(box);
        return std::nullopt;
    }
    result.echo = *echo;
    if (result.echo != WriteEcho::Confirmed)
        fail(DriveFailure::Kind::Refused, command, ParameterMap::name(box));
    return result;
}

bool DriveProcedures::writeSet(const ParameterSet &set,
                               const std::function<void(const ParameterWrite &)> &each,
                               const std::function<void(int, std::int16_t)> &sending)
{
    bool confirmed = true;
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (!set.values[i])
            continue;
        if (sending)
            sending(i, *set.values[i]);
        const std::optional<ParameterWrite> written = writeParameter(i, *set.values[i]);
        if (!written)
            return false;
        confirmed = confirmed && written->echo == WriteEcho::Confirmed;
        if (each)
            each(*written);
    }
    return confirmed;
}

bool DriveProcedures::save()
{
    const QString command = QStringLiteral("SV");
    if (!ask(command, Timing::Paced))
        return false;
    const std::optional<QString> body = variableValue(m_link.RxBuffer);
    if (!body || body->trimmed().startsWith(QLatin1Char('?')))
        return fail(DriveFailure::Kind::Refused, command, QStringLiteral("save"));
    return true;
}

std::optional<Capture> DriveProcedures::capture(const CaptureRequest &request)
{
    const std::optional<IntervalSetting> interval
        = intervalSetting(request.span, request.newRecorder);
    if (!interval) {
        fail(DriveFailure::Kind::Refused, QString(), QStringLiteral("interval"));
        return std::nullopt;
    }
    if (request.moveTarget) {
        const std::optional<DriveState> state = readState();
        if (!state)
            return std::nullopt;
        if (!state->motionAllowed()) {
            fail(DriveFailure::Kind::Refused, QString(), QStringLiteral("motion"));
            return std::nullopt;
        }
    }

    if (setUpRecorder(*interval, request.channels) != RecorderSetUp::Done
        || !takeRecord(request.moveTarget, interval->waitMs))
        return std::nullopt;

    Capture capture;
    capture.shape = { recordLength(request.newRecorder), request.channels[7],
                      sampleStep(request.newRecorder) };
    capture.spanMs = request.span.toDouble();
    const std::optional<QString> values = uploadValues(m_link.RxBuffer);
    const RecordParse parse = values ? parseRecord(*values, capture.shape) : RecordParse();
    if (!parse.ok) {
        fail(DriveFailure::Kind::Unreadable, UploadCommand, QStringLiteral("record"));
        if (values)
            m_failure.reply = parse.rest;
        return std::nullopt;
    }
    capture.record = parse.record;
    // A drive with the other recorder sends twice or half the values: neither half is a channel.
    if (recordValueCount(m_link.RxBuffer) != capture.shape.recordLength) {
        fail(DriveFailure::Kind::Unreadable, UploadCommand, QStringLiteral("record length"));
        return std::nullopt;
    }
    QStringList names;
    for (std::size_t box = 0; box < request.channels.size(); ++box) {
        if (request.channels[box])
            names << channelName(static_cast<int>(box));
    }
    capture.first = names.value(0);
    capture.second = names.value(1);
    return capture;
}
