#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// What a span picked in "Interval (ms)" means to the recorder.
struct IntervalSetting {
    QString code; // sent as "WT 9 4 <code>"
    std::int32_t waitMs; // how long a capture waits for the record
};

// The five spans "100".."500" (exact text); nothing for any other text. The "VCRR new"
// recorder samples twice as fast into half the record, hence its doubled codes.
std::optional<IntervalSetting> intervalSetting(const QString &span, bool vcrrNew);

// Values in one record, both channels together.
constexpr std::int16_t recordLength(bool vcrrNew)
{
    return vcrrNew ? 256 : 512;
}

// Horizontal plot units between two samples: the "VCRR new" record has half as many.
constexpr int sampleStep(bool vcrrNew)
{
    return vcrrNew ? 2 : 1;
}

// Box i records channel i + 1: the seven variables, then "DIO", the status word's bits.
QString channelName(int box);
// The box of a channel name ("PFBK", "dio"); nothing for any other text.
std::optional<int> channelBox(const QString &name);

// " 1 4" for boxes 0 and 3: one blank and the channel number (box + 1) per ticked box, in
// channel order.
QString channelList(const std::array<bool, 8> &ticked);

// The recorder's commands: its interval, its channels, arming it and uploading the record.
QString intervalCommand(const IntervalSetting &interval);
QString channelCommand(const std::array<bool, 8> &ticked);
inline const QString ArmRecorderCommand = QStringLiteral("RN 0 1");
inline const QString UploadCommand = QStringLiteral("RO");

// Graph1's tooltip: which colour is which trace.
QString traceLegend(bool dio);

// The rule that keeps at most two channel boxes ticked. Indices are box indices; 10 is none.
struct ChannelSelection {
    std::int16_t ChannelCount = 0;
    std::int16_t FirstChannel = 10;
    std::int16_t SecondChannel = 0;

    enum class BoxChange { None, DisableUnticked, EnableAll };
    struct Effect {
        BoxChange boxes = BoxChange::None;
        // Set when "Setup" must change: true for the second tick, false when one of two
        // ticked boxes is cleared. Either change withdraws Start and Stop and stops captures.
        std::optional<bool> setupEnabled;
    };

    // Box `index` now shows `ticked`.
    Effect toggle(int index, bool ticked);
};
