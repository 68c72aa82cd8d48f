#pragma once

// The drive's inputs that only the bench, not the console, can change.
struct StationInputs {
    bool servoOn = false;
    bool emergencyStop = false;
    bool di1 = false;
    bool di2 = false;
    bool bond = false;
    bool btype = false;
};
