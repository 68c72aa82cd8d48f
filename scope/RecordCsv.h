#pragma once

#include "Record.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The last record as CSV for a spreadsheet: a time column in milliseconds (the span spread
// over the samples of one channel) and the raw values of both channels as the drive sent them.
QString recordCsv(const Record &record, const RecordShape &shape, double spanMs,
                  const QString &firstName, const QString &secondName);

// Writes `bytes` to `path` whole or not at all: a file is replaced only once all of it is on
// disk, so a full disk leaves the old one. A device or a pipe is written to directly (a new
// file must not take its place). On failure, the reason.
std::optional<QString> saveFileWhole(const QString &path, const QByteArray &bytes);
