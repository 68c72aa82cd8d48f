#include "ToolSession.h"

#include "ExchangeTrace.h"
#include "MotionSettings.h"
#include "ParameterReply.h"
#include "Record.h"
#include "RecordCsv.h"
#include "RecorderSetup.h"
#include "ReplyValue.h"
#include "Station.h"
#include "StatusWord.h"
#include "WriteEcho.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

using namespace ToolExit;

namespace {
const QString StatusCommand = QStringLiteral("RV 8");
const QString ModeCommand = QStringLiteral("RV 10");

// A number where the text is one, the text as it is otherwise.
QJsonValue jsonNumber(const QString &text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? QJsonValue(n) : QJsonValue(text);
}
} // namespace

ToolSession::ToolSession(SerialPort &port, Clock &clock, QTextStream &out, QTextStream &err,
                         bool json)
    : m_link(port, clock), m_out(out), m_err(err), m_json(json)
{
}

bool ToolSession::ask(const QString &command, const ExchangeTiming &routine)
{
    if (m_link.exchange(command, routine))
        return true;
    m_err << "vcm-tool: no answer to \"" << command << '"';
    if (!m_link.RxBuffer.isEmpty())
        m_err << " (received " << jsonString(m_link.RxBuffer) << ')';
    m_err << '\n';
    m_exit = NoAnswer;
    return false;
}

std::optional<std::int16_t> ToolSession::readWord(const QString &command)
{
    if (!ask(command, Timing::Long))
        return std::nullopt;
    const std::optional<std::int16_t> word = hexWord(m_link.RxBuffer);
    if (!word)
        refuse(QStringLiteral("vcm-tool: no hexadecimal word in the reply to \"%1\": %2")
                   .arg(command, QString::fromUtf8(jsonString(m_link.RxBuffer))));
    return word;
}

int ToolSession::refuse(const QString &what)
{
    m_err << what << '\n';
    m_exit = Refused;
    return m_exit;
}

void ToolSession::printJson(const QJsonObject &object)
{
    m_out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
}

int ToolSession::deliver(const QString &text, QIODevice *to)
{
    if (!to) {
        m_out << text;
        return Done;
    }
    auto *file = qobject_cast<QSaveFile *>(to);
    if (to->write(text.toUtf8()) < 0 || (file && !file->commit()))
        return refuse(QStringLiteral("vcm-tool: cannot write the file: ") + to->errorString());
    return Done;
}

int ToolSession::scan()
{
    QJsonArray found;
    for (int n = 0; n <= 15; ++n) {
        m_link.SendCmd(stationCommand(n));
        if (m_link.SendCmd(stationCommand(n)))
            found.append(n);
    }
    if (m_json) {
        printJson({ { QStringLiteral("stations"), found } });
    } else {
        for (const QJsonValue &n : found)
            m_out << n.toInt() << '\n';
    }
    if (found.isEmpty()) {
        m_err << "vcm-tool: no station answered \"ST 0\" .. \"ST 15\"\n";
        return NoAnswer;
    }
    return Done;
}

int ToolSession::address(int station)
{
    m_link.SendCmd(stationCommand(station));
    if (!ask(stationCommand(station), Timing::Cmd))
        return m_exit;
    m_station = station;
    return Done;
}

int ToolSession::status()
{
    const std::optional<std::int16_t> word = readWord(StatusCommand);
    const std::optional<std::int16_t> mode = word ? readWord(ModeCommand) : std::nullopt;
    if (!mode)
        return m_exit;
    const auto bits = static_cast<std::uint16_t>(*word);
    const QString hex = QStringLiteral("%1").arg(bits, 4, 16, QLatin1Char('0')).toUpper();
    const QString source = upDownSource(*mode) ? QStringLiteral("updown") : QStringLiteral("pulse");
    QJsonObject named;
    if (!m_json)
        m_out << "status=" << hex << '\n';
    for (const NamedBit &b : StatusBits) {
        const int set = (bits >> b.bit) & 1;
        named.insert(QLatin1String(b.name), set);
        if (!m_json)
            m_out << b.name << '=' << set << '\n';
    }
    if (m_json)
        printJson({ { QStringLiteral("station"), m_station },
                    { QStringLiteral("status"), hex },
                    { QStringLiteral("bits"), named },
                    { QStringLiteral("source"), source } });
    else
        m_out << "source=" << source << '\n';
    return Done;
}

