#pragma once

#include <QStringList>

// The tuner on a seeded family of simulated plants, in simulated time through the simulator's
// library: each plant's best gains by a grid search with the tuner's own measuring, four
// detuned starts made from them, a tuning run from each, and how the results compare.
namespace TuneFamily {

// Runs the family as `arguments` (the program's, "--family" among them) ask; the exit code is
// 0 when every run met the target without an alarm, 1 when one did not, 2 on a usage error.
int main(const QStringList &arguments);

} // namespace TuneFamily
