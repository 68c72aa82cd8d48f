#include "DriveProcedures.h"

#include "MotionSettings.h"
#include "ParameterReply.h"
#include "RecorderSetup.h"
#include "ReplyValue.h"
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

bool DriveProcedures::fail(DriveFailure::Kind kind, const QString &command, const QString &what)
{
    m_failure = { kind, command, m_link.RxBuffer, what };
    return false;
}

bool DriveProcedures::ask(const QString &command, const ExchangeTiming &routine)
{
    if (m_link.exchange(command, routine))
        return true;
    return fail(DriveFailure::Kind::NoAnswer, command, QString());
}

bool DriveProcedures::address(int station)
{
    m_link.SendCmd(stationCommand(station));
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
            if (m_failure.kind == DriveFailure::Kind::NoAnswer)
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

std::optional<std::int16_t> DriveProcedures::readParameter(int ordinal)
{
    const ParameterBox box = ParameterMap::boxAt(ordinal);
    const QString command = ParameterMap::readCommand(box.array, box.index);
    if (!ask(command, Timing::Long))
        return std::nullopt;
    const std::optional<QString> value = parameterValue(m_link.RxBuffer);
    const std::optional<std::int16_t> number
        = value ? parameterSetValue(value->trimmed()) : std::nullopt;
    if (!number)
        fail(DriveFailure::Kind::Unreadable, command, ParameterMap::name(box));
    return number;
}

std::optional<ParameterWrite> DriveProcedures::writeParameter(int ordinal, std::int16_t value)
{
    const ParameterBox box = ParameterMap::boxAt(ordinal);
    ParameterWrite result { ordinal, value, WriteEcho::NoValue, QString() };
    const QString sent = QString::number(value);
    const QString command = ParameterMap::writeCommand(box.array, box.index, sent);
    if (!ask(command, Timing::Paced)) {
        m_failure.what = ParameterMap::name(box);
        return std::nullopt;
    }
    result.echo = judgeWriteEcho(m_link.RxBuffer, sent, &result.held);
    if (result.echo != WriteEcho::Confirmed)
        fail(DriveFailure::Kind::Refused, command, ParameterMap::name(box));
    return result;
}

bool DriveProcedures::writeSet(const ParameterSet &set,
                               const std::function<void(const ParameterWrite &)> &each)
{
    bool confirmed = true;
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (!set.values[i])
            continue;
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

    if (!ask(intervalCommand(*interval), Timing::Paced)
        || !ask(channelCommand(request.channels), Timing::Paced)
        || !ask(ArmRecorderCommand, Timing::Long))
        return std::nullopt;
    if (request.moveTarget && !ask(motionCommand(*request.moveTarget), Timing::Paced))
        return std::nullopt;
    m_link.Delay(interval->waitMs);
    if (!ask(UploadCommand, Timing::Slow))
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
