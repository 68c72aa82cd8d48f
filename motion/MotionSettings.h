#pragma once

#include <QString>

#include <cstdint>

// The test motion that captures command: mode 0 none, 1 single, 2 alternating.
struct MotionSettings {
    std::int16_t MotionMode = 0;
    QString MotionValue1;
    QString MotionValue2;
    bool MotionToggle = false;
};

inline const QString DefaultMotionValue1 = QStringLiteral("2000");
inline const QString DefaultMotionValue2 = QStringLiteral("10000");

// What "Set Motion" makes of the two check boxes and the two target texts. Mode 1 needs
// "Trig." alone; any other ticked combination alternates and restarts at the first target.
MotionSettings decideMotion(bool trig, bool continuous, const QString &first, const QString &second,
                            const MotionSettings &current);

// A test motion is commanded only in up/down mode, with the servo on and DI1 off: anything
// else would store a target the drive cannot or must not move to.
constexpr bool testMotionAllowed(bool upDownMode, bool servoOn, bool di1On)
{
    return upDownMode && servoOn && !di1On;
}

// "WT 2 0 <target>": the target of the test motion.
QString motionCommand(const QString &target);

// "UD 1" selects DI2 up/down as the command source, "UD 0" pulse/direction.
QString sourceCommand(bool upDown);
