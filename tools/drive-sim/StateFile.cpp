#include "StateFile.h"

#include "CommandLine.h"

#include <cstdio>
#include <fstream>

StateFile::StateFile(std::string path) : m_path(std::move(path)) { }

bool StateFile::load()
{
    std::ifstream in(m_path);
    if (!in)
        return true;
    const auto &parameters = ParameterTable::all();
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 200 || line.empty() || line[0] == '#')
            continue;
        const auto words = CommandLine::split(line);
        if (words.size() != 3)
            continue;
        const auto station = CommandLine::parseInteger(words[0]);
        const auto value = CommandLine::parseInteger(words[2]);
        if (!station || *station < 0 || *station > 15 || !value)
            continue;
        auto it = m_memories.find(static_cast<int>(*station));
        if (it == m_memories.end()) {
            Station::Memory fresh { ParameterTable().values(), false };
            it = m_memories.emplace(static_cast<int>(*station), fresh).first;
        }
        if (words[1] == "UD") {
            it->second.upDown = *value != 0;
            continue;
        }
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            if (parameters[i].saved && words[1] == parameters[i].name) {
                ParameterTable clamp;
                it->second.values[i] = clamp.write(i, *value);
            }
        }
    }
    return !in.bad();
}

std::optional<Station::Memory> StateFile::memoryOf(int station) const
{
    const auto it = m_memories.find(station);
    if (it == m_memories.end())
        return std::nullopt;
    return it->second;
}

void StateFile::store(const Station &station)
{
    m_memories[station.number()] = station.memory();
}

bool StateFile::write() const
{
    const std::string temporary = m_path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!out)
            return false;
        out << "# vcm-drive-sim: parameters saved by \"SV\"\n";
        const auto &parameters = ParameterTable::all();
        for (const auto &[number, memory] : m_memories) {
            out << number << " UD " << (memory.upDown ? 1 : 0) << '\n';
            for (std::size_t i = 0; i < parameters.size(); ++i) {
                if (parameters[i].saved)
                    out << number << ' ' << parameters[i].name << ' ' << memory.values[i] << '\n';
            }
        }
        out.flush();
        if (!out)
            return false;
    }
    return std::rename(temporary.c_str(), m_path.c_str()) == 0;
}
