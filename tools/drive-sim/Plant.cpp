#include "Plant.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <random>

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double DefaultPeakCurrent = 3.0; // A, VIP as delivered

// Draws from the seed's stream. Only the engine's output is used, which the language pins
// down, so a seed picks the same plant with any standard library.
class Draw final {
public:
    explicit Draw(std::uint32_t seed) : m_engine(seed) { }
    double unit() { return double(m_engine() >> 11) * 0x1.0p-53; } // [0, 1)
    double between(double low, double high) { return low + (high - low) * unit(); }
    // Evenly spread on a log scale, for properties that span decades.
    double logBetween(double low, double high) { return low * std::pow(high / low, unit()); }
    int integer(int low, int high) { return low + int(unit() * (high - low + 1)); }

private:
    std::mt19937_64 m_engine;
};

std::string line(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string line(const char *format, ...)
{
    char text[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text) + '\n';
}
} // namespace

Plant Plant::family(std::uint32_t seed)
{
    Draw d(seed);
    Plant p;
    p.seed = seed;
    // Every property is drawn in this order whether it is used or not, so that adding a
    // property at the end leaves the others of a seed as they were.
    const bool load = d.unit() < 0.8;
    const double massRatio = d.logBetween(0.1, 2);
    p.resonanceHz = d.logBetween(200, 3000);
    p.dampingRatio = d.logBetween(0.005, 0.1);
    p.loadMass = load ? massRatio * p.coilMass : 0;
    if (!load)
        p.resonanceHz = p.dampingRatio = 0;

    p.encoderFeedback = true;
    p.encoderNoise = d.between(0, 3);
    p.quantisation = d.integer(1, 4);
    p.currentNoise = d.between(0, 0.03);
    p.delaySamples = d.integer(0, FamilyDelayLimit);

    p.amplifierPeak = d.between(2, 5);
    p.supplyVoltage = d.between(12, 48);
    const double coulombShare = d.between(0, 0.05);
    p.coulombFriction = coulombShare * p.peakForce();
    p.stiction = d.between(coulombShare, 0.05) * p.peakForce();
    p.viscousDamping = d.logBetween(0.2, 5);
    p.gravity = d.between(0, 1) * 9.81;
    p.springRate = d.between(0, 2) * 100.0;

    for (double &scale : p.gainScale)
        scale = d.logBetween(0.25, 4);
    p.integralAsGain = d.unit() < 0.5;
    return p;
}

double Plant::jointRate() const
{
    if (!hasLoad())
        return 0;
    const double w = 2 * Pi * resonanceHz;
    const double reduced = coilMass * loadMass / totalMass();
    return reduced * w * w;
}

double Plant::jointDamping() const
{
    if (!hasLoad())
        return 0;
    const double reduced = coilMass * loadMass / totalMass();
    return 2 * dampingRatio * 2 * Pi * resonanceHz * reduced;
}

double Plant::peakForce() const
{
    return forceConstant * (amplifierPeak > 0 ? amplifierPeak : DefaultPeakCurrent);
}

double Plant::restPosition() const
{
    const double weight = totalMass() * gravity;
    if (springRate <= 0)
        return weight > 0 ? -travel : 0;
    return std::clamp(-weight / springRate, -travel, travel);
}

std::string Plant::describe() const
{
    std::string text = seed ? line("plant: family seed %u", *seed) : line("plant: default");
    text += line("coil: %.0f g, %.1f N/A, %.1f ohm, %.1f mH", coilMass * 1e3, forceConstant,
                 coilResistance, coilInductance * 1e3);
    if (hasLoad())
        text += line("load: %.0f g (mass ratio %.2f) on a joint resonating at %.0f Hz, damping "
                     "ratio %.3f",
                     loadMass * 1e3, massRatio(), resonanceHz, dampingRatio);
    else
        text += line("load: none");
    if (encoderFeedback)
        text += line("encoder: %d count%s a step, noise %.2f counts rms, delay %d loop sample%s",
                     quantisation, quantisation == 1 ? "" : "s", encoderNoise, delaySamples,
                     delaySamples == 1 ? "" : "s");
    else
        text += line("encoder: the loops see the true motion");
    text += line("current sensor noise: %.1f mA rms", currentNoise * 1e3);
    text += line("friction: Coulomb %.3f N (%.2f %% of the peak force, %.1f N), stiction %.3f N "
                 "(%.2f %%), viscous %.2f N s/m",
                 coulombFriction, 100 * coulombFriction / peakForce(), peakForce(), stiction,
                 100 * stiction / peakForce(), viscousDamping);
    text += line("gravity: %.2f m/s^2; flexure: %.0f N/m; rests at %.0f counts", gravity,
                 springRate, restPosition() * 1e6);
    if (amplifierPeak > 0)
        text += line("limits: amplifier %.2f A (and VIP), supply %.1f V", amplifierPeak,
                     supplyVoltage);
    else
        text += line("limits: VIP, supply %.1f V", supplyVoltage);
    text += line("gains: KPP x %.3f, KVP x %.3f, KVI x %.3f as %s", gainScale[PositionGain],
                 gainScale[VelocityGain], gainScale[IntegralGain],
                 integralAsGain ? "an integral gain" : "a corner frequency");
    return text;
}
