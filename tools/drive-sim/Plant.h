#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The actuator a station drives and what its drive makes of the gains. Default-constructed it
// is the simulator's own plant; family(seed) draws one of a seeded family of plausible VCM axes
// that differ in every way a real one may from it.
struct Plant {
    // Which gains the drive scales (KPP, KVP, KVI, as the gain array's items 0, 2, 3).
    enum Gain { PositionGain, VelocityGain, IntegralGain, ScaledGains };

    std::optional<std::uint32_t> seed; // none: the default plant

    // The coil and its suspension (SI units).
    double coilMass = 0.05; // kg
    double forceConstant = 5.0; // N/A
    double coilResistance = 4.0; // ohm
    double coilInductance = 0.002; // H
    double springRate = 100.0; // N/m, neutral at 0
    double viscousDamping = 1.0; // N s/m
    double coulombFriction = 0.02; // N while sliding
    double stiction = 0.02; // N it takes to break away
    double gravity = 9.81; // m/s^2, towards negative positions
    double supplyVoltage = 24.0; // V
    double amplifierPeak = 0; // A the amplifier can give at most; 0: only VIP limits
    double travel = 0.015; // m each side of 0 to the end stops

    // A load on a compliant joint; loadMass 0: none.
    double loadMass = 0; // kg
    double resonanceHz = 0; // of the joint, with the coil free
    double dampingRatio = 0; // of the joint

    // What the loops see. The default plant's loops see the true motion; a family plant's see
    // its encoder (noise, then quantisation, then delay) and take the velocity from it.
    bool encoderFeedback = false;
    int quantisation = 1; // counts
    double encoderNoise = 0; // counts, standard deviation, every loop sample
    double currentNoise = 0; // A, standard deviation of the current sensor
    int delaySamples = 0; // loop samples between the encoder and the loops

    // The drive's gain semantics: each gain's unit times this factor; the integral term as a
    // corner frequency (I = KVP x (VERR + KVI x integral)) or as a gain of its own.
    std::array<double, ScaledGains> gainScale { 1.0, 1.0, 1.0 };
    bool integralAsGain = false;

    static constexpr int FamilyDelayLimit = 2;

    // The family member this seed picks; the same one on every machine.
    static Plant family(std::uint32_t seed);

    bool hasLoad() const { return loadMass > 0; }
    double massRatio() const { return loadMass / coilMass; }
    double totalMass() const { return coilMass + loadMass; }
    // The joint's stiffness and damping, for its resonance and damping ratio.
    double jointRate() const;
    double jointDamping() const;
    // What the friction figures are a share of.
    double peakForce() const;
    // Where the actuator rests with no current: spring against weight, within the end stops.
    double restPosition() const;

    // One property a line, "name: value unit".
    std::string describe() const;
};
