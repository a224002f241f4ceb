#include "sampleconverter.h"

#include "speech/transcriptsegment.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// The kernel spans this many zero crossings of the sinc each side: a stop-band well below
// what speech recognition can hear, at about a hundred taps per output sample from 48 kHz.
constexpr double zeroCrossings = 16.0;
// Where the pass band ends, as a share of the lower of the two Nyquist frequencies; the
// rest is the transition band that keeps aliasing out.
constexpr double passBand = 0.92;
// Kernel resolution between two input samples; linear interpolation between entries.
constexpr int tableSteps = 512;

float sampleAt(const char *sample, QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return (float(*reinterpret_cast<const quint8 *>(sample)) - 128.0f) / 128.0f;
    case QAudioFormat::Int16: {
        qint16 value;
        std::memcpy(&value, sample, sizeof value);
        return float(value) / 32768.0f;
    }
    case QAudioFormat::Int32: {
        qint32 value;
        std::memcpy(&value, sample, sizeof value);
        return float(double(value) / 2147483648.0);
    }
    case QAudioFormat::Float: {
        float value;
        std::memcpy(&value, sample, sizeof value);
        return saneSample(value);
    }
    default:
        return 0.0f;
    }
}

} // namespace

bool SampleConverter::canConvert(const QAudioFormat &format)
{
    const QAudioFormat::SampleFormat type = format.sampleFormat();
    return format.sampleRate() > 0 && format.channelCount() > 0
        && (type == QAudioFormat::UInt8 || type == QAudioFormat::Int16 || type == QAudioFormat::Int32
            || type == QAudioFormat::Float);
}

SampleConverter::SampleConverter(const QAudioFormat &input)
    : m_valid(canConvert(input))
    , m_input(input)
{
    if (!m_valid)
        return;
    m_bytesPerFrame = input.bytesPerFrame();
    m_resampling = input.sampleRate() != outputRate;
    if (!m_resampling)
        return;

    // Cut-off relative to the input's Nyquist frequency: below the output's Nyquist when
    // going down, below the input's own when going up.
    const double cutoff = passBand * std::min(1.0, double(outputRate) / double(input.sampleRate()));
    m_halfWidth = zeroCrossings / cutoff;
    const auto entries = qsizetype(std::ceil(m_halfWidth * tableSteps)) + 2;
    m_table.resize(size_t(entries));
    for (qsizetype i = 0; i < entries; ++i) {
        const double x = double(i) / tableSteps;
        if (x >= m_halfWidth) {
            m_table[size_t(i)] = 0.0f;
            continue;
        }
        const double argument = std::numbers::pi * cutoff * x;
        const double sinc = x == 0.0 ? 1.0 : std::sin(argument) / argument;
        const double t = x / m_halfWidth; // Blackman window over -1..1
        const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * t) + 0.08 * std::cos(2.0 * std::numbers::pi * t);
        m_table[size_t(i)] = float(cutoff * sinc * window);
    }
    // Silence before the first sample, so the first output is centred on the first input
    // sample without a delay.
    const auto padding = qint64(std::ceil(m_halfWidth));
    m_mono.assign(size_t(padding), 0.0f);
    m_bufferStart = -padding;
}

void SampleConverter::convert(const char *bytes, qsizetype size, std::vector<float> &output)
{
    if (!m_valid || size <= 0)
        return;
    if (!m_partialFrame.isEmpty()) {
        const qsizetype missing = std::min(m_bytesPerFrame - m_partialFrame.size(), size);
        m_partialFrame.append(bytes, missing);
        bytes += missing;
        size -= missing;
        if (m_partialFrame.size() < m_bytesPerFrame)
            return;
        mixDown(m_partialFrame.constData(), 1);
        m_partialFrame.clear();
    }
    const qsizetype frames = size / m_bytesPerFrame;
    mixDown(bytes, frames);
    m_partialFrame.append(bytes + frames * m_bytesPerFrame, size - frames * m_bytesPerFrame);

    if (!m_resampling) {
        output.insert(output.end(), m_mono.begin(), m_mono.end());
        m_mono.clear();
        return;
    }
    resample(output);
}

void SampleConverter::mixDown(const char *frames, qsizetype frameCount)
{
    const int channels = m_input.channelCount();
    const int bytesPerSample = m_input.bytesPerSample();
    const QAudioFormat::SampleFormat type = m_input.sampleFormat();
    m_mono.reserve(m_mono.size() + size_t(frameCount));
    for (qsizetype frame = 0; frame < frameCount; ++frame) {
        const char *sample = frames + frame * m_bytesPerFrame;
        float sum = 0.0f;
        for (int channel = 0; channel < channels; ++channel)
            sum += sampleAt(sample + channel * bytesPerSample, type);
        m_mono.push_back(sum / float(channels));
    }
}

float SampleConverter::kernel(double distance) const
{
    const double position = std::abs(distance) * tableSteps;
    const auto index = size_t(position);
    if (index + 1 >= m_table.size())
        return 0.0f;
    const auto fraction = float(position - double(index));
    return m_table[index] + (m_table[index + 1] - m_table[index]) * fraction;
}

void SampleConverter::resample(std::vector<float> &output)
{
    const qint64 inputRate = m_input.sampleRate();
    const qint64 available = m_bufferStart + qint64(m_mono.size()); // one past the last input
    while (true) {
        const qint64 numerator = m_nextOutput * inputRate;
        const qint64 whole = numerator / outputRate;
        const double centre = double(whole) + double(numerator % outputRate) / double(outputRate);
        const auto last = qint64(std::floor(centre + m_halfWidth));
        if (last >= available)
            break;
        const auto first = qint64(std::ceil(centre - m_halfWidth));
        double sum = 0.0;
        for (qint64 k = first; k <= last; ++k)
            sum += double(m_mono[size_t(k - m_bufferStart)]) * double(kernel(double(k) - centre));
        output.push_back(float(sum));
        ++m_nextOutput;
    }
    // Keep only what the next output still reaches back to.
    const qint64 nextCentre = m_nextOutput * inputRate / outputRate;
    const qint64 keepFrom = std::max(m_bufferStart, nextCentre - qint64(std::ceil(m_halfWidth)) - 1);
    m_mono.erase(m_mono.begin(), m_mono.begin() + (keepFrom - m_bufferStart));
    m_bufferStart = keepFrom;
}
