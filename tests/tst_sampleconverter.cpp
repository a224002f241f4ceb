#include "platform/sampleconverter.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QAudioFormat formatOf(int rate, int channels, QAudioFormat::SampleFormat type)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(type);
    return format;
}

void put(QByteArray &bytes, QAudioFormat::SampleFormat type, double value)
{
    switch (type) {
    case QAudioFormat::UInt8: {
        const auto sample = quint8(std::lround(std::clamp(value * 128.0 + 128.0, 0.0, 255.0)));
        bytes.append(char(sample));
        break;
    }
    case QAudioFormat::Int16: {
        const auto sample = qint16(std::lround(std::clamp(value * 32768.0, -32768.0, 32767.0)));
        bytes.append(reinterpret_cast<const char *>(&sample), sizeof sample);
        break;
    }
    case QAudioFormat::Int32: {
        const auto sample = qint32(std::llround(std::clamp(value * 2147483648.0, -2147483648.0, 2147483647.0)));
        bytes.append(reinterpret_cast<const char *>(&sample), sizeof sample);
        break;
    }
    case QAudioFormat::Float: {
        const auto sample = float(value);
        bytes.append(reinterpret_cast<const char *>(&sample), sizeof sample);
        break;
    }
    default:
        break;
    }
}

// `seconds` of a sine in `format`; channel c carries the tone times gains[c].
QByteArray tone(const QAudioFormat &format, double seconds, double frequency, double amplitude,
                const QList<double> &gains)
{
    QByteArray bytes;
    const auto frames = qsizetype(seconds * format.sampleRate());
    for (qsizetype i = 0; i < frames; ++i) {
        const double value = amplitude * std::sin(2.0 * M_PI * frequency * double(i) / format.sampleRate());
        for (int c = 0; c < format.channelCount(); ++c)
            put(bytes, format.sampleFormat(), value * gains.value(c, 1.0));
    }
    return bytes;
}

std::vector<float> convertWhole(const QAudioFormat &format, const QByteArray &bytes)
{
    SampleConverter converter(format);
    std::vector<float> output;
    converter.convert(bytes.constData(), bytes.size(), output);
    return output;
}

double rms(const std::vector<float> &samples, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return std::sqrt(sum / double(to - from));
}

} // namespace

