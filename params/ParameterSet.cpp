#include "ParameterSet.h"

#include "WriteEcho.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

namespace {
ParameterSetParse refused(int line, const QString &reason)
{
    ParameterSetParse p;
    p.line = line;
    p.reason = reason;
    return p;
}

// A decimal integer as the format writes it; range is checked separately.
bool isInteger(const QString &text)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    return integer.match(text).hasMatch();
}

bool hasControlCharacter(const QString &line)
{
    return std::any_of(line.cbegin(), line.cend(), [](QChar c) {
        return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7F;
    });
}
} // namespace

int ParameterSet::count() const
{
    return static_cast<int>(
        std::count_if(values.cbegin(), values.cend(), [](const auto &v) { return v.has_value(); }));
}

QString ParameterSetParse::message() const
{
    return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(reason) : reason;
}

std::optional<std::int16_t> parameterSetValue(const QString &text)
{
    if (!isInteger(text))
        return std::nullopt;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok || v < -32768 || v > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(v);
}

ParameterSetParse parseParameterSet(const QByteArray &bytes)
{
    if (bytes.size() > MaxParameterSetBytes)
        return refused(0, QStringLiteral("the file is larger than 64 KiB"));
    if (bytes.isEmpty())
        return refused(0, QStringLiteral("the file is empty"));

    QByteArray text = bytes;
    // Editors on Windows like to start UTF-8 with a byte order mark.
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);

    ParameterSetParse result;
    std::array<int, ParameterMap::Count> lineOf {};
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 1; n <= lines.size(); ++n) {
        QByteArray raw = lines[n - 1];
        if (raw.endsWith('\r'))
            raw.chop(1);
        // Stateless: a sequence cut off at the end of the line is an error, not pending input.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = utf8.decode(raw);
        if (utf8.hasError())
            return refused(n, QStringLiteral("not UTF-8 text"));
        if (hasControlCharacter(line))
            return refused(n, QStringLiteral("binary data"));

        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;

        const int equals = trimmed.indexOf(QLatin1Char('='));
        const QString name = trimmed.left(equals).trimmed();
        if (equals <= 0 || name.isEmpty()
            || std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.isSpace(); }))
            return refused(n, QStringLiteral("not NAME = value"));
        const std::optional<ParameterBox> box = ParameterMap::boxNamed(name);
        if (!box)
            return refused(n, QStringLiteral("unknown name \"%1\"").arg(name));
        const int at = ParameterMap::ordinal(*box);
        if (lineOf[at] > 0)
            return refused(
                n, QStringLiteral("%1 given twice (first on line %2)").arg(name).arg(lineOf[at]));

        const QString value = trimmed.mid(equals + 1).trimmed();
        const std::optional<std::int16_t> number = parameterSetValue(value);
        if (!number) {
            return refused(
                n,
                isInteger(value)
                    ? QStringLiteral("%1 = %2 is out of range -32768..32767").arg(name, value)
                    : QStringLiteral("%1 = \"%2\" is not an integer").arg(name, value));
        }
        lineOf[at] = n;
        result.set.values[at] = number;
    }
    if (result.set.count() == 0)
        return refused(0, QStringLiteral("the file names no parameter"));
    result.ok = true;
    return result;
}

ParameterSetParse readParameterSetFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(0, QStringLiteral("cannot read the file: %1").arg(file.errorString()));
    // Refused unread when the size is known; a pipe has none, so one byte past the limit is
    // read and the parse refuses it.
    if (file.size() > MaxParameterSetBytes)
        return refused(0, QStringLiteral("the file is larger than 64 KiB"));
    const QByteArray bytes = file.read(MaxParameterSetBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(0, QStringLiteral("cannot read the file: %1").arg(file.errorString()));
    return parseParameterSet(bytes);
}

QString formatParameterSet(const ParameterSet &set, int station, const QDateTime &readAt)
{
    QString text = QStringLiteral("# VCM drive parameter set\n# station %1, read %2\n")
                       .arg(station)
                       .arg(readAt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (set.values[i])
            text += QStringLiteral("%1 = %2\n")
                        .arg(ParameterMap::name(ParameterMap::boxAt(i)))
                        .arg(*set.values[i]);
    }
    return text;
}

ParameterSet parameterSetFromTexts(const QStringList &texts, QStringList *unconfirmed)
{
    ParameterSet set;
    for (int i = 0; i < ParameterMap::Count; ++i) {
        set.values[i] = parameterSetValue(texts.value(i).trimmed());
        if (!set.values[i] && unconfirmed)
            unconfirmed->append(ParameterMap::name(ParameterMap::boxAt(i)));
    }
    return set;
}

QList<ParameterDifference> parameterDifferences(const ParameterSet &set, const QStringList &texts)
{
    QList<ParameterDifference> differences;
    for (int i = 0; i < ParameterMap::Count; ++i) {
        if (!set.values[i])
            continue;
        // Numbers as the write-back compares them: a box showing 007 holds 7.
        if (parameterNumber(texts.value(i)) != set.values[i])
            differences.append({ ParameterMap::boxAt(i), texts.value(i), *set.values[i] });
    }
    return differences;
}
