#pragma once

#include "Bus.h"

#include <string>
#include <vector>

// The simulator's own console on standard input: the bench switches, alarms and faults
// that the drive's serial line cannot change.
class ControlCommands final {
public:
    enum class LineAction { None, Drop, Restore };

    struct Result {
        bool ok = true;
        std::string message;
        LineAction line = LineAction::None;
        bool quit = false;
    };

    explicit ControlCommands(Bus &bus);

    Result apply(const std::string &line);

    static std::string help();

private:
    // Leading station number if there is one, else every station.
    bool pickStations(std::vector<std::string> &words, std::vector<Station *> &stations,
                      std::string &error);
    Result switchInput(const std::string &name, std::vector<std::string> words);
    Result alarm(std::vector<std::string> words);
    Result fault(std::vector<std::string> words);
    Result target(std::vector<std::string> words);
    Result show(std::vector<std::string> words);

    Bus &m_bus;
};
