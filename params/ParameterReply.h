#pragma once

#include <QString>

#include <optional>

// The value of a parameter reply ("RD", and the echo of "WT"): the text after the first "="
// up to three characters before the first ">". Nothing when either mark is missing or the
// two are fewer than four characters apart.
std::optional<QString> parameterValue(const QString &reply);
