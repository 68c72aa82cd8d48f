#include "ExchangeTrace.h"

#include "Station.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

bool JsonLinesTrace::open(const QString &path)
{
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void JsonLinesTrace::exchanged(const ExchangeRecord &record)
{
    if (const std::optional<int> addressed = stationAddressedBy(record.command))
        m_station = addressed;
    // A full disk ends the trace, never the exchanges.
    if (!m_file.isOpen())
        return;
    const QByteArray text = line(record, m_station);
    const qint64 complete = m_file.size();
    if (m_file.write(text) == text.size())
        return;
    const QString cause = m_file.errorString();
    m_file.resize(complete); // no half line for a reader to trip over
    m_stopped = QStringLiteral("the trace %1 stopped: the exchange \"%2\" could not be written "
                               "(%3); later exchanges are not traced")
                    .arg(m_file.fileName(), record.command, cause);
    m_file.close();
    if (m_onStopped)
        m_onStopped(m_stopped);
}

QByteArray JsonLinesTrace::line(const ExchangeRecord &record, std::optional<int> station)
{
    const QDateTime at = record.startedAt.toOffsetFromUtc(record.startedAt.offsetFromUtc());
    return "{\"time\":" + jsonString(at.toString(Qt::ISODateWithMs))
        + ",\"station\":" + (station ? QByteArray::number(*station) : QByteArray("null"))
        + ",\"routine\":" + jsonString(record.routine)
        + ",\"command\":" + jsonString(record.command) + ",\"reply\":" + jsonString(record.reply)
        + ",\"ms\":" + QByteArray::number(record.elapsedMs)
        + ",\"prompt\":" + (record.prompt ? "true" : "false") + "}\n";
}
