#include "MotionSettings.h"

MotionSettings decideMotion(bool trig, bool continuous, const QString &first, const QString &second,
                            const MotionSettings &current)
{
    MotionSettings next = current;
    if (!trig && !continuous) {
        next.MotionMode = 0;
        next.MotionValue1 = DefaultMotionValue1;
        next.MotionValue2 = DefaultMotionValue2;
        return next;
    }
    if (trig && !continuous) {
        next.MotionMode = 1;
    } else {
        next.MotionMode = 2;
        next.MotionToggle = true;
    }
    next.MotionValue1 = first;
    next.MotionValue2 = second;
    return next;
}

QString motionCommand(const QString &target)
{
    return QStringLiteral("WT 2 0 ") + target;
}

QString sourceCommand(bool upDown)
{
    return upDown ? QStringLiteral("UD 1") : QStringLiteral("UD 0");
}