int ToolSession::vars()
{
    QJsonObject values;
    QString lines;
    for (int n = 0; n < 7; ++n) {
        const QString command = QStringLiteral("RV %1").arg(n);
        if (!ask(command, Timing::Long))
            return m_exit;
        const std::optional<QString> value = variableValue(m_link.RxBuffer);
        if (!value)
            return refuse(QStringLiteral("%1: no value in the reply to \"%2\": %3")
                              .arg(QLatin1String(VariableNames[n]), command,
                                   QString::fromUtf8(jsonString(m_link.RxBuffer))));
        values.insert(QLatin1String(VariableNames[n]), jsonNumber(*value));
        lines += QStringLiteral("%1=%2\n").arg(QLatin1String(VariableNames[n]), *value);
    }
    if (m_json)
        printJson(
            { { QStringLiteral("station"), m_station }, { QStringLiteral("variables"), values } });
    else
        m_out << lines;
    return Done;
}

int ToolSession::read(QIODevice *to)
{
    ParameterSet set;
    for (const ParameterBox &box : ParameterMap::loadOrder()) {
        const QString command = ParameterMap::readCommand(box.array, box.index);
        if (!ask(command, Timing::Long))
            return m_exit;
        const std::optional<QString> value = parameterValue(m_link.RxBuffer);
        const std::optional<std::int16_t> number
            = value ? parameterSetValue(value->trimmed()) : std::nullopt;
        if (!number) {
            refuse(QStringLiteral("%1: no value in the reply to \"%2\": %3")
                       .arg(ParameterMap::name(box), command,
                            QString::fromUtf8(jsonString(m_link.RxBuffer))));
            continue;
        }
        set.values[ParameterMap::ordinal(box)] = number;
    }
    if (m_exit != Done)
        return refuse(QStringLiteral("vcm-tool: not all 25 parameters read; nothing written"));

    const QDateTime now = QDateTime::currentDateTime();
    if (m_json) {
        QJsonObject values;
        for (int i = 0; i < ParameterMap::Count; ++i)
            values.insert(ParameterMap::name(ParameterMap::boxAt(i)), *set.values[i]);
        printJson({ { QStringLiteral("station"), m_station },
                    { QStringLiteral("read"), now.toString(Qt::ISODate) },
                    { QStringLiteral("parameters"), values } });
        if (!to)
            return Done;
    }
    return deliver(formatParameterSet(set, m_station, now), to);
}

int ToolSession::write(const ParameterSet &set, bool save)
{
    QJsonArray results;
    QStringList unwritten;
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (set.values[i])
            unwritten << ParameterMap::name(ParameterMap::boxAt(i));
    }
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (!set.values[i])
            continue;
        const ParameterBox box = ParameterMap::boxAt(i);
        const QString name = ParameterMap::name(box);
        const QString sent = QString::number(*set.values[i]);
        if (!ask(ParameterMap::writeCommand(box.array, box.index, sent), Timing::Paced)) {
            m_err << "vcm-tool: not written: " << unwritten.join(QLatin1Char(' ')) << '\n';
            return m_exit;
        }
        unwritten.removeFirst();
        QString held;
        const WriteEcho echo = judgeWriteEcho(m_link.RxBuffer, sent, &held);
        QString outcome = QStringLiteral("confirmed");
        if (echo == WriteEcho::NoValue) {
            outcome = QStringLiteral("refused");
            refuse(QStringLiteral("%1: refused: %2")
                       .arg(name, QString::fromUtf8(jsonString(m_link.RxBuffer))));
        } else if (echo == WriteEcho::Differs) {
            outcome = QStringLiteral("held ") + held;
            refuse(QStringLiteral("%1: sent %2, the drive holds %3").arg(name, sent, held));
        }
        results.append(
            QJsonObject { { QStringLiteral("name"), name },
                          { QStringLiteral("sent"), *set.values[i] },
                          { QStringLiteral("held"),
                            echo == WriteEcho::NoValue ? QJsonValue() : jsonNumber(held) },
                          { QStringLiteral("confirmed"), echo == WriteEcho::Confirmed } });
        if (!m_json)
            m_out << name << '=' << sent << ' ' << outcome << '\n';
    }

    bool saved = false;
    if (save && m_exit == Done) {
        if (!ask(QStringLiteral("SV"), Timing::Paced))
            return m_exit;
        saved = true;
        if (!m_json)
            m_out << "SAVE OK\n";
    } else if (save) {
        m_err << "vcm-tool: not saved: the drive did not confirm every value\n";
    }
    if (m_json)
        printJson({ { QStringLiteral("station"), m_station },
                    { QStringLiteral("parameters"), results },
                    { QStringLiteral("saved"), saved } });
    return m_exit;
}

