#include "ServoModel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;

double sign(double x)
{
    return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
}

// First-order low-pass coefficient for one step.
double lowPass(double hz)
{
    return 1.0 - std::exp(-2.0 * Pi * hz * ServoModel::StepSeconds);
}

constexpr double EndStopRate = 2.0e5; // N/m
constexpr double EndStopDamping = 20.0; // N s/m
constexpr double StickSpeed = 1.0e-5; // m/s
} // namespace

ServoModel::ServoModel()
{
    placeAt(-Mass * Gravity / SpringRate);
}

void ServoModel::placeAt(double position)
{
    m_position = std::clamp(position, -Travel, Travel);
    m_velocity = 0.0;
    m_current = 0.0;
    m_command = m_position;
    m_target = m_position;
    m_profileVelocity = 0.0;
    m_profileAccel = 0.0;
    m_moving = false;
    m_velocityFeedback = 0.0;
}

void ServoModel::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    m_command = m_position;
    m_target = m_position;
    m_profileVelocity = 0.0;
    m_profileAccel = 0.0;
    m_moving = false;
    m_velocityIntegral = 0.0;
    m_currentIntegral = 0.0;
    m_currentCommand = 0.0;
    m_velocityCommand = 0.0;
    m_voltage = 0.0;
    if (!enabled)
        m_current = 0.0;
}

void ServoModel::moveTo(double target, double speed)
{
    if (!m_enabled)
        return;
    m_target = target;
    m_speed = std::max(speed, 1.0e-3);
    m_moving = true;
}

void ServoModel::hold()
{
    m_target = m_command;
    m_profileVelocity = 0.0;
    m_profileAccel = 0.0;
    m_moving = false;
}

void ServoModel::step()
{
    if (m_enabled) {
        advanceProfile();
        runLoops();
    } else {
        m_command = m_position;
        m_target = m_position;
        m_velocityCommand = 0.0;
        m_currentCommand = 0.0;
        m_voltage = 0.0;
    }
    advancePlant(m_voltage);
    m_velocityFeedback += lowPass(m_settings.velocityFilterHz) * (m_velocity - m_velocityFeedback);
}

void ServoModel::advanceProfile()
{
    if (!m_moving) {
        m_profileVelocity = 0.0;
        m_profileAccel = 0.0;
        return;
    }
    const double dt = StepSeconds;
    const double accel = std::max(m_settings.acceleration, 1.0);
    const double distance = m_target - m_command;
    // Square-root law: the fastest speed from which the profile can still stop in time.
    const double stopping = sign(distance) * std::sqrt(2.0 * accel * std::fabs(distance));
    const double wanted = std::clamp(stopping, -m_speed, m_speed);
    const double change = std::clamp(wanted - m_profileVelocity, -accel * dt, accel * dt);
    m_profileVelocity += change;
    m_profileAccel = change / dt;
    const double next = m_command + m_profileVelocity * dt;
    if (sign(m_target - next) != sign(distance) || std::fabs(m_target - next) < 1.0e-9) {
        m_command = m_target;
        m_profileVelocity = 0.0;
        m_profileAccel = 0.0;
        m_moving = false;
    } else {
        m_command = next;
    }
}

void ServoModel::runLoops()
{
    const ServoSettings &s = m_settings;
    const double dt = StepSeconds;

    m_velocityCommand
        = s.positionGain * positionError() + s.velocityFeedForward * m_profileVelocity;
    m_velocityCommand = std::clamp(m_velocityCommand, -s.velocityLimit, s.velocityLimit);
    const double velocityError = m_velocityCommand - m_velocityFeedback;

    const double feedForward = s.accelFeedForward * m_profileAccel * Mass / ForceConstant
        + s.springCompensation * SpringRate * m_position / ForceConstant
        + s.frictionCompensation * sign(m_profileVelocity) + s.gravityCompensation;
    const double wanted
        = s.velocityGain * (velocityError + s.velocityIntegral * m_velocityIntegral) + feedForward;
    const double limited = std::clamp(wanted, -s.peakCurrent, s.peakCurrent);
    // Integrate only while the output is free or the error pulls it back, so that a
    // saturated move does not wind the integral up.
    if (limited == wanted || sign(velocityError) != sign(wanted))
        m_velocityIntegral += velocityError * dt;
    m_currentCommand += lowPass(s.currentFilterHz) * (limited - m_currentCommand);

    const double currentError = m_currentCommand - m_current;
    const double proportional = CoilInductance * s.currentBandwidth;
    const double integral = CoilResistance * s.currentBandwidth;
    const double voltage = proportional * currentError + integral * m_currentIntegral;
    m_voltage = std::clamp(voltage, -SupplyVoltage, SupplyVoltage);
    if (m_voltage == voltage || sign(currentError) != sign(voltage))
        m_currentIntegral += currentError * dt;
}

void ServoModel::advancePlant(double voltage)
{
    const double dt = StepSeconds;
    if (m_enabled) {
        const double emf = ForceConstant * m_velocity;
        m_current += (voltage - CoilResistance * m_current - emf) / CoilInductance * dt;
    } else {
        m_current = 0.0;
    }

    double force = ForceConstant * m_current - SpringRate * m_position - ViscousDamping * m_velocity
        - Mass * Gravity;
    if (m_position > Travel)
        force -= EndStopRate * (m_position - Travel) + EndStopDamping * m_velocity;
    else if (m_position < -Travel)
        force -= EndStopRate * (m_position + Travel) + EndStopDamping * m_velocity;

    if (std::fabs(m_velocity) < StickSpeed && std::fabs(force) <= DryFriction) {
        m_velocity = 0.0;
        return;
    }
    force -= DryFriction * sign(m_velocity != 0.0 ? m_velocity : force);
    m_velocity += force / Mass * dt;
    m_position += m_velocity * dt;
}
