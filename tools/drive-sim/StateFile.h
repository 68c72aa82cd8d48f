#pragma once

#include "Station.h"

#include <map>
#include <optional>
#include <string>

// The stations' non-volatile copies kept in a text file between runs, one
// "<station> <name> <value>" line per saved parameter ("UD" for the command source).
// Stations not present in this run keep their lines.
class StateFile final {
public:
    explicit StateFile(std::string path);

    // A missing file counts as empty; unreadable lines are skipped.
    bool load();
    std::optional<Station::Memory> memoryOf(int station) const;
    void store(const Station &station);
    // Replaces the file as a whole, so that a crash never leaves half of it.
    bool write() const;

    const std::string &path() const { return m_path; }

private:
    std::string m_path;
    std::map<int, Station::Memory> m_memories;
};