int ToolSession::save()
{
    if (!ask(QStringLiteral("SV"), Timing::Paced))
        return m_exit;
    m_out << "SAVE OK\n";
    return Done;
}

int ToolSession::source(bool upDown)
{
    const std::optional<std::int16_t> word = readWord(StatusCommand);
    if (!word)
        return m_exit;
    if (decodeStatusWord(*word).servoOn)
        return refuse(QStringLiteral(" You must servo off before changing command source"));
    if (!ask(sourceCommand(upDown), Timing::Paced))
        return m_exit;
    m_out << "SET OK\n";
    return Done;
}

int ToolSession::capture(const CaptureRequest &request, QIODevice *to)
{
    const std::optional<IntervalSetting> interval
        = intervalSetting(request.span, request.newRecorder);
    if (!interval)
        return refuse(QStringLiteral("vcm-tool: no recorder interval for ") + request.span);

    if (request.moveTarget) {
        const std::optional<std::int16_t> word = readWord(StatusCommand);
        const std::optional<std::int16_t> mode = word ? readWord(ModeCommand) : std::nullopt;
        if (!mode)
            return m_exit;
        const StatusLamps state = decodeStatusWord(*word);
        if (!testMotionAllowed(upDownSource(*mode), state.servoOn, state.di1On))
            return refuse(
                QStringLiteral("vcm-tool: no test motion: it needs up/down mode with the "
                               "servo on and DI1 off (source=%1, SVON=%2, DI1=%3)")
                    .arg(upDownSource(*mode) ? QStringLiteral("updown") : QStringLiteral("pulse"))
                    .arg(int(state.servoOn))
                    .arg(int(state.di1On)));
    }

    if (!ask(intervalCommand(*interval), Timing::Paced)
        || !ask(channelCommand(request.channels), Timing::Paced)
        || !ask(ArmRecorderCommand, Timing::Long))
        return m_exit;
    if (request.moveTarget && !ask(motionCommand(*request.moveTarget), Timing::Paced))
        return m_exit;
    m_link.Delay(interval->waitMs);
    if (!ask(UploadCommand, Timing::Slow))
        return m_exit;

    const RecordShape shape { recordLength(request.newRecorder), request.channels[7],
                              sampleStep(request.newRecorder) };
    const std::optional<QString> values = uploadValues(m_link.RxBuffer);
    const RecordParse parse = values ? parseRecord(*values, shape) : RecordParse();
    if (!parse.ok)
        return refuse(QStringLiteral("vcm-tool: the record is unreadable: ")
                      + QString::fromUtf8(jsonString(values ? parse.rest : m_link.RxBuffer)));
    if (parse.record.count < shape.recordLength)
        return refuse(QStringLiteral("vcm-tool: the record holds %1 of %2 values")
                          .arg(parse.record.count)
                          .arg(shape.recordLength));

    QStringList names;
    for (std::size_t box = 0; box < request.channels.size(); ++box) {
        if (request.channels[box])
            names << channelName(static_cast<int>(box));
    }
    return deliver(
        recordCsv(parse.record, shape, request.span.toDouble(), names.value(0), names.value(1)),
        to);
}
