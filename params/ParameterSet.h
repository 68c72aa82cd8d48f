#pragma once

#include "ParameterMap.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

// Some or all of a drive's 25 parameters, as a .vcmpar file holds them: one "NAME = value" a
// line, box order, comments starting with "#".
struct ParameterSet {
    // By ParameterMap::ordinal(); empty where the set does not name the parameter.
    std::array<std::optional<std::int16_t>, ParameterMap::Count> values;

    int count() const;
    friend bool operator==(const ParameterSet &a, const ParameterSet &b)
    {
        return a.values == b.values;
    }
};

// Files larger than this are refused unread: a parameter set is well under 1 KiB.
inline constexpr qint64 MaxParameterSetBytes = 64 * 1024;

struct ParameterSetParse {
    bool ok = false;
    // Where the file was refused: 1-based line, or 0 for the file as a whole.
    int line = 0;
    QString reason;
    ParameterSet set;

    // "line 4: unknown name "KPX"", or the reason alone for the whole file.
    QString message() const;
};

// A value as the format writes it: a decimal integer in -32768..32767, nothing else.
std::optional<std::int16_t> parameterSetValue(const QString &text);

// Validates the whole text before anything is taken from it; one bad line refuses all of it.
ParameterSetParse parseParameterSet(const QByteArray &bytes);
// The same for a file, refusing one over MaxParameterSetBytes before reading it.
ParameterSetParse readParameterSetFile(const QString &path);

// The canonical text: a title and a comment with the station and the time it was read, then
// the parameters the set names, in box order, LF line ends.
QString formatParameterSet(const ParameterSet &set, int station, const QDateTime &readAt);

// A set from the 25 box texts (box order). Texts that are no value the format allows (an
// empty box, a marker such as "ER") are left out and their names listed in *unconfirmed.
ParameterSet parameterSetFromTexts(const QStringList &texts, QStringList *unconfirmed = nullptr);

// Where a set differs from the 25 box texts (box order): each parameter the set names whose box
// does not show the same number, in box order.
struct ParameterDifference {
    ParameterBox box;
    QString shown;
    std::int16_t value;
};
QList<ParameterDifference> parameterDifferences(const ParameterSet &set, const QStringList &texts);
