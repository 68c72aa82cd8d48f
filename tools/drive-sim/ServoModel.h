#pragma once

#include "Plant.h"
#include "ServoSettings.h"

#include <array>
#include <random>

// A voice-coil actuator (moving mass on a flexure, under gravity, with viscous and dry
// friction, end stops at the ends of its travel, perhaps a load on a compliant joint) driven
// by a cascade of position, velocity and current loops. It advances in fixed steps of
// simulated time, so that a run is the same whatever the host's speed.
class ServoModel final {
public:
    static constexpr int StepsPerSecond = 20480;
    static constexpr double StepSeconds = 1.0 / StepsPerSecond;

    explicit ServoModel(const Plant &plant = {});

    // Another actuator: it rests where its weight and spring put it, de-energised.
    void setPlant(const Plant &plant);
    const Plant &plant() const { return m_plant; }

    void setSettings(const ServoSettings &settings);
    const ServoSettings &settings() const { return m_settings; }

    // De-energising drops the current at once and forgets the loops' state; energising
    // holds the actuator where it is.
    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }

    // Moves the position command to the target with a trapezoidal profile.
    void moveTo(double target, double speed);
    // Freezes the position command where it is.
    void hold();

    void step();

    // Puts the actuator somewhere at rest, for tests and start-up.
    void placeAt(double position);

    double position() const { return m_position; }
    double velocity() const { return m_velocity; }
    // The position as the loops see it (the encoder's reading on a family plant).
    double feedbackPosition() const { return m_feedback; }
    double loadPosition() const { return m_loadPosition; }
    double current() const { return m_current; }
    double positionCommand() const { return m_command; }
    double positionError() const { return m_command - m_feedback; }
    double velocityCommand() const { return m_velocityCommand; }
    double velocityFeedback() const { return m_velocityFeedback; }
    double velocityError() const { return m_velocityCommand - m_velocityFeedback; }
    double currentCommand() const { return m_currentCommand; }
    bool moving() const { return m_moving; }

private:
    void advanceProfile();
    void runLoops();
    void advancePlant(double voltage);
    void advanceCurrent(double voltage);
    void advanceMechanics(double dt);
    void sense();
    double gaussian();

    Plant m_plant;
    ServoSettings m_settings;
    bool m_enabled = false;
    double m_velocityFilter = 0.0; // low-pass coefficients for one step
    double m_currentFilter = 0.0;
    int m_substeps = 1; // of the mechanics, to resolve the joint's resonance
    double m_jointRate = 0.0; // the plant's, kept at hand for every substep
    double m_jointDamping = 0.0;

    // plant
    double m_position = 0.0;
    double m_velocity = 0.0;
    double m_current = 0.0;
    double m_loadPosition = 0.0;
    double m_loadVelocity = 0.0;

    // sensing
    double m_feedback = 0.0;
    std::array<double, Plant::FamilyDelayLimit + 1> m_readings {}; // newest first
    double m_currentReading = 0.0;
    std::mt19937_64 m_noise;

    // profile generator
    double m_target = 0.0;
    double m_speed = 0.4;
    double m_command = 0.0;
    double m_profileVelocity = 0.0;
    double m_profileAccel = 0.0;
    bool m_moving = false;

    // loops
    double m_velocityFeedback = 0.0;
    double m_velocityCommand = 0.0;
    double m_velocityIntegral = 0.0;
    double m_currentCommand = 0.0;
    double m_currentIntegral = 0.0;
    double m_voltage = 0.0;
};
