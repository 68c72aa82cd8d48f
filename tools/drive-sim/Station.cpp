#include "Station.h"

#include "CommandLine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
// Error replies carry no "=", so the console never takes one for a parameter value.
const std::string UnknownCommand = "?1";
const std::string BadArgument = "?2";
const std::string NoSuchItem = "?3";
const std::string Refused = "?4";

constexpr double CountsPerMetre = 1.0e6;
// KVI as an integral gain: A per m/s of velocity error and second, for each unit. KVI 100 then
// does what it does as a corner frequency at KVP 100.
constexpr double IntegralGainUnit = 10.0;
constexpr std::int64_t StepsPerSecond = ServoModel::StepsPerSecond;
constexpr std::int64_t DemoServoDelaySteps = StepsPerSecond; // 1 s
constexpr std::int64_t DemoAlarmResetSteps = 3 * StepsPerSecond; // 3 s

// What every step reads, by index: looking them up by address each time costs a fifth of a
// model step.
const std::size_t OverloadTime = *ParameterTable::indexOf(Param::Settings, 3); // VT1
const std::size_t ContinuousCurrent = *ParameterTable::indexOf(Param::Settings, 8); // VI2
const std::size_t ErrorLimit = *ParameterTable::indexOf(Param::Settings, 2); // VPX
const std::size_t InPositionWindow = *ParameterTable::indexOf(Param::Thresholds, 0); // TH0

std::string withEnd(const std::string &body)
{
    return body + Station::ReplyEnd;
}

std::int32_t rounded(double value)
{
    return static_cast<std::int32_t>(std::lround(value));
}

std::optional<int> smallNumber(const std::string &text)
{
    const auto value = CommandLine::parseInteger(text);
    if (!value || *value < 0 || *value > 1000)
        return std::nullopt;
    return static_cast<int>(*value);
}
} // namespace

Station::Station(int number, Recorder::Variant variant) : m_number(number), m_recorder(variant)
{
    m_memory.values = m_parameters.values();
    applySettings();
}

std::string Station::addressed()
{
    if (m_demo && !m_keepServoOn) {
        // A new selection: the bench operator switches the servo off for it.
        setServoInput(false);
        m_servoOnCountdown = -1;
    }
    return withEnd("OK");
}

Station::Execution Station::execute(const std::string &line)
{
    const std::vector<std::string> words = CommandLine::split(line);
    if (words.empty())
        return { withEnd(""), false };
    const std::string &command = words.front();
    const std::vector<std::string> args(words.begin() + 1, words.end());

    if (command == "RV") {
        const std::string reply = readVariable(args);
        if (m_demo && args.size() == 1 && args[0] == "10" && !m_inputs.servoOn
            && m_servoOnCountdown < 0)
            m_servoOnCountdown = DemoServoDelaySteps;
        return { withEnd(reply), false };
    }
    if (command == "RD")
        return { withEnd(readParameter(args)), false };
    if (command == "WT")
        return { withEnd(writeParameterCommand(args)), false };
    if (command == "SV") {
        if (!args.empty())
            return { withEnd(BadArgument), false };
        m_memory.values = m_parameters.values();
        m_memory.upDown = m_upDown;
        return { withEnd("OK"), true };
    }
    if (command == "UD")
        return { withEnd(setCommandSource(args)), false };
    if (command == "RC")
        return { withEnd(setChannels(args)), false };
    if (command == "RN")
        return { withEnd(armRecorder(args)), false };
    if (command == "RO")
        return { args.empty() ? uploadRecord() : withEnd(BadArgument), false };
    return { withEnd(UnknownCommand), false };
}

std::string Station::readVariable(const std::vector<std::string> &args) const
{
    if (args.size() != 1)
        return BadArgument;
    const auto index = smallNumber(args[0]);
    if (!index)
        return BadArgument;
    if (*index == 8 || *index == 10) {
        if (m_faults.badStatus)
            return "ZZZZ";
        return hexWord(*index == 8 ? statusWord() : modeWord());
    }
    if (*index > 7)
        return NoSuchItem;
    return std::to_string(variable(*index));
}

std::string Station::readParameter(const std::vector<std::string> &args) const
{
    if (args.size() != 2)
        return BadArgument;
    const auto group = smallNumber(args[0]);
    const auto item = smallNumber(args[1]);
    if (!group || !item)
        return BadArgument;
    const auto index = ParameterTable::indexOf(*group, *item);
    if (!index)
        return NoSuchItem;
    return parameterReply(*index);
}

std::string Station::writeParameterCommand(const std::vector<std::string> &args)
{
    if (args.size() != 3)
        return BadArgument;
    const auto group = smallNumber(args[0]);
    const auto item = smallNumber(args[1]);
    const auto value = CommandLine::parseInteger(args[2]);
    if (!group || !item || !value)
        return BadArgument;
    const auto index = ParameterTable::indexOf(*group, *item);
    if (!index)
        return NoSuchItem;
    writeParameter(*index, *value);
    return parameterReply(*index);
}

