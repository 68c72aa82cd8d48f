#include "ControlCommands.h"

#include "CommandLine.h"

#include <cstdio>

namespace {
ControlCommands::Result failure(const std::string &message)
{
    return { false, message, ControlCommands::LineAction::None, false };
}

ControlCommands::Result done(const std::string &message = "ok")
{
    return { true, message, ControlCommands::LineAction::None, false };
}

std::optional<int> milliseconds(const std::string &text)
{
    const auto value = CommandLine::parseInteger(text);
    if (!value || *value < 0 || *value > 60000)
        return std::nullopt;
    return static_cast<int>(*value);
}
} // namespace

ControlCommands::ControlCommands(Bus &bus) : m_bus(bus) { }

std::string ControlCommands::help()
{
    return "commands:\n"
           "  servo|estop|di1|di2|bond|btype [STATION] on|off\n"
           "  alarm [STATION] overload|perr|sensor|pcmd|clear\n"
           "  fault STATION silent|garbage|no-equals|bad-status|long-field|short-record\n"
           "  fault STATION delay MS | fault STATION split-prompt MS\n"
           "  fault clear [STATION]\n"
           "  target [STATION] COUNTS\n"
           "  line drop|restore\n"
           "  show [STATION]\n"
           "  help | quit";
}

ControlCommands::Result ControlCommands::apply(const std::string &line)
{
    std::vector<std::string> words = CommandLine::split(line, false);
    if (words.empty())
        return done("");
    const std::string command = words.front();
    words.erase(words.begin());

    if (command == "help")
        return done(help());
    if (command == "quit" || command == "exit") {
        Result result = done("bye");
        result.quit = true;
        return result;
    }
    if (command == "servo" || command == "estop" || command == "di1" || command == "di2"
        || command == "bond" || command == "btype")
        return switchInput(command, words);
    if (command == "alarm")
        return alarm(words);
    if (command == "fault")
        return fault(words);
    if (command == "target")
        return target(words);
    if (command == "show")
        return show(words);
    if (command == "line" && words.size() == 1 && (words[0] == "drop" || words[0] == "restore")) {
        Result result = done();
        result.line = words[0] == "drop" ? LineAction::Drop : LineAction::Restore;
        return result;
    }
    return failure("unknown command (try help)");
}

bool ControlCommands::pickStations(std::vector<std::string> &words,
                                   std::vector<Station *> &stations, std::string &error)
{
    if (!words.empty()) {
        if (const auto number = CommandLine::parseInteger(words.front())) {
            Station *station = m_bus.station(static_cast<int>(*number));
            if (!station) {
                error = "no station " + words.front();
                return false;
            }
            stations = { station };
            words.erase(words.begin());
            return true;
        }
    }
    stations = m_bus.stations();
    return true;
}

ControlCommands::Result ControlCommands::switchInput(const std::string &name,
                                                     std::vector<std::string> words)
{
    std::vector<Station *> stations;
    std::string error;
    if (!pickStations(words, stations, error))
        return failure(error);
    if (words.size() != 1 || (words[0] != "on" && words[0] != "off"))
        return failure("usage: " + name + " [STATION] on|off");
    const bool on = words[0] == "on";
    for (Station *s : stations) {
        if (name == "servo")
            s->setServoInput(on);
        else if (name == "estop")
            s->setEmergencyStop(on);
        else if (name == "di1")
            s->setDi1(on);
        else if (name == "di2")
            s->setDi2(on);
        else if (name == "bond")
            s->setBond(on);
        else
            s->setBtype(on);
    }
    return done();
}

ControlCommands::Result ControlCommands::alarm(std::vector<std::string> words)
{
    std::vector<Station *> stations;
    std::string error;
    if (!pickStations(words, stations, error))
        return failure(error);
    const std::string usage = "usage: alarm [STATION] overload|perr|sensor|pcmd|clear";
    if (words.size() != 1)
        return failure(usage);
    unsigned bits = 0;
    if (words[0] == "overload")
        bits = Station::OverLoad;
    else if (words[0] == "perr")
        bits = Station::PerrExceed;
    else if (words[0] == "sensor")
        bits = Station::SensorBreak;
    else if (words[0] == "pcmd")
        bits = Station::PcmdOver;
    else if (words[0] != "clear")
        return failure(usage);
    for (Station *s : stations) {
        if (bits)
            s->raiseAlarm(bits);
        else
            s->clearAlarms();
    }
    return done();
}

ControlCommands::Result ControlCommands::fault(std::vector<std::string> words)
{
    if (!words.empty() && words[0] == "clear") {
        words.erase(words.begin());
        std::vector<Station *> stations;
        std::string error;
        if (!pickStations(words, stations, error))
            return failure(error);
        if (!words.empty())
            return failure("usage: fault clear [STATION]");
        for (Station *s : stations)
            s->faults() = FaultSet();
        return done();
    }
    const std::string usage = "usage: fault STATION KIND [MS] (see help)";
    if (words.size() < 2)
        return failure(usage);
    const auto number = CommandLine::parseInteger(words[0]);
    Station *station = number ? m_bus.station(static_cast<int>(*number)) : nullptr;
    if (!station)
        return failure("no station " + words[0]);
    FaultSet &f = station->faults();
    const std::string &kind = words[1];
    if (kind == "delay" || kind == "split-prompt") {
        const auto ms = words.size() == 3 ? milliseconds(words[2]) : std::nullopt;
        if (!ms)
            return failure("usage: fault STATION " + kind + " MS (0-60000)");
        (kind == "delay" ? f.delayMs : f.splitPromptMs) = *ms;
        return done();
    }
    if (words.size() != 2)
        return failure(usage);
    if (kind == "silent")
        f.silent = true;
    else if (kind == "garbage")
        f.garbage = true;
    else if (kind == "no-equals")
        f.noEquals = true;
    else if (kind == "bad-status")
        f.badStatus = true;
    else if (kind == "long-field")
        f.longField = true;
    else if (kind == "short-record")
        f.shortRecord = true;
    else if (kind == "none")
        f = FaultSet();
    else
        return failure(usage);
    return done();
}

ControlCommands::Result ControlCommands::target(std::vector<std::string> words)
{
    std::vector<Station *> stations;
    std::string error;
    if (!pickStations(words, stations, error))
        return failure(error);
    const auto value = words.size() == 1 ? CommandLine::parseInteger(words[0]) : std::nullopt;
    if (!value)
        return failure("usage: target [STATION] COUNTS");
    const auto index = ParameterTable::indexOf(Param::Up, 0);
    for (Station *s : stations)
        s->writeParameter(*index, *value);
    return done();
}

ControlCommands::Result ControlCommands::show(std::vector<std::string> words)
{
    std::vector<Station *> stations;
    std::string error;
    if (!pickStations(words, stations, error))
        return failure(error);
    if (!words.empty())
        return failure("usage: show [STATION]");
    std::string text;
    for (Station *s : stations) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "station %d%s: status %04X mode %04X PCMD %d PFBK %d PERR %d VCMD %d VFBK %d "
                      "VERR %d ICMD %d faults: %s",
                      s->number(), m_bus.addressed() == s->number() ? " (addressed)" : "",
                      static_cast<unsigned>(s->statusWord()), static_cast<unsigned>(s->modeWord()),
                      s->variable(0), s->variable(1), s->variable(2), s->variable(3),
                      s->variable(4), s->variable(5), s->variable(6),
                      s->faults().describe().c_str());
        if (!text.empty())
            text += '\n';
        text += line;
    }
    return done(text);
}
