#include "ToolSession.h"

#include "ExchangeTrace.h"
#include "MotionSettings.h"
#include "RecordCsv.h"
#include "RecorderSetup.h"
#include "ReplyValue.h"
#include "Station.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

using namespace ToolExit;

namespace {
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
    : m_link(port, clock), m_drive(m_link), m_out(out), m_err(err), m_json(json)
{
}

bool ToolSession::ask(const QString &command, const ExchangeTiming &routine)
{
    if (m_drive.ask(command, routine))
        return true;
    failed();
    return false;
}

int ToolSession::failed()
{
    const DriveFailure &f = m_drive.failure();
    const QString reply = QString::fromUtf8(jsonString(f.reply));
    switch (f.kind) {
    case DriveFailure::Kind::None:
        break;
    case DriveFailure::Kind::NoAnswer:
        m_err << "vcm-tool: no answer to \"" << f.command << '"';
        if (!f.reply.isEmpty())
            m_err << " (received " << reply << ')';
        m_err << '\n';
        m_exit = NoAnswer;
        break;
    case DriveFailure::Kind::Unreadable:
        if (f.what == QLatin1String("hexadecimal word"))
            return refuse(QStringLiteral("vcm-tool: no hexadecimal word in the reply to \"%1\": %2")
                              .arg(f.command, reply));
        return refuse(QStringLiteral("%1: no value in the reply to \"%2\": %3")
                          .arg(f.what, f.command, reply));
    case DriveFailure::Kind::Refused:
        return refuse(QStringLiteral("%1: refused: %2").arg(f.what, reply));
    }
    return m_exit;
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
        if (m_drive.address(n))
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
    if (!m_drive.address(station))
        return failed();
    m_station = station;
    return Done;
}

int ToolSession::status()
{
    const std::optional<DriveState> state = m_drive.readState();
    if (!state)
        return failed();
    const auto bits = static_cast<std::uint16_t>(state->status);
    const QString hex = QStringLiteral("%1").arg(bits, 4, 16, QLatin1Char('0')).toUpper();
    const QString source = state->upDown() ? QStringLiteral("updown") : QStringLiteral("pulse");
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
    const std::optional<std::array<QString, 7>> read = m_drive.readVariables();
    if (!read)
        return failed();
    QJsonObject values;
    for (int n = 0; n < 7; ++n) {
        values.insert(QLatin1String(VariableNames[n]), jsonNumber((*read)[n]));
        if (!m_json)
            m_out << VariableNames[n] << '=' << (*read)[n] << '\n';
    }
    if (m_json)
        printJson(
            { { QStringLiteral("station"), m_station }, { QStringLiteral("variables"), values } });
    return Done;
}

int ToolSession::read(QIODevice *to)
{
    QList<DriveFailure> unreadable;
    const std::optional<ParameterSet> set = m_drive.readParameters({}, &unreadable);
    if (!set) {
        for (const DriveFailure &f : unreadable)
            refuse(QStringLiteral("%1: no value in the reply to \"%2\": %3")
                       .arg(f.what, f.command, QString::fromUtf8(jsonString(f.reply))));
        if (m_drive.failure().kind == DriveFailure::Kind::NoAnswer)
            return failed();
        return refuse(QStringLiteral("vcm-tool: not all 25 parameters read; nothing written"));
    }

    const QDateTime now = QDateTime::currentDateTime();
    if (m_json) {
        QJsonObject values;
        for (int i = 0; i < ParameterMap::Count; ++i)
            values.insert(ParameterMap::name(ParameterMap::boxAt(i)), *set->values[i]);
        printJson({ { QStringLiteral("station"), m_station },
                    { QStringLiteral("read"), now.toString(Qt::ISODate) },
                    { QStringLiteral("parameters"), values } });
        if (!to)
            return Done;
    }
    return deliver(formatParameterSet(*set, m_station, now), to);
}

int ToolSession::write(const ParameterSet &set, bool save)
{
    QJsonArray results;
    QStringList unwritten;
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (set.values[i])
            unwritten << ParameterMap::name(ParameterMap::boxAt(i));
    }
    const bool answered = m_drive.writeSet(set, [&](const ParameterWrite &w) {
        unwritten.removeFirst();
        const QString name = ParameterMap::name(ParameterMap::boxAt(w.ordinal));
        const QString sent = QString::number(w.sent);
        QString outcome = QStringLiteral("confirmed");
        if (w.echo == WriteEcho::NoValue) {
            outcome = QStringLiteral("refused");
            refuse(QStringLiteral("%1: refused: %2")
                       .arg(name, QString::fromUtf8(jsonString(m_link.RxBuffer))));
        } else if (w.echo == WriteEcho::Differs) {
            outcome = QStringLiteral("held ") + w.held;
            refuse(QStringLiteral("%1: sent %2, the drive holds %3").arg(name, sent, w.held));
        }
        results.append(
            QJsonObject { { QStringLiteral("name"), name },
                          { QStringLiteral("sent"), w.sent },
                          { QStringLiteral("held"),
                            w.echo == WriteEcho::NoValue ? QJsonValue() : jsonNumber(w.held) },
                          { QStringLiteral("confirmed"), w.echo == WriteEcho::Confirmed } });
        if (!m_json)
            m_out << name << '=' << sent << ' ' << outcome << '\n';
    });
    if (!answered && m_drive.failure().kind == DriveFailure::Kind::NoAnswer) {
        failed();
        m_err << "vcm-tool: not written: " << unwritten.join(QLatin1Char(' ')) << '\n';
        return m_exit;
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
    const std::optional<std::int16_t> word = m_drive.readWord(QStringLiteral("RV 8"));
    if (!word)
        return failed();
    if (decodeStatusWord(*word).servoOn)
        return refuse(QStringLiteral(" You must servo off before changing command source"));
    if (!ask(sourceCommand(upDown), Timing::Paced))
        return m_exit;
    m_out << "SET OK\n";
    return Done;
}

int ToolSession::capture(const CaptureRequest &request, QIODevice *to)
{
    const std::optional<Capture> taken = m_drive.capture(request);
    if (!taken) {
        const DriveFailure &f = m_drive.failure();
        if (f.kind != DriveFailure::Kind::Refused && f.kind != DriveFailure::Kind::Unreadable)
            return failed();
        if (f.what == QLatin1String("interval"))
            return refuse(QStringLiteral("vcm-tool: no recorder interval for ") + request.span);
        if (f.what == QLatin1String("motion")) {
            const DriveState state = *m_drive.lastState();
            return refuse(
                QStringLiteral("vcm-tool: no test motion: it needs up/down mode with the "
                               "servo on and DI1 off (source=%1, SVON=%2, DI1=%3)")
                    .arg(state.upDown() ? QStringLiteral("updown") : QStringLiteral("pulse"))
                    .arg(int(state.servoOn()))
                    .arg(int(state.lamps().di1On)));
        }
        if (f.what == QLatin1String("record"))
            return refuse(QStringLiteral("vcm-tool: the record is unreadable: ")
                          + QString::fromUtf8(jsonString(f.reply)));
        if (f.what == QLatin1String("record length")) {
            const std::optional<QString> values = uploadValues(f.reply);
            const RecordShape shape { recordLength(request.newRecorder), request.channels[7],
                                      sampleStep(request.newRecorder) };
            return refuse(QStringLiteral("vcm-tool: the record holds %1 of %2 values")
                              .arg(values ? parseRecord(*values, shape).record.count : 0)
                              .arg(shape.recordLength));
        }
        return failed();
    }
    return deliver(
        recordCsv(taken->record, taken->shape, taken->spanMs, taken->first, taken->second), to);
}
