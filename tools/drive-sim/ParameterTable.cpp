#include "ParameterTable.h"

#include <algorithm>

namespace {
// Units: positions in counts of 1 um, speeds in mm/s (= counts/ms) unless noted, currents
// in mA. The defaults settle a 8 mm move in about 30 ms without overshoot.
const std::vector<ParameterInfo> &table()
{
    static const std::vector<ParameterInfo> parameters {
        { 0, 0, "KPP", 0, 20000, 250, true, true }, // position gain, 1/s
        { 0, 1, "KFV", 0, 100, 50, true, true }, // velocity feed-forward, %
        { 0, 2, "KVP", 0, 2000, 100, true, true }, // velocity gain, 0.1 A per m/s
        { 0, 3, "KVI", 0, 2000, 100, true, true }, // velocity integral corner, rad/s
        { 0, 4, "KVV", 0, 100, 0, true, true }, // acceleration feed-forward, %
        { 0, 5, "KFS", 0, 100, 0, true, true }, // spring compensation, %
        { 0, 6, "KFD", 0, 500, 0, true, true }, // friction compensation, mA
        { 0, 7, "KGC", -2000, 2000, 0, true, true }, // gravity compensation, mA
        { 1, 0, "VCW", 100, 12000, 3000, true, true }, // current loop bandwidth, rad/s
        { 1, 1, "VIP", 0, 5000, 3000, true, true }, // peak current, mA
        { 1, 2, "VPX", 10, 32767, 1000, true, true }, // position error limit, counts
        { 1, 3, "VT1", 10, 10000, 1000, true, true }, // overload time constant, ms
        { 1, 4, "VER", 112, 112, 112, false, false }, // firmware revision
        { 1, 5, "VSV", 10, 20000, 8000, true, true }, // velocity limit, 0.1 mm/s
        { 1, 6, "VCF", 50, 10000, 2000, true, true }, // current command filter, Hz
        { 1, 7, "VPK", 100, 15000, 14000, true, true }, // travel limit of targets, counts
        { 1, 8, "VI2", 100, 5000, 1000, true, true }, // continuous current, mA
        { 1, 9, "VAC", 1, 500, 100, true, true }, // move acceleration, m/s^2
        { 1, 10, "VCF2", 50, 10000, 1500, true, true }, // velocity feedback filter, Hz
        { 1, 11, "VT2", 0, 1000, 2, true, true }, // in-position settle time, ms
        { 2, 0, "UP0", -32768, 32767, 0, true, true }, // up target, counts
        { 2, 1, "UP1", 1, 2000, 400, true, true }, // up move speed, mm/s
        { 3, 0, "DN0", -32768, 32767, 0, true, true }, // down target, counts
        { 3, 1, "DN1", 1, 2000, 400, true, true }, // down move speed, mm/s
        { 4, 0, "TH0", 0, 32767, 20, true, true }, // in-position window, counts
        { 4, 1, "TH1", -32768, 32767, 5000, true, true }, // DO0 switching position, counts
        { 9, 4, "RIV", 1, 40, 10, false, true }, // recorder interval, 195.3 us units
    };
    return parameters;
}
} // namespace

ParameterTable::ParameterTable()
{
    for (const ParameterInfo &info : table())
        m_values.push_back(info.initial);
}

const std::vector<ParameterInfo> &ParameterTable::all()
{
    return table();
}

std::optional<std::size_t> ParameterTable::indexOf(int group, int item)
{
    // The models look parameters up every step: a table by address, made once.
    constexpr int Groups = 10, Items = 16;
    static const std::array<int, Groups *Items> index = [] {
        std::array<int, Groups * Items> at;
        at.fill(-1);
        const auto &parameters = table();
        for (std::size_t i = 0; i < parameters.size(); ++i)
            at[std::size_t(parameters[i].group * Items + parameters[i].item)] = int(i);
        return at;
    }();
    if (group < 0 || group >= Groups || item < 0 || item >= Items)
        return std::nullopt;
    const int i = index[std::size_t(group * Items + item)];
    return i < 0 ? std::nullopt : std::optional<std::size_t>(std::size_t(i));
}

std::int32_t ParameterTable::value(int group, int item) const
{
    const auto index = indexOf(group, item);
    return index ? m_values[*index] : 0;
}

std::int32_t ParameterTable::write(std::size_t index, std::int64_t requested)
{
    const ParameterInfo &info = table()[index];
    if (info.writable) {
        m_values[index] = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(requested, info.minimum, info.maximum));
    }
    return m_values[index];
}
