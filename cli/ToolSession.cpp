#include "ToolSession.h"

#include "ExchangeTrace.h"
#include "MotionSettings.h"
#include "RecordCsv.h"
#include "RecorderSetup.h"
#include "ReplyValue.h"
#include "SerialPort.h"
#include "Station.h"

#include <QJsonArray>
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

QString hexText(std::int16_t word)
{
    return QStringLiteral("%1")
        .arg(static_cast<std::uint16_t>(word), 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString sourceName(bool upDown)
{
    return upDown ? QStringLiteral("updown") : QStringLiteral("pulse");
}
} // namespace

ToolSession::ToolSession(SerialPort &port, Clock &clock, QTextStream &out, QTextStream &err,
                         bool json)
    : m_link(port, clock), m_drive(m_link), m_output(out, err, json)
{
}

bool ToolSession::silent(const DriveFailure &f)
{
    return f.kind == DriveFailure::Kind::NoAnswer || f.kind == DriveFailure::Kind::Lost;
}

int ToolSession::failed()
{
    const DriveFailure &f = m_drive.failure();
    const QString reply = QString::fromUtf8(jsonString(f.reply));
    switch (f.kind) {
    case DriveFailure::Kind::None:
        break;
    case DriveFailure::Kind::Lost:
        m_output.error(
            QStringLiteral("vcm-tool: no answer to \"%1\": %2")
                .arg(f.command, f.what.isEmpty() ? QStringLiteral("the port was lost") : f.what));
        m_exit = NoAnswer;
        break;
    case DriveFailure::Kind::NoAnswer:
        m_output.error(
            QStringLiteral("vcm-tool: no answer to \"%1\"").arg(f.command)
            + (f.reply.isEmpty() ? QString() : QStringLiteral(" (received %1)").arg(reply)));
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
    case DriveFailure::Kind::Stopped:
        m_output.error(QStringLiteral("vcm-tool: interrupted before \"%1\"").arg(f.command));
        m_exit = Refused;
        break;
    }
    return m_exit;
}

int ToolSession::refuse(const QString &what)
{
    m_output.error(what);
    m_exit = Refused;
    return m_exit;
}

int ToolSession::deliver(const QString &text, QIODevice *to)
{
    if (!to) {
        m_output.text(text);
        return Done;
    }
    const QByteArray bytes = text.toUtf8();
    bool written = to->write(bytes) == bytes.size();
    if (auto *saved = qobject_cast<QSaveFile *>(to))
        written = saved->commit() && written;
    else if (auto *device = qobject_cast<QFileDevice *>(to))
        written = device->flush() && written;
    if (!written) {
        const auto *file = qobject_cast<QFileDevice *>(to);
        m_output.fileFailed(file ? file->fileName() : QStringLiteral("the file"),
                            to->errorString());
        return OutputLost;
    }
    return Done;
}

int ToolSession::scan()
{
    QJsonArray found;
    m_output.insert(QStringLiteral("stations"), found);
    const std::optional<QList<int>> scanned = m_drive.scan([&](int n, bool answered) {
        if (!answered)
            return;
        found.append(n);
        m_output.insert(QStringLiteral("stations"), found);
        m_output.line(QString::number(n));
    });
    // The stations listed so far prove nothing about the others.
    if (!scanned)
        return failed();
    if (found.isEmpty()) {
        m_output.insert(QStringLiteral("stations"), found);
        m_output.error(QStringLiteral("vcm-tool: no station answered \"ST 0\" .. \"ST 15\""));
        return NoAnswer;
    }
    return Done;
}

int ToolSession::address(int station)
{
    m_output.insert(QStringLiteral("station"), station);
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
    const QString hex = hexText(state->status);
    m_output.line(QStringLiteral("status=") + hex);
    QJsonObject named;
    for (const NamedBit &b : StatusBits) {
        const int set = (bits >> b.bit) & 1;
        named.insert(QLatin1String(b.name), set);
        m_output.line(QStringLiteral("%1=%2").arg(QLatin1String(b.name)).arg(set));
    }
    const QString source = sourceName(state->upDown());
    m_output.line(QStringLiteral("source=") + source);
    m_output.insert(QStringLiteral("status"), hex);
    m_output.insert(QStringLiteral("bits"), named);
    m_output.insert(QStringLiteral("source"), source);
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
        m_output.line(QLatin1String(VariableNames[n]) + QLatin1Char('=') + (*read)[n]);
    }
    m_output.insert(QStringLiteral("variables"), values);
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
        if (silent(m_drive.failure()))
            return failed();
        return refuse(QStringLiteral("vcm-tool: not all 25 parameters read; nothing written"));
    }

    const QDateTime now = QDateTime::currentDateTime();
    QJsonObject values;
    for (int i = 0; i < ParameterMap::Count; ++i)
        values.insert(ParameterMap::name(ParameterMap::boxAt(i)), *set->values[i]);
    m_output.insert(QStringLiteral("read"), now.toString(Qt::ISODate));
    m_output.insert(QStringLiteral("parameters"), values);
    if (m_output.json() && !to)
        return Done;
    return deliver(formatParameterSet(*set, m_station, now), to);
}