std::int32_t Station::writeParameter(std::size_t index, std::int64_t value)
{
    const std::int32_t held = m_parameters.write(index, value);
    const ParameterInfo &info = ParameterTable::all()[index];
    if (info.group == Param::Gains || info.group == Param::Settings)
        applySettings();
    if ((info.group == Param::Up || info.group == Param::Down) && info.item == 0)
        requestMove(info.group);
    return held;
}

std::string Station::parameterReply(std::size_t index) const
{
    const ParameterInfo &info = ParameterTable::all()[index];
    const char *separator = m_faults.noEquals ? " " : "=";
    return info.name + std::string(separator) + std::to_string(m_parameters.value(index));
}

std::string Station::setCommandSource(const std::vector<std::string> &args)
{
    if (args.size() != 1 || (args[0] != "0" && args[0] != "1"))
        return BadArgument;
    // Switching the source under a running servo would make the actuator jump.
    if (energized())
        return Refused;
    m_upDown = args[0] == "1";
    return "OK";
}

std::string Station::setChannels(const std::vector<std::string> &args)
{
    if (args.size() != 2)
        return BadArgument;
    const auto first = smallNumber(args[0]);
    const auto second = smallNumber(args[1]);
    if (!first || !second || !m_recorder.setChannels(*first, *second))
        return BadArgument;
    return "OK";
}

std::string Station::armRecorder(const std::vector<std::string> &args)
{
    // "RN 0 1": trigger at once (0), arm (1); "RN 0 0" stops a recording.
    if (args.size() != 2 || args[0] != "0" || (args[1] != "0" && args[1] != "1"))
        return BadArgument;
    if (args[1] == "1")
        m_recorder.arm(m_parameters.value(Param::Recorder, Param::RecorderInterval));
    else
        m_recorder.disarm();
    return "OK";
}

std::string Station::uploadRecord() const
{
    std::vector<std::int32_t> values = m_recorder.record();
    if (m_faults.shortRecord)
        values.resize(values.size() / 2);
    std::string reply = "RO:";
    reply.reserve(values.size() * 7 + 8);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (m_faults.longField && i == 2) {
            char field[32];
            std::snprintf(field, sizeof field, "%012d", static_cast<int>(values[i]));
            reply += field;
        } else {
            reply += std::to_string(values[i]);
        }
        reply += ',';
    }
    return withEnd(reply);
}

std::string Station::hexWord(std::uint16_t word) const
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(word));
    return text;
}

std::uint16_t Station::statusWord() const
{
    std::uint16_t word = static_cast<std::uint16_t>(m_alarms & 0xF);
    if (m_alarms == 0 && !m_inputs.emergencyStop)
        word |= 0x0010; // DRDY
    if (energized() && m_inPositionSteps > 0
        && m_inPositionSteps * 1000
            >= static_cast<std::int64_t>(m_parameters.value(Param::Settings, 11)) * StepsPerSecond)
        word |= 0x0020; // INPOS
    if (variable(1) >= m_parameters.value(Param::Thresholds, 1))
        word |= 0x0040; // DO0
    if (energized())
        word |= 0x0100;
    if (m_inputs.bond)
        word |= 0x0200;
    if (m_inputs.btype)
        word |= 0x0400;
    if (!m_inputs.emergencyStop)
        word |= 0x0800;
    if (m_inputs.di1)
        word |= 0x1000;
    if (m_inputs.di2)
        word |= 0x2000;
    return word;
}

std::uint16_t Station::modeWord() const
{
    std::uint16_t word = 0;
    if (m_recorder.recording())
        word |= 0x0001;
    if (m_recorder.complete())
        word |= 0x0002;
    if (m_upDown)
        word |= 0x0040;
    if (m_recorder.variant() == Recorder::Variant::New)
        word |= 0x0080;
    return word;
}

std::int32_t Station::variable(int index) const
{
    const ServoModel &m = m_model;
    switch (index) {
    case 0:
        return rounded(m.positionCommand() * CountsPerMetre);
    case 1:
        return rounded(m.feedbackPosition() * CountsPerMetre);
    case 2:
        return variable(0) - variable(1);
    case 3:
        return rounded(m.velocityCommand() * 1.0e4); // 0.1 mm/s
    case 4:
        return rounded(m.velocityFeedback() * 1.0e4);
    case 5:
        return variable(3) - variable(4);
    case 6:
        return rounded(m.currentCommand() * 1000.0);
    case 7:
        return rounded(m.current() * 1000.0);
    default:
        return 0;
    }
}

std::int32_t Station::recorderChannel(int channel) const
{
    if (channel == 8)
        return statusWord();
    return variable(channel - 1);
}

