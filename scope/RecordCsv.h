#pragma once

#include "Record.h"

#include <QString>

// The last record as CSV for a spreadsheet: a time column in milliseconds (the span spread
// over the samples of one channel) and the raw values of both channels as the drive sent them.
QString recordCsv(const Record &record, const RecordShape &shape, double spanMs,
                  const QString &firstName, const QString &secondName);
