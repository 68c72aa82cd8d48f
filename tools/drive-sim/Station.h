#pragma once

#include "FaultSet.h"
#include "ParameterTable.h"
#include "Recorder.h"
#include "ServoModel.h"
#include "StationInputs.h"

#include <cstdint>
#include <string>
#include <vector>

// One drive on the bus: its parameters and their non-volatile copy, the actuator under
// its loops, the recorder, the bench inputs and the alarms, and the command interpreter
// that answers the console.
class Station final {
public:
    // Every reply ends with these; a value sits right before them.
    static constexpr const char *ReplyEnd = ";\r\n>";

    enum Alarm : unsigned {
        OverLoad = 0x1,
        PerrExceed = 0x2,
        SensorBreak = 0x4,
        PcmdOver = 0x8,
    };

    struct Execution {
        std::string reply;
        bool saved = false; // the command stored the non-volatile copy
    };

    // What "SV" keeps; values are indexed like ParameterTable::all().
    struct Memory {
        std::vector<std::int32_t> values;
        bool upDown = false;
    };

    Station(int number, Recorder::Variant variant);

    int number() const { return m_number; }

    // The reply of this station when "ST" addresses it.
    std::string addressed();
    // Runs one command line (without its CR) addressed to this station.
    Execution execute(const std::string &line);

    void step();
    std::int64_t steps() const { return m_steps; }

    const StationInputs &inputs() const { return m_inputs; }
    void setServoInput(bool on);
    void setEmergencyStop(bool on);
    void setDi1(bool on);
    void setDi2(bool on);
    void setBond(bool on) { m_inputs.bond = on; }
    void setBtype(bool on) { m_inputs.btype = on; }
    void raiseAlarm(unsigned alarm);
    void clearAlarms();
    unsigned alarms() const { return m_alarms; }
    // Bench mode: the servo comes on once the console has selected the station, and
    // alarms reset themselves a while after they trip.
    void setDemo(bool demo) { m_demo = demo; }
    // The bench leaves the servo on when a station is addressed, for programs (vcm-tool)
    // that address it before every command.
    void setKeepServoOn(bool keep) { m_keepServoOn = keep; }
    void setUpDownMode(bool upDown) { m_upDown = upDown; }
    bool upDownMode() const { return m_upDown; }
    bool energized() const { return m_model.enabled(); }

    // The actuator and the drive's gain semantics; a new plant starts at rest, de-energised
    // until the inputs energise it again.
    void setPlant(const Plant &plant);
    const Plant &plant() const { return m_model.plant(); }
    // Puts the actuator at rest here (counts), holding there if energised: for benches.
    void placeActuator(std::int32_t counts);

    FaultSet &faults() { return m_faults; }
    const FaultSet &faults() const { return m_faults; }

    std::uint16_t statusWord() const;
    std::uint16_t modeWord() const;
    // 0 PCMD, 1 PFBK, 2 PERR, 3 VCMD, 4 VFBK, 5 VERR, 6 ICMD, 7 current feedback.
    std::int32_t variable(int index) const;
    std::int32_t recorderChannel(int channel) const;

    const ParameterTable &parameters() const { return m_parameters; }
    // Writes a parameter as "WT" does, with the same side effects; returns the value held.
    std::int32_t writeParameter(std::size_t index, std::int64_t value);
    const Recorder &recorder() const { return m_recorder; }

    Memory memory() const { return m_memory; }
    // Power-up from a saved copy: the working values become the saved ones.
    void loadMemory(const Memory &memory);

private:
    std::string readVariable(const std::vector<std::string> &args) const;
    std::string readParameter(const std::vector<std::string> &args) const;
    std::string writeParameterCommand(const std::vector<std::string> &args);
    std::string setCommandSource(const std::vector<std::string> &args);
    std::string setChannels(const std::vector<std::string> &args);
    std::string armRecorder(const std::vector<std::string> &args);
    std::string uploadRecord() const;
    std::string parameterReply(std::size_t index) const;
    std::string hexWord(std::uint16_t word) const;

    void applySettings();
    void updateEnergized();
    void requestMove(int group);
    void checkAlarms();

    int m_number;
    ParameterTable m_parameters;
    Memory m_memory;
    ServoModel m_model;
    Recorder m_recorder;
    StationInputs m_inputs;
    FaultSet m_faults;
    unsigned m_alarms = 0;
    bool m_upDown = false;
    bool m_demo = false;
    bool m_keepServoOn = false;
    std::int64_t m_steps = 0;
    std::int64_t m_servoOnCountdown = -1;
    std::int64_t m_alarmAge = 0;
    std::int64_t m_inPositionSteps = 0;
    double m_heat = 0.0; // filtered square of the coil current, A^2
};
