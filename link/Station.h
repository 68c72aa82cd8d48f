#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The station number typed or picked in the station list: a decimal 16-bit integer,
// blanks around it allowed. Nothing for any other text.
std::optional<std::int16_t> stationFromText(const QString &text);

// "ST n": addresses one station on the multi-drop line.
QString stationCommand(int station);

// The station a command addresses: n for "ST n" (n 0..15), nothing for any other command.
std::optional<int> stationAddressedBy(const QString &command);
