#pragma once

#include <QAudioFormat>
#include <QByteArray>

#include <vector>

// Turns a capture device's raw sample bytes into 16 kHz mono float frames, piece by piece:
// channels are averaged, integers scaled to -1..1, and the rate changed by a windowed-sinc
// resampler whose history carries over from one piece to the next, so cutting the stream
// into pieces changes nothing in the result. A partial frame at the end of a piece waits
// for the rest in the next one.
//
// Not thread-safe; one converter serves one capture from one thread. Made anew for every
// recording.
class SampleConverter final
{
public:
    static constexpr int outputRate = 16000;

    explicit SampleConverter(const QAudioFormat &input);

    // False for a format it cannot read (no rate, no channels, an unknown sample type).
    bool isValid() const { return m_valid; }
    // Whether `format` is one the converter reads.
    static bool canConvert(const QAudioFormat &format);

    // Appends the frames that `bytes` completes to `output`.
    void convert(const char *bytes, qsizetype size, std::vector<float> &output);

private:
    void mixDown(const char *frames, qsizetype frameCount);
    void resample(std::vector<float> &output);
    float kernel(double distance) const;

    bool m_valid = false;
    QAudioFormat m_input;
    qsizetype m_bytesPerFrame = 0;
    QByteArray m_partialFrame;
    std::vector<float> m_mono; // the mixed-down input not yet consumed

    // Resampling: output frame n is centred on input position n * inputRate / outputRate,
    // kept as an exact fraction so no error accumulates over a long recording.
    bool m_resampling = false;
    double m_halfWidth = 0.0; // input samples each side of the centre that contribute
    std::vector<float> m_table; // one side of the kernel, tableSteps entries per input sample
    qint64 m_nextOutput = 0;
    qint64 m_bufferStart = 0; // absolute input index of m_mono[0]
};
