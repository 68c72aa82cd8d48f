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

ServoModel::ServoModel(const Plant &plant)
{
    setSettings(m_settings);
    setPlant(plant);
}

void ServoModel::setPlant(const Plant &plant)
{
    setEnabled(false);
    m_plant = plant;
    // A few steps of the mechanics to a radian of the joint's resonance keep the integration
    // close to the true motion and far from its stability limit.
    const double radiansPerStep = 2 * Pi * m_plant.resonanceHz * StepSeconds;
    m_substeps = std::max(1, int(std::ceil(radiansPerStep / 0.25)));
    m_jointRate = m_plant.jointRate();
    m_jointDamping = m_plant.jointDamping();
    m_noise.seed(m_plant.seed.value_or(0));
    m_velocityFeedback = 0.0;
    placeAt(m_plant.restPosition());
}

void ServoModel::setSettings(const ServoSettings &settings)
{
    m_settings = settings;
    m_velocityFilter = lowPass(settings.velocityFilterHz);
    m_currentFilter = lowPass(settings.currentFilterHz);
}

double ServoModel::gaussian()
{
    // Four 16-bit uniforms from one draw, summed: close enough to a normal for sensor noise
    // (within 3.5 standard deviations), at a fraction of the cost of an exact one.
    const std::uint64_t bits = m_noise();
    double sum = 0;
    for (int i = 0; i < 4; ++i)
        sum += double((bits >> (16 * i)) & 0xFFFF);
    constexpr double Mean = 4 * 32767.5;
    constexpr double Deviation = 37837.2272372; // sqrt(4 * (65536^2 - 1) / 12)
    return (sum - Mean) / Deviation;
}

void ServoModel::placeAt(double position)
{
    m_position = std::clamp(position, -m_plant.travel, m_plant.travel);
    m_feedback = m_position;
    m_readings.fill(m_position);
    if (m_plant.hasLoad()) {
        // The load hangs on its joint, at rest.
        m_loadPosition = m_position - m_plant.loadMass * m_plant.gravity / m_jointRate;
        m_loadVelocity = 0.0;
    }
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
    m_command = m_feedback;
    m_target = m_feedback;
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
        m_command = m_feedback;
        m_target = m_feedback;
        m_velocityCommand = 0.0;
        m_currentCommand = 0.0;
        m_voltage = 0.0;
    }
    advancePlant(m_voltage);
    if (m_plant.encoderFeedback) {
        sense();
    } else {
        m_feedback = m_position;
        m_velocityFeedback += m_velocityFilter * (m_velocity - m_velocityFeedback);
    }
}

void ServoModel::sense()
{
    // What the encoder reads: noise, then its resolution; the loops get it some samples late
    // and take the velocity from successive readings, as a drive does.
    const double count = 1.0e-6;
    const double noisy = m_position + m_plant.encoderNoise * count * gaussian();
    const double resolution = m_plant.quantisation * count;
    std::copy_backward(m_readings.begin(), m_readings.end() - 1, m_readings.end());
    m_readings[0] = std::round(noisy / resolution) * resolution;
    const double previous = m_feedback;
    m_feedback = m_readings[std::size_t(m_plant.delaySamples)];
    const double velocity = (m_feedback - previous) / StepSeconds;
    m_velocityFeedback += m_velocityFilter * (velocity - m_velocityFeedback);
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

    const Plant &p = m_plant;
    const double feedForward = s.accelFeedForward * m_profileAccel * p.totalMass() / p.forceConstant
        + s.springCompensation * p.springRate * m_feedback / p.forceConstant
        + s.frictionCompensation * sign(m_profileVelocity) + s.gravityCompensation;
    const double wanted = s.integralAsGain
        ? s.velocityGain * velocityError + s.integralGain * m_velocityIntegral + feedForward
        : s.velocityGain * (velocityError + s.velocityIntegral * m_velocityIntegral) + feedForward;
    const double peak
        = p.amplifierPeak > 0 ? std::min(s.peakCurrent, p.amplifierPeak) : s.peakCurrent;
    const double limited = std::clamp(wanted, -peak, peak);
    // Integrate only while the output is free or the error pulls it back, so that a
    // saturated move does not wind the integral up.
    if (limited == wanted || sign(velocityError) != sign(wanted))
        m_velocityIntegral += velocityError * dt;
    m_currentCommand += m_currentFilter * (limited - m_currentCommand);

    const double sensed = p.currentNoise > 0 ? m_current + p.currentNoise * gaussian() : m_current;
    const double currentError = m_currentCommand - sensed;
    const double proportional = p.coilInductance * s.currentBandwidth;
    const double integral = p.coilResistance * s.currentBandwidth;
    const double voltage = proportional * currentError + integral * m_currentIntegral;
    m_voltage = std::clamp(voltage, -p.supplyVoltage, p.supplyVoltage);
    if (m_voltage == voltage || sign(currentError) != sign(voltage))
        m_currentIntegral += currentError * dt;
}

void ServoModel::advancePlant(double voltage)
{
    advanceCurrent(voltage);
    const double dt = StepSeconds / m_substeps;
    for (int i = 0; i < m_substeps; ++i)
        advanceMechanics(dt);
}

void ServoModel::advanceCurrent(double voltage)
{
    const Plant &p = m_plant;
    const double dt = StepSeconds;
    if (m_enabled) {
        const double emf = p.forceConstant * m_velocity;
        m_current += (voltage - p.coilResistance * m_current - emf) / p.coilInductance * dt;
    } else {
        m_current = 0.0;
    }
}

void ServoModel::advanceMechanics(double dt)
{
    const Plant &p = m_plant;
    double force = p.forceConstant * m_current - p.springRate * m_position
        - p.viscousDamping * m_velocity - p.coilMass * p.gravity;
    double joint = 0.0; // on the coil, from the load
    if (p.hasLoad()) {
        joint = m_jointRate * (m_loadPosition - m_position)
            + m_jointDamping * (m_loadVelocity - m_velocity);
        force += joint;
    }
    if (m_position > p.travel)
        force -= EndStopRate * (m_position - p.travel) + EndStopDamping * m_velocity;
    else if (m_position < -p.travel)
        force -= EndStopRate * (m_position + p.travel) + EndStopDamping * m_velocity;

    if (std::fabs(m_velocity) < StickSpeed && std::fabs(force) <= p.stiction) {
        m_velocity = 0.0;
    } else {
        force -= p.coulombFriction * sign(m_velocity != 0.0 ? m_velocity : force);
        m_velocity += force / p.coilMass * dt;
        m_position += m_velocity * dt;
    }
    if (p.hasLoad()) {
        m_loadVelocity += (-joint - p.loadMass * p.gravity) / p.loadMass * dt;
        m_loadPosition += m_loadVelocity * dt;
    }
}