class TestSampleConverter final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toneKeepsItsPitchLoudnessAndLength_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QAudioFormat::SampleFormat>("type");
        QTest::addColumn<QList<double>>("gains");
        QTest::addColumn<double>("mixedGain");

        QTest::newRow("48 kHz stereo 16-bit") << 48000 << 2 << QAudioFormat::Int16 << QList<double>{1.0, 1.0} << 1.0;
        QTest::newRow("one channel silent is averaged in")
            << 48000 << 2 << QAudioFormat::Float << QList<double>{1.0, 0.0} << 0.5;
        QTest::newRow("44.1 kHz mono float") << 44100 << 1 << QAudioFormat::Float << QList<double>{1.0} << 1.0;
        QTest::newRow("16 kHz stereo 32-bit needs no resampling")
            << 16000 << 2 << QAudioFormat::Int32 << QList<double>{1.0, 1.0} << 1.0;
        QTest::newRow("16 kHz mono float passes through")
            << 16000 << 1 << QAudioFormat::Float << QList<double>{1.0} << 1.0;
        QTest::newRow("8 kHz mono 16-bit is raised") << 8000 << 1 << QAudioFormat::Int16 << QList<double>{1.0} << 1.0;
        QTest::newRow("22.05 kHz mono 8-bit") << 22050 << 1 << QAudioFormat::UInt8 << QList<double>{1.0} << 1.0;
        QTest::newRow("96 kHz six channels") << 96000 << 6 << QAudioFormat::Float
                                             << QList<double>{1.0, 1.0, 1.0, 1.0, 1.0, 1.0} << 1.0;
    }

    void toneKeepsItsPitchLoudnessAndLength()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QAudioFormat::SampleFormat, type);
        QFETCH(QList<double>, gains);
        QFETCH(double, mixedGain);

        const QAudioFormat format = formatOf(rate, channels, type);
        constexpr double seconds = 2.0;
        constexpr double frequency = 440.0;
        constexpr double amplitude = 0.5;
        const std::vector<float> output = convertWhole(format, tone(format, seconds, frequency, amplitude, gains));

        // Two seconds give 32 000 frames, less the few the filter still waits for at the end.
        QVERIFY2(output.size() <= 32000 && output.size() >= 31950, qPrintable(QString::number(output.size())));
        // The same sine, sampled at 16 kHz, sample for sample (8-bit input is coarser). The
        // first 20 ms are left out: the tone starts abruptly there, which no band-limited
        // signal can follow.
        const double tolerance = type == QAudioFormat::UInt8 ? 0.02 : 0.003;
        double worst = 0.0;
        for (size_t i = 320; i < output.size(); ++i) {
            const double expected = mixedGain * amplitude * std::sin(2.0 * M_PI * frequency * double(i) / 16000.0);
            worst = std::max(worst, std::abs(double(output[i]) - expected));
        }
        QVERIFY2(worst < tolerance, qPrintable(QStringLiteral("off by up to %1").arg(worst)));
    }

    void piecesGiveTheSameFramesAsTheWhole_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QAudioFormat::SampleFormat>("type");
        QTest::newRow("48 kHz stereo 16-bit") << 48000 << 2 << QAudioFormat::Int16;
        QTest::newRow("44.1 kHz mono 32-bit") << 44100 << 1 << QAudioFormat::Int32;
        QTest::newRow("16 kHz stereo float") << 16000 << 2 << QAudioFormat::Float;
    }

    void piecesGiveTheSameFramesAsTheWhole()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QAudioFormat::SampleFormat, type);
        const QAudioFormat format = formatOf(rate, channels, type);
        const QByteArray bytes = tone(format, 1.0, 1000.0, 0.7, {1.0, -0.5});
        const std::vector<float> whole = convertWhole(format, bytes);

        // Pieces of every odd size, most of them ending inside a frame or even a sample.
        SampleConverter converter(format);
        std::vector<float> pieces;
        QRandomGenerator random(7);
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype size = std::min<qsizetype>(random.bounded(1, 3000), bytes.size() - at);
            converter.convert(bytes.constData() + at, size, pieces);
            at += size;
        }
        QCOMPARE(pieces.size(), whole.size());
        QVERIFY(pieces == whole);
    }

    void toneAboveTheNewNyquistIsFilteredOut_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("frequency");
        QTest::newRow("12 kHz at 48 kHz") << 48000 << 12000.0;
        QTest::newRow("9 kHz at 44.1 kHz") << 44100 << 9000.0;
        QTest::newRow("15 kHz at 32 kHz") << 32000 << 15000.0;
    }

    void toneAboveTheNewNyquistIsFilteredOut()
    {
        QFETCH(int, rate);
        QFETCH(double, frequency);
        // Without a low-pass filter these tones would fold back into the speech band.
        const QAudioFormat format = formatOf(rate, 1, QAudioFormat::Float);
        const std::vector<float> output = convertWhole(format, tone(format, 1.0, frequency, 0.9, {1.0}));
        QVERIFY(output.size() > 15000);
        const double level = rms(output, 200, output.size() - 200);
        QVERIFY2(level < 0.9 / std::sqrt(2.0) * 0.01, qPrintable(QStringLiteral("rms %1").arg(level)));
    }

    void integerSamplesAreScaledToPlusMinusOne()
    {
        QByteArray bytes;
        for (qint16 value : {qint16(-32768), qint16(0), qint16(16384)})
            bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
        QCOMPARE(convertWhole(formatOf(16000, 1, QAudioFormat::Int16), bytes), (std::vector<float>{-1.0f, 0.0f, 0.5f}));

        const QByteArray unsignedBytes("\x00\x80\xc0", 3);
        QCOMPARE(convertWhole(formatOf(16000, 1, QAudioFormat::UInt8), unsignedBytes),
                 (std::vector<float>{-1.0f, 0.0f, 0.5f}));

        QByteArray wide;
        for (qint32 value : {std::numeric_limits<qint32>::min(), qint32(1 << 30)})
            wide.append(reinterpret_cast<const char *>(&value), sizeof value);
        QCOMPARE(convertWhole(formatOf(16000, 1, QAudioFormat::Int32), wide), (std::vector<float>{-1.0f, 0.5f}));
    }

    void unreadableFormatConvertsNothing_data()
    {
        QTest::addColumn<QAudioFormat>("format");
        QTest::newRow("no sample type") << formatOf(48000, 2, QAudioFormat::Unknown);
        QTest::newRow("no rate") << formatOf(0, 1, QAudioFormat::Float);
        QTest::newRow("no channels") << formatOf(16000, 0, QAudioFormat::Float);
    }

    void unreadableFormatConvertsNothing()
    {
        QFETCH(QAudioFormat, format);
        QVERIFY(!SampleConverter::canConvert(format));
        SampleConverter converter(format);
        QVERIFY(!converter.isValid());
        std::vector<float> output;
        const QByteArray bytes(4096, '\x10');
        converter.convert(bytes.constData(), bytes.size(), output);
        QVERIFY(output.empty());
    }
};

QTEST_GUILESS_MAIN(TestSampleConverter)

#include "tst_sampleconverter.moc"
