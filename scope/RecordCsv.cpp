#include "RecordCsv.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

QString recordCsv(const Record &record, const RecordShape &shape, double spanMs,
                  const QString &firstName, const QString &secondName)
{
    const int half = std::clamp(shape.recordLength, 2, Record::Capacity - 1) / 2;
    QString csv = QStringLiteral("time_ms,") + csvField(firstName) + QLatin1Char(',')
        + csvField(secondName) + QLatin1Char('\n');
    for (int i = 0; i < half; ++i) {
        csv += axisText(spanMs * i / half) + QLatin1Char(',') + axisText(record.raw[i])
            + QLatin1Char(',') + axisText(record.raw[half + i]) + QLatin1Char('\n');
    }
    return csv;
}

std::optional<QString> saveFileWhole(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush())
            return out.errorString();
        out.close();
        if (out.error() != QFileDevice::NoError)
            return out.errorString();
        return std::nullopt;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return out.errorString();
    return std::nullopt;
}