std::optional<QStringList> ToolSession::motionWrites(const ParameterSet &set)
{
    static const int targets[] = {
        ParameterMap::ordinal({ BoxArray::POS, 0 }), // UP0
        ParameterMap::ordinal({ BoxArray::POS, 2 }), // DN0
    };
    QStringList moves;
    if (!set.values[targets[0]] && !set.values[targets[1]])
        return moves;
    const std::optional<DriveState> state = m_drive.readState();
    if (!state) {
        failed();
        return std::nullopt;
    }
    if (!state->upDown() || !state->servoOn())
        return moves;
    for (const int target : targets) {
        if (!set.values[target])
            continue;
        const QString name = ParameterMap::name(ParameterMap::boxAt(target));
        const std::optional<std::int16_t> held = m_drive.readParameter(target);
        if (!held) {
            if (silent(m_drive.failure()))
                failed();
            else
                refuse(QStringLiteral("vcm-tool: nothing written: %1 cannot be read, so writing "
                                      "it may move the actuator (up/down mode, servo on); "
                                      "--allow-motion writes it anyway")
                           .arg(name));
            return std::nullopt;
        }
        if (*held != *set.values[target])
            moves << QStringLiteral("%1 %2 -> %3 moves it to %3")
                         .arg(name)
                         .arg(*held)
                         .arg(*set.values[target]);
    }
    return moves;
}

int ToolSession::write(const ParameterSet &set, bool save, bool allowMotion)
{
    QJsonArray results;
    m_output.insert(QStringLiteral("parameters"), results);
    m_output.insert(QStringLiteral("saved"), false);
    if (!allowMotion) {
        const std::optional<QStringList> moves = motionWrites(set);
        if (!moves)
            return m_exit;
        if (!moves->isEmpty())
            return refuse(QStringLiteral("vcm-tool: nothing written: the drive is in up/down mode "
                                         "with the servo on, so these writes move the actuator: "
                                         "%1. Give --allow-motion to write them anyway")
                              .arg(moves->join(QStringLiteral(", then "))));
    }

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
        m_output.insert(QStringLiteral("parameters"), results);
        m_output.line(name + QLatin1Char('=') + sent + QLatin1Char(' ') + outcome);
    });
    if (!answered && silent(m_drive.failure())) {
        failed();
        m_output.error(QStringLiteral("vcm-tool: not written: ")
                       + unwritten.join(QLatin1Char(' ')));
        return m_exit;
    }

    if (save && m_exit == Done) {
        if (!m_drive.save())
            return failed();
        m_output.insert(QStringLiteral("saved"), true);
        m_output.line(QStringLiteral("SAVE OK"));
    } else if (save) {
        m_output.error(
            QStringLiteral("vcm-tool: not saved: the drive did not confirm every value"));
    }
    return m_exit;
}

int ToolSession::save()
{
    m_output.insert(QStringLiteral("saved"), false);
    if (!m_drive.save())
        return failed();
    m_output.insert(QStringLiteral("saved"), true);
    m_output.line(QStringLiteral("SAVE OK"));
    return Done;
}

int ToolSession::source(bool upDown)
{
    const std::optional<std::int16_t> word = m_drive.readWord(QStringLiteral("RV 8"));
    if (!word)
        return failed();
    if (decodeStatusWord(*word).servoOn)
        return refuse(QStringLiteral(" You must servo off before changing command source"));
    const QString command = sourceCommand(upDown);
    if (!m_drive.setSource(upDown))
        return failed();
    const QString reply = QString::fromUtf8(jsonString(m_link.RxBuffer));
    // A prompt alone proves nothing (a refusal ends with one too): the mode word does.
    const std::optional<std::int16_t> mode = m_drive.readWord(QStringLiteral("RV 10"));
    if (!mode)
        return failed();
    const QString now = sourceName(upDownSource(*mode));
    m_output.insert(QStringLiteral("mode"), hexText(*mode));
    m_output.insert(QStringLiteral("source"), now);
    if (upDownSource(*mode) != upDown)
        return refuse(QStringLiteral("vcm-tool: the drive did not take \"%1\" (it answered %2): "
                                     "\"RV 10\" reads %3, source=%4")
                          .arg(command, reply, hexText(*mode), now));
    m_output.line(QStringLiteral("SET OK"));
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
            return refuse(QStringLiteral("vcm-tool: no test motion: it needs up/down mode with the "
                                         "servo on and DI1 off (source=%1, SVON=%2, DI1=%3)")
                              .arg(sourceName(state.upDown()))
                              .arg(int(state.servoOn()))
                              .arg(int(state.lamps().di1On)));
        }
        if (f.what == QLatin1String("record"))
            return refuse(QStringLiteral("vcm-tool: the record is unreadable: ")
                          + QString::fromUtf8(jsonString(f.reply)));
        if (f.what == QLatin1String("record length")) {
            const int expected = recordLength(request.newRecorder);
            const int held = recordValueCount(f.reply).value_or(0);
            QString hint;
            if (held == 2 * expected)
                hint = QStringLiteral(": the drive seems to have the classic recorder; "
                                      "drop --new-recorder");
            else if (2 * held == expected)
                hint = QStringLiteral(": the drive seems to have the \"VCRR new\" recorder; "
                                      "add --new-recorder");
            return refuse(QStringLiteral("vcm-tool: the record holds %1 values where %2 were "
                                         "expected%3")
                              .arg(held)
                              .arg(expected)
                              .arg(hint));
        }
        return failed();
    }
    const QString csv
        = recordCsv(taken->record, taken->shape, taken->spanMs, taken->first, taken->second);
    m_output.insert(QStringLiteral("channels"), QJsonArray { taken->first, taken->second });
    m_output.insert(QStringLiteral("span_ms"), taken->spanMs);
    m_output.insert(QStringLiteral("values"), taken->record.count);
    if (auto *file = qobject_cast<QFileDevice *>(to))
        m_output.insert(QStringLiteral("out"), file->fileName());
    else if (m_output.json())
        m_output.insert(QStringLiteral("csv"), csv);
    return deliver(csv, to);
}
