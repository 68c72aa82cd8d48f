#pragma once

#include "ServoSettings.h"

// A voice-coil actuator (moving mass on a flexure, under gravity, with viscous and dry
// friction, end stops at the ends of its travel) driven by a cascade of position,
// velocity and current loops. It advances in fixed steps of simulated time, so that a
// run is the same whatever the host's speed.
class ServoModel final {
public:
    static constexpr int StepsPerSecond = 20480;
    static constexpr double StepSeconds = 1.0 / StepsPerSecond;

    // Plant constants.
    static constexpr double Mass = 0.05; // kg
    static constexpr double ForceConstant = 5.0; // N/A
    static constexpr double CoilResistance = 4.0; // ohm
    static constexpr double CoilInductance = 0.002; // H
    static constexpr double SpringRate = 100.0; // N/m, neutral at 0
    static constexpr double ViscousDamping = 1.0; // N s/m
    static constexpr double DryFriction = 0.02; // N
    static constexpr double Gravity = 9.81; // m/s^2, towards negative positions
    static constexpr double SupplyVoltage = 24.0; // V
    static constexpr double Travel = 0.015; // m each side of 0 to the end stops

    ServoModel();

    void setSettings(const ServoSettings &settings) { m_settings = settings; }
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
    double current() const { return m_current; }
    double positionCommand() const { return m_command; }
    double positionError() const { return m_command - m_position; }
    double velocityCommand() const { return m_velocityCommand; }
    double velocityFeedback() const { return m_velocityFeedback; }
    double velocityError() const { return m_velocityCommand - m_velocityFeedback; }
    double currentCommand() const { return m_currentCommand; }
    bool moving() const { return m_moving; }

private:
    void advanceProfile();
    void runLoops();
    void advancePlant(double voltage);

    ServoSettings m_settings;
    bool m_enabled = false;

    // plant
    double m_position = 0.0;
    double m_velocity = 0.0;
    double m_current = 0.0;

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
