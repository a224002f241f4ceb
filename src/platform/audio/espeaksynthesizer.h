#pragma once

#include "core/desktop/speechsynthesizer.h"

#include <QObject>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <memory>

class PcmPlayer;

// The robotic voice: espeak-ng synthesises each phrase on a worker thread (its synchronous
// mode hands back 16-bit PCM), and Qt Multimedia plays it on the default output device.
//
// Main thread only. espeak-ng is one engine per process, so every instance shares it and
// phrases are synthesised one at a time. The voice is chosen on first use and kept for the
// life of the process. Without espeak-ng's data or without an output device nothing is
// spoken and nothing fails; a failure of espeak-ng itself is logged once.
class EspeakSynthesizer final : public QObject, public SpeechSynthesizer
{
    Q_OBJECT
    Q_PROPERTY(bool speaking READ isSpeaking NOTIFY speakingChanged)

public:
    // The espeak-ng variants tried in order on top of the English voice.
    static QStringList preferredVariants();
    // The voice name espeak-ng is given, from the variants it lists (their identifiers,
    // such as "!v/robosoft"): "en+<variant>" for the first preferred one found, else "en".
    static QString voiceFor(const QStringList &availableVariants);

    explicit EspeakSynthesizer(QObject *parent = nullptr);
    ~EspeakSynthesizer() override;

    // Cuts off the phrase being played and any phrase still being synthesised.
    void stopSpeaking() override;
    void startSpeaking(const QString &phrase) override;

    // From the start of a phrase until its sound has played out or been cut off.
    bool isSpeaking() const { return m_speaking; }
    // The voice espeak-ng speaks with; empty before the first phrase or without espeak-ng.
    static QString currentVoice();

Q_SIGNALS:
    void speakingChanged(bool speaking);

private:
    void play(quint64 phrase, const QByteArray &pcm, int sampleRate);
    void setSpeaking(bool speaking);

    // Identifies the phrase that may still be heard; a result for an older one is dropped.
    quint64 m_phrase = 0;
    std::shared_ptr<std::atomic<bool>> m_cancelSynthesis;
    bool m_speaking = false;
    PcmPlayer *m_player;
    QThreadPool m_worker;
};
