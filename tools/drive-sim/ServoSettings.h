#pragma once

// The loop settings in SI units, derived from the drive's parameters.
struct ServoSettings {
    double positionGain = 250.0; // 1/s: velocity command per metre of error
    double velocityFeedForward = 0.0; // fraction of the move's speed added to the command
    double velocityGain = 10.0; // A per m/s of velocity error
    double velocityIntegral = 100.0; // rad/s: corner of the velocity loop's integral
    bool integralAsGain = false; // the integral term is integralGain x integral of VERR instead
    double integralGain = 0.0; // A per m/s of velocity error, per second
    double accelFeedForward = 0.0; // fraction of the move's inertial force
    double springCompensation = 0.0; // fraction of the spring force
    double frictionCompensation = 0.0; // A, in the direction of the move
    double gravityCompensation = 0.0; // A, constant
    double currentBandwidth = 3000.0; // rad/s
    double peakCurrent = 3.0; // A
    double velocityLimit = 0.8; // m/s
    double currentFilterHz = 2000.0;
    double velocityFilterHz = 1500.0;
    double acceleration = 100.0; // m/s^2 of the move profile
};