void Station::applySettings()
{
    const auto g = [this](int item) { return double(m_parameters.value(Param::Gains, item)); };
    const auto v = [this](int item) { return double(m_parameters.value(Param::Settings, item)); };
    const Plant &plant = m_model.plant();
    const auto scale = [&plant](Plant::Gain gain) { return plant.gainScale[gain]; };
    ServoSettings s;
    s.positionGain = g(0) * scale(Plant::PositionGain);
    s.velocityFeedForward = g(1) / 100.0;
    s.velocityGain = g(2) / 10.0 * scale(Plant::VelocityGain);
    s.velocityIntegral = g(3) * scale(Plant::IntegralGain);
    s.integralAsGain = plant.integralAsGain;
    s.integralGain = g(3) * IntegralGainUnit * scale(Plant::IntegralGain);
    s.accelFeedForward = g(4) / 100.0;
    s.springCompensation = g(5) / 100.0;
    s.frictionCompensation = g(6) / 1000.0;
    s.gravityCompensation = g(7) / 1000.0;
    s.currentBandwidth = v(0);
    s.peakCurrent = v(1) / 1000.0;
    s.velocityLimit = v(5) / 1.0e4;
    s.currentFilterHz = v(6);
    s.acceleration = v(9);
    s.velocityFilterHz = v(10);
    m_model.setSettings(s);
}

void Station::setPlant(const Plant &plant)
{
    m_model.setPlant(plant);
    m_inPositionSteps = 0;
    applySettings();
    updateEnergized();
}

void Station::placeActuator(std::int32_t counts)
{
    m_model.placeAt(counts / CountsPerMetre);
}

void Station::setServoInput(bool on)
{
    if (m_inputs.servoOn && !on)
        clearAlarms(); // switching the servo off is how the bench resets alarms
    m_inputs.servoOn = on;
    updateEnergized();
}

void Station::setEmergencyStop(bool on)
{
    m_inputs.emergencyStop = on;
    updateEnergized();
}

void Station::setDi1(bool on)
{
    m_inputs.di1 = on;
    if (on)
        m_model.hold();
}

void Station::setDi2(bool on)
{
    const bool changed = on != m_inputs.di2;
    m_inputs.di2 = on;
    if (changed)
        requestMove(on ? Param::Up : Param::Down);
}

void Station::raiseAlarm(unsigned alarm)
{
    if ((m_alarms & alarm) == alarm)
        return;
    if (m_alarms == 0)
        m_alarmAge = 0;
    m_alarms |= alarm & 0xF;
    updateEnergized();
}

void Station::clearAlarms()
{
    m_alarms = 0;
    m_heat = 0.0;
    updateEnergized();
}

void Station::updateEnergized()
{
    const bool energize = m_inputs.servoOn && !m_inputs.emergencyStop && m_alarms == 0;
    m_model.setEnabled(energize);
    if (!energize)
        m_inPositionSteps = 0;
}

void Station::requestMove(int group)
{
    if (!m_upDown || !energized() || m_inputs.di1)
        return;
    const std::int32_t target = m_parameters.value(group, 0);
    if (std::abs(target) > m_parameters.value(Param::Settings, 7)) {
        raiseAlarm(PcmdOver);
        return;
    }
    const double speed = m_parameters.value(group, 1) / 1000.0;
    m_model.moveTo(target / CountsPerMetre, speed);
}

void Station::step()
{
    ++m_steps;
    m_model.step();

    const double tau = m_parameters.value(OverloadTime) / 1000.0;
    const double current = m_model.current();
    m_heat += (current * current - m_heat) * ServoModel::StepSeconds / tau;

    if (energized())
        checkAlarms();

    const bool inWindow = energized() && !m_model.moving()
        && std::abs(variable(2)) <= m_parameters.value(InPositionWindow);
    m_inPositionSteps = inWindow ? m_inPositionSteps + 1 : 0;

    if (m_recorder.sampleDue()) {
        const std::int32_t first = recorderChannel(m_recorder.firstChannel());
        const std::int32_t second = recorderChannel(m_recorder.secondChannel());
        m_recorder.store(first, second);
    }

    if (m_servoOnCountdown >= 0 && m_servoOnCountdown-- == 0)
        setServoInput(true);
    if (m_demo && m_alarms != 0 && ++m_alarmAge >= DemoAlarmResetSteps)
        clearAlarms();
}

void Station::checkAlarms()
{
    const double continuous = m_parameters.value(ContinuousCurrent) / 1000.0;
    if (m_heat > continuous * continuous)
        raiseAlarm(OverLoad);
    if (std::abs(variable(2)) > m_parameters.value(ErrorLimit))
        raiseAlarm(PerrExceed);
}

void Station::loadMemory(const Memory &memory)
{
    if (memory.values.size() != m_memory.values.size())
        return;
    m_memory = memory;
    const auto &list = ParameterTable::all();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].saved)
            m_parameters.write(i, memory.values[i]);
    }
    m_upDown = memory.upDown;
    applySettings();
}
