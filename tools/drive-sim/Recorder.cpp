#include "Recorder.h"

#include <algorithm>

Recorder::Recorder(Variant variant)
    : m_variant(variant),
      m_firstSamples(static_cast<std::size_t>(samplesPerChannel()), 0),
      m_secondSamples(static_cast<std::size_t>(samplesPerChannel()), 0)
{
}

bool Recorder::setChannels(int first, int second)
{
    if (first < 1 || first > ChannelCount || second < 1 || second > ChannelCount)
        return false;
    m_first = first;
    m_second = second;
    return true;
}

void Recorder::arm(int intervalCode)
{
    m_intervalSteps = std::max(intervalCode, 1) * StepsPerIntervalUnit;
    std::fill(m_firstSamples.begin(), m_firstSamples.end(), 0);
    std::fill(m_secondSamples.begin(), m_secondSamples.end(), 0);
    m_stored = 0;
    m_countdown = 0;
    m_recording = true;
}

bool Recorder::sampleDue()
{
    if (!m_recording)
        return false;
    if (m_countdown > 0) {
        --m_countdown;
        return false;
    }
    m_countdown = m_intervalSteps - 1;
    return true;
}

void Recorder::store(std::int32_t first, std::int32_t second)
{
    if (!m_recording || m_stored >= samplesPerChannel())
        return;
    m_firstSamples[static_cast<std::size_t>(m_stored)] = first;
    m_secondSamples[static_cast<std::size_t>(m_stored)] = second;
    ++m_stored;
    if (m_stored == samplesPerChannel())
        m_recording = false;
}

std::vector<std::int32_t> Recorder::record() const
{
    std::vector<std::int32_t> values(m_firstSamples);
    values.insert(values.end(), m_secondSamples.begin(), m_secondSamples.end());
    return values;
}
