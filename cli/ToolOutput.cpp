#include "ToolOutput.h"

#include <QFileDevice>
#include <QJsonDocument>

ToolOutput::ToolOutput(QTextStream &out, QTextStream &err, bool json)
    : m_out(out), m_err(err), m_json(json)
{
}

void ToolOutput::put(const QString &text)
{
    if (m_outFailed)
        return;
    m_out << text;
    m_out.flush();
    if (m_out.status() == QTextStream::Ok)
        return;
    // Said once: every later line would fail the same way.
    m_outFailed = true;
    m_lost = true;
    const auto *device = qobject_cast<const QFileDevice *>(m_out.device());
    m_err << "vcm-tool: cannot write the standard output"
          << (device ? QStringLiteral(": ") + device->errorString() : QString()) << '\n';
    m_err.flush();
}

void ToolOutput::line(const QString &text)
{
    if (!m_json)
        put(text + QLatin1Char('\n'));
}

void ToolOutput::text(const QString &text)
{
    if (!m_json)
        put(text);
}

void ToolOutput::error(const QString &message)
{
    m_err << message << '\n';
    m_err.flush();
    QString bare = message.trimmed();
    if (bare.startsWith(QLatin1String("vcm-tool: ")))
        bare = bare.mid(10);
    m_errors << bare;
}

void ToolOutput::fileFailed(const QString &path, const QString &why)
{
    m_lost = true;
    error(QStringLiteral("vcm-tool: cannot write %1: %2").arg(path, why));
}

bool ToolOutput::finish()
{
    if (m_json) {
        QJsonObject object = m_object;
        if (!m_errors.isEmpty())
            object.insert(QStringLiteral("error"), m_errors.join(QLatin1Char('\n')));
        put(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
    }
    return !m_lost;
}
