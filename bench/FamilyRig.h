#pragma once

#include "DriveProcedures.h"
#include "Plant.h"
#include "SimulatedLine.h"
#include "TuneRules.h"

#include <cstdint>
#include <optional>

// A simulated drive at station 1 on one plant (the default plant without a seed): up/down mode,
// the servo on, these gains, holding at 0 counts where the step has room both ways whatever the
// plant's weight and spring. Rigs of the same repeat start alike, so a measurement depends on
// nothing else; another repeat waits a little longer first, and so meets the plant's noise and
// friction at another moment.
struct FamilyRig {
    static constexpr int Station = 1;
    static constexpr std::int32_t Home = 0;
    static constexpr std::int64_t SettleUs = 500000;
    static constexpr std::int64_t RepeatUs = 137300;

    FamilyRig(std::optional<std::uint32_t> seed, const Gains &gains, int repeat = 0)
        : line({ Station }), link(line, line), drive(link)
    {
        ::Station &s = station();
        if (seed)
            s.setPlant(Plant::family(*seed));
        s.setUpDownMode(true);
        for (int g : TuneGain::All)
            s.writeParameter(*ParameterTable::indexOf(Param::Gains, g), gains[std::size_t(g)]);
        s.setServoInput(true);
        s.placeActuator(Home);
        line.open();
        drive.address(Station);
        line.advanceUs(SettleUs + repeat * RepeatUs);
    }
    ::Station &station() { return *line.station(Station); }

    SimulatedLine line;
    CommandExchange link;
    DriveProcedures drive;
};
