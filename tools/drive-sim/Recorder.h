#pragma once

#include <cstdint>
#include <vector>

// The drive's two-channel recorder. Armed, it takes a sample of both channels at once and
// then one every interval until each channel holds its length; the record then stays
// until the next arming.
class Recorder final {
public:
    enum class Variant { Classic, New }; // 256 or 128 samples a channel

    static constexpr int ChannelCount = 8; // 1-7 the variables, 8 the DIO word
    static constexpr int StepsPerIntervalUnit = 4;

    explicit Recorder(Variant variant);

    Variant variant() const { return m_variant; }
    int samplesPerChannel() const { return m_variant == Variant::New ? 128 : 256; }

    bool setChannels(int first, int second);
    int firstChannel() const { return m_first; }
    int secondChannel() const { return m_second; }

    void arm(int intervalCode);
    void disarm() { m_recording = false; }
    bool recording() const { return m_recording; }
    bool complete() const { return m_stored == samplesPerChannel(); }

    // Called once per model step; true when a sample is due now.
    bool sampleDue();
    void store(std::int32_t first, std::int32_t second);

    // First channel's samples, then the second's; samples not yet taken are 0.
    std::vector<std::int32_t> record() const;

private:
    Variant m_variant;
    int m_first = 1;
    int m_second = 2;
    bool m_recording = false;
    int m_intervalSteps = 40;
    int m_countdown = 0;
    int m_stored = 0;
    std::vector<std::int32_t> m_firstSamples;
    std::vector<std::int32_t> m_secondSamples;
};
