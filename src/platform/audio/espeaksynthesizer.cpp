#include "platform/audio/espeaksynthesizer.h"

#include "core/base/logging.h"
#include "core/hud/voice.h"

#include "platform/audio/pcmplayer.h"

#include <QAudioFormat>
#include <QMutex>
#include <QMutexLocker>

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <vector>

namespace {

// espeak-ng keeps one engine per process with global state: every call into it happens
// under this lock, on the worker threads.
QMutex engineLock;
// Guards only the chosen voice's name, so reading it never waits for a synthesis.
QMutex voiceLock;
QString chosenVoice;

struct Engine
{
    bool attempted = false;
    bool ready = false;
    int sampleRate = 0;
};

Engine &engine()
{
    static Engine instance;
    return instance;
}

// What the synthesis callback fills; it runs on the thread that called espeak_Synth.
struct Synthesis
{
    std::vector<short> pcm;
    const std::atomic<bool> *cancelled = nullptr;
};
thread_local Synthesis *currentSynthesis = nullptr;

int collect(short *samples, int count, espeak_EVENT *)
{
    Synthesis *synthesis = currentSynthesis;
    if (!synthesis || synthesis->cancelled->load())
        return 1; // stops the synthesis
    if (samples && count > 0)
        synthesis->pcm.insert(synthesis->pcm.end(), samples, samples + count);
    return 0;
}

QString statusText(espeak_ng_STATUS status)
{
    char message[512] = {};
    espeak_ng_GetStatusCodeMessage(status, message, sizeof message);
    return QString::fromLocal8Bit(message);
}

// Must hold engineLock.
bool ensureEngine()
{
    Engine &state = engine();
    if (state.attempted)
        return state.ready;
    state.attempted = true;

    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    // Unlike espeak_Initialize, which exits the process when its data is missing, the
    // espeak_ng calls report the failure.
    const espeak_ng_STATUS initialized = espeak_ng_Initialize(&context);
    espeak_ng_ClearErrorContext(&context);
    if (initialized != ENS_OK) {
        qCWarning(lcPlatform) << "The robotic voice is off: espeak-ng did not start:" << statusText(initialized);
        return false;
    }
    const espeak_ng_STATUS output = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr);
    if (output != ENS_OK) {
        qCWarning(lcPlatform) << "The robotic voice is off: espeak-ng has no output:" << statusText(output);
        return false;
    }
    espeak_SetSynthCallback(collect);

    espeak_VOICE variantsOnly{};
    variantsOnly.languages = "variant";
    QStringList variants;
    for (const espeak_VOICE **voice = espeak_ListVoices(&variantsOnly); voice && *voice; ++voice) {
        if ((*voice)->identifier)
            variants.append(QString::fromUtf8((*voice)->identifier));
    }
    QString voice = EspeakSynthesizer::voiceFor(variants);
    if (espeak_SetVoiceByName(voice.toUtf8().constData()) != EE_OK) {
        qCWarning(lcPlatform) << "espeak-ng refused the voice" << voice << "and keeps its default";
        voice = QStringLiteral("default");
    }
    espeak_SetParameter(espeakRATE, Voice::wordsPerMinute, 0);

    state.sampleRate = espeak_ng_GetSampleRate();
    state.ready = state.sampleRate > 0;
    if (state.ready) {
        QMutexLocker locker(&voiceLock);
        chosenVoice = voice;
    }
    return state.ready;
}

} // namespace

QStringList EspeakSynthesizer::preferredVariants()
{
    QStringList variants{QStringLiteral("robosoft")};
    for (int i = 2; i <= 8; ++i)
        variants.append(QStringLiteral("robosoft") + QString::number(i));
    variants.append({QStringLiteral("UniRobot"), QStringLiteral("klatt")});
    return variants;
}

QString EspeakSynthesizer::voiceFor(const QStringList &availableVariants)
{
    QStringList names;
    for (const QString &identifier : availableVariants)
        names.append(identifier.section(u'/', -1));
    for (const QString &preferred : preferredVariants()) {
        for (const QString &name : std::as_const(names)) {
            if (name.compare(preferred, Qt::CaseInsensitive) == 0)
                return QStringLiteral("en+") + name;
        }
    }
    return QStringLiteral("en");
}

QString EspeakSynthesizer::currentVoice()
{
    QMutexLocker locker(&voiceLock);
    return chosenVoice;
}

EspeakSynthesizer::EspeakSynthesizer(QObject *parent)
    : QObject(parent)
    , m_player(new PcmPlayer(this))
{
    connect(m_player, &PcmPlayer::finished, this, [this] { setSpeaking(false); });
    m_worker.setMaxThreadCount(1);
    m_worker.setObjectName(QStringLiteral("Voice"));
}

EspeakSynthesizer::~EspeakSynthesizer()
{
    stopSpeaking();
    // The synthesis in flight stops at its next piece; its result, posted to this object,
    // is dropped with it.
    m_worker.waitForDone();
}

void EspeakSynthesizer::stopSpeaking()
{
    ++m_phrase;
    if (m_cancelSynthesis) {
        m_cancelSynthesis->store(true);
        m_cancelSynthesis.reset();
    }
    m_player->stop();
    setSpeaking(false);
}

void EspeakSynthesizer::startSpeaking(const QString &phrase)
{
    if (phrase.trimmed().isEmpty())
        return;
    stopSpeaking();
    const quint64 id = m_phrase;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_cancelSynthesis = cancelled;
    setSpeaking(true);

    m_worker.start([this, id, cancelled, text = phrase.toUtf8()] {
        Synthesis synthesis;
        synthesis.cancelled = cancelled.get();
        int sampleRate = 0;
        {
            QMutexLocker locker(&engineLock);
            if (!cancelled->load() && ensureEngine()) {
                sampleRate = engine().sampleRate;
                currentSynthesis = &synthesis;
                const espeak_ERROR result = espeak_Synth(text.constData(), size_t(text.size()) + 1, 0, POS_CHARACTER, 0,
                                                         espeakCHARS_UTF8, nullptr, nullptr);
                currentSynthesis = nullptr;
                if (result != EE_OK && !cancelled->load())
                    qCWarning(lcPlatform) << "espeak-ng could not speak a phrase, error" << result;
            }
        }
        QByteArray pcm;
        if (!cancelled->load() && sampleRate > 0)
            pcm = QByteArray(reinterpret_cast<const char *>(synthesis.pcm.data()),
                             qsizetype(synthesis.pcm.size() * sizeof(short)));
        QMetaObject::invokeMethod(
            this, [this, id, pcm, sampleRate] { play(id, pcm, sampleRate); }, Qt::QueuedConnection);
    });
}

void EspeakSynthesizer::play(quint64 phrase, const QByteArray &pcm, int sampleRate)
{
    if (phrase != m_phrase)
        return; // cut off while it was being synthesised
    m_cancelSynthesis.reset();
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!m_player->play(pcm, format))
        setSpeaking(false);
}

void EspeakSynthesizer::setSpeaking(bool speaking)
{
    if (m_speaking == speaking)
        return;
    m_speaking = speaking;
    Q_EMIT speakingChanged(speaking);
}
