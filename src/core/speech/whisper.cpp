#include "core/speech/whisper.h"

#include "core/base/logging.h"
#include "core/base/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QThreadPool>

#include <ggml-backend.h>
#include <link.h>

#include <limits>
#include <mutex>
#include <shared_mutex>

namespace {

// whisper.cpp reads past the end of buffers under 201 samples; 0.1 s holds no word anyway.
constexpr qsizetype shortestSpeech = engineSampleRate / 10;

// whisper.cpp and ggml log through one hook; their lines go to our category at debug
// level, so they are quiet unless asked for.
void forwardLog(ggml_log_level level, const char *text, void *)
{
    if (level == GGML_LOG_LEVEL_ERROR || level == GGML_LOG_LEVEL_WARN)
        qCDebug(lcSpeech).noquote() << "whisper.cpp:" << QByteArray(text).trimmed();
    else
        qCDebug(lcSpeech).noquote() << QByteArray(text).trimmed();
}

// The processor variant of ggml's code that was loaded ("icelake", "haswell", …): the one
// libggml-cpu-*.so in this process. Empty when the code is built into the program.
QString loadedProcessorVariant()
{
    QString variant;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *found) {
            const QString name = QFileInfo(QFile::decodeName(info->dlpi_name)).fileName();
            const QLatin1StringView prefix("libggml-cpu-");
            if (!name.startsWith(prefix) || !name.endsWith(u".so"))
                return 0;
            *static_cast<QString *>(found) = name.mid(prefix.size(), name.size() - prefix.size() - 3);
            return 1;
        },
        &variant);
    return variant;
}

// The engine's version and the processor code loaded, with that code's features.
QString describeEngine()
{
    QStringList features;
    if (ggml_backend_reg_t cpu = ggml_backend_reg_by_name("CPU")) {
        const auto list = reinterpret_cast<ggml_backend_get_features_t>(
            ggml_backend_reg_get_proc_address(cpu, "ggml_backend_get_features"));
        for (const ggml_backend_feature *feature = list ? list(cpu) : nullptr; feature && feature->name; ++feature) {
            if (qstrcmp(feature->value, "1") == 0)
                features << QString::fromLatin1(feature->name);
        }
    }
    const QString variant = loadedProcessorVariant();
    return QStringLiteral("whisper.cpp %1, processor code %2 (%3)")
        .arg(QString::fromLatin1(whisper_version()),
             variant.isEmpty() ? QStringLiteral("built for this machine") : QStringLiteral("for ") + variant,
             features.join(QStringLiteral(", ")));
}

// Routes the engine's log to ours and loads ggml's processor (and graphics) code from the
// first module folder that has it. A build for one machine has that code built in.
void prepareEngine()
{
    static std::once_flag once;
    std::call_once(once, [] {
        whisper_log_set(forwardLog, nullptr);
        const QStringList folders = Paths::moduleFolders();
        for (const QString &folder : folders) {
            if (!QDir(folder).entryList({QStringLiteral("libggml-cpu-*.so")}, QDir::Files).isEmpty()) {
                ggml_backend_load_all_from_path(QFile::encodeName(folder).constData());
                break;
            }
        }
        if (ggml_backend_dev_count() == 0)
            qCWarning(lcSpeech).noquote() << "The speech engine found no code to run on: no libggml-cpu-*.so in"
                                          << folders.join(QStringLiteral(", "));
        else
            qCDebug(lcSpeech).noquote() << describeEngine();
    });
}

// ggml's list of backends is a plain vector: loading the graphics code appends to it while
// another engine may be loading a model or starting a run, which read it. They share this
// lock; the load takes it alone.
std::shared_mutex backendListLock;

// The graphics card ggml found, loading its graphics code the first time: only when asked,
// since that starts the Vulkan driver, which costs time and memory, and a user may have
// turned the card off because its driver misbehaves. whisper.cpp takes the first card too.
ggml_backend_dev_t graphicsCard()
{
    prepareEngine();
    static ggml_backend_dev_t const card = []() -> ggml_backend_dev_t {
        // Asking Vulkan starts every installed driver (and LLVM with Mesa's), some 60 MB for
        // the life of the process. A card shows up as a render node, or as NVIDIA's own
        // device; without either there is none to find. Devices named to ggml may include
        // Mesa's software one, which needs neither.
        if (QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty()
            && !QFileInfo::exists(QStringLiteral("/dev/nvidia0")) && qEnvironmentVariableIsEmpty("GGML_VK_VISIBLE_DEVICES"))
            return nullptr;
        const std::unique_lock lock(backendListLock);
        for (const QString &folder : Paths::moduleFolders()) {
            const QString module = folder + QStringLiteral("/graphics/libggml-vulkan.so");
            if (!QFileInfo::exists(module))
                continue;
            if (!ggml_backend_load(QFile::encodeName(module).constData()))
                qCInfo(lcSpeech) << "No graphics card: the Vulkan driver could not be started";
            break;
        }
        for (size_t i = 0; i < ggml_backend_dev_count(); ++i) {
            ggml_backend_dev_t device = ggml_backend_dev_get(i);
            const auto type = ggml_backend_dev_type(device);
            if (type == GGML_BACKEND_DEVICE_TYPE_GPU || type == GGML_BACKEND_DEVICE_TYPE_IGPU)
                return device;
        }
        return nullptr;
    }();
    return card;
}

// Runs `call` on the main thread, after whatever is already queued there.
template<typename Call>
void postToMain(Call &&call)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Call>(call), Qt::QueuedConnection);
}

// Segments first..last-1, read through the engine's getters for a context or a state.
// Segments without text are skipped. Times (10 ms units) are clamped into the audio: on
// broken audio the engine reports them past the end and even before the start.
template<typename Source>
QList<Segment> collectSegments(Source *source, int first, int last, qint64 durationMs,
                               const char *(*text)(Source *, int), int64_t (*t0)(Source *, int),
                               int64_t (*t1)(Source *, int))
{
    QList<Segment> segments;
    for (int i = first; i < last; ++i) {
        const char *segmentText = text(source, i);
        if (!segmentText)
            continue;
        const qint64 start = std::clamp<qint64>(t0(source, i) * 10, 0, durationMs);
        const qint64 end = std::clamp<qint64>(t1(source, i) * 10, start, durationMs);
        segments << Segment{start, end, QString::fromUtf8(segmentText)};
    }
    return segments;
}

} // namespace

QString Whisper::engineDescription()
{
    prepareEngine();
    return describeEngine();
}

QString Whisper::graphicsCardName()
{
    ggml_backend_dev_t card = graphicsCard();
    return card ? QString::fromUtf8(ggml_backend_dev_description(card)) : QString();
}

QString describe(WhisperError error)
{
    switch (error) {
    case WhisperError::invalidFrames:
        return QStringLiteral("There is no audio to transcribe.");
    case WhisperError::instanceBusy:
        return QStringLiteral("A transcription is already running.");
    case WhisperError::audioTooLong:
        return QStringLiteral("The audio is too long to transcribe in one piece.");
    case WhisperError::cancelled:
        return QStringLiteral("The transcription was cancelled.");
    case WhisperError::noMemory:
        return QStringLiteral("There is not enough memory to run the speech model.");
    case WhisperError::engineFailed:
        return QStringLiteral("The speech engine failed to transcribe the audio.");
    }
    return {};
}

WhisperParams::WhisperParams()
    : m_params(whisper_full_default_params(WHISPER_SAMPLING_GREEDY))
{
    setLanguage(WhisperLanguage::automatic());
}

WhisperParams::WhisperParams(const WhisperParams &other)
    : m_params(other.m_params)
    , m_language(other.m_language)
{
    m_params.language = m_language.constData();
}

WhisperParams &WhisperParams::operator=(const WhisperParams &other)
{
    m_params = other.m_params;
    m_language = other.m_language;
    m_params.language = m_language.constData();
    return *this;
}

WhisperLanguage WhisperParams::language() const
{
    const QString code = QString::fromLatin1(m_language);
    return WhisperLanguage::fromRawValue(code == u"he" ? QStringLiteral("iw") : code).value_or(WhisperLanguage::automatic());
}

void WhisperParams::setLanguage(WhisperLanguage language)
{
    QByteArray code = language.engineCode();
    // A code the engine does not know would corrupt a multilingual model's prompt.
    if (code != "auto" && whisper_lang_id(code.constData()) < 0)
        code = QByteArrayLiteral("auto");
    m_language = code;
    m_params.language = m_language.constData();
}

struct Whisper::Context
{
    Context(whisper_context *context, QString file, ComputeDevice on)
        : handle(context), modelPath(std::move(file)), device(on) {}
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    ~Context() { whisper_free(handle); }

    whisper_context *const handle;
    const QString modelPath;
    const ComputeDevice device;
};

// What one run shares with the engine's callbacks on the worker thread.
struct Whisper::Run
{
    // Keeps the context alive until the run ends. The worker replaces it with the
    // processor's when the graphics card fails the run; the main thread reads it after.
    std::shared_ptr<Context> context;
    QPointer<Whisper> owner;          // dereferenced on the main thread only
    qint64 durationMs = 0;
    CancelFlag cancel;
};

namespace {

// The contexts loaded, by file. Held weakly: a context goes with its last engine and run.
// Loads take the lock, so two engines asking for one file at once load it once.
std::mutex loadedLock;
QHash<QString, std::weak_ptr<void>> &loadedContexts()
{
    static QHash<QString, std::weak_ptr<void>> contexts;
    return contexts;
}

// A replaced file (a model downloaded again) is a new model under the same path.
QString fileIdentity(const QString &path)
{
    const QFileInfo info(path);
    return info.absoluteFilePath() + u'\n' + QString::number(info.size()) + u'\n'
        + QString::number(info.lastModified().toMSecsSinceEpoch());
}

} // namespace

std::shared_ptr<Whisper::Context> Whisper::sharedContext(const QString &modelPath, ComputeDevice device)
{
    const bool onCard = device == ComputeDevice::graphicsCard;
    const QString identity = fileIdentity(modelPath) + (onCard ? QStringLiteral("\ngraphics card") : QString());
    const std::lock_guard lock(loadedLock);
    if (std::shared_ptr<void> loaded = loadedContexts().value(identity).lock()) {
        qCDebug(lcSpeech) << "Sharing the loaded" << QFileInfo(modelPath).fileName();
        return std::static_pointer_cast<Context>(loaded);
    }
    whisper_context_params contextParams = whisper_context_default_params();
    contextParams.use_gpu = onCard;
    const std::shared_lock backends(backendListLock);
    whisper_context *handle
        = whisper_init_from_file_with_params_no_state(QFile::encodeName(modelPath).constData(), contextParams);
    if (!handle)
        return nullptr;
    auto context = std::make_shared<Context>(handle, modelPath, device);
    loadedContexts().insert(identity, context);
    return context;
}

int Whisper::loadedModelCount()
{
    const std::lock_guard lock(loadedLock);
    loadedContexts().removeIf([](const auto &entry) { return entry.value().expired(); });
    return int(loadedContexts().size());
}

std::unique_ptr<Whisper> Whisper::create(const QString &modelPath, WhisperParams params, ComputeDevice device)
{
    prepareEngine();
    std::shared_ptr<Context> context;
    // The card's context holds the weights; whisper.cpp itself picks the card for each run's
    // computing, or quietly the processor when the card will not start, which it does not
    // report back: hence "holds", not "runs".
    if (device == ComputeDevice::graphicsCard) {
        const QString card = graphicsCardName();
        if (card.isEmpty())
            qCDebug(lcSpeech) << "No graphics card found: the processor runs the speech model";
        else if (!(context = sharedContext(modelPath, ComputeDevice::graphicsCard)))
            qCWarning(lcSpeech).noquote() << "The graphics card" << card << "could not load"
                                          << QFileInfo(modelPath).fileName() << "- the processor runs it instead";
        else
            qCDebug(lcSpeech).noquote() << "The graphics card" << card << "holds the speech model";
    }
    if (!context)
        context = sharedContext(modelPath, ComputeDevice::processor);
    if (!context)
        return nullptr;
    return std::unique_ptr<Whisper>(new Whisper(std::move(context), std::move(params)));
}

Whisper::Whisper(std::shared_ptr<Context> context, WhisperParams params)
    : m_context(std::move(context))
    , m_params(std::move(params))
{
}

Whisper::~Whisper() = default;

bool Whisper::isEnglishOnly() const
{
    return whisper_is_multilingual(m_context->handle) == 0;
}

int Whisper::audioContextSize() const
{
    return whisper_model_n_audio_ctx(m_context->handle);
}

void Whisper::transcribe(AudioFrames frames, Completion completion, CancelFlag cancel)
{
    if (m_inProgress->load()) {
        completion(WhisperError::instanceBusy);
        return;
    }
    if (frames.isEmpty()) {
        completion(WhisperError::invalidFrames);
        return;
    }
    if (frames.size() > std::numeric_limits<int>::max()) {
        completion(WhisperError::audioTooLong);
        return;
    }

    const qint64 milliseconds = frames.size() * 1000 / engineSampleRate;
    auto run = std::make_shared<Run>(Run{m_context, QPointer<Whisper>(this), milliseconds, cancel});
    auto finish = [run, completion = std::move(completion)](Result result) {
        if (Whisper *owner = run->owner.data()) {
            owner->m_context = run->context; // the processor's, once the graphics card failed
            const auto *segments = std::get_if<QList<Segment>>(&result);
            if (const std::shared_ptr<WhisperDelegate> receiver = owner->m_delegate; receiver && segments)
                receiver->didCompleteWithSegments(*owner, *segments);
        }
        completion(std::move(result));
    };
    if (frames.size() < shortestSpeech) {
        postToMain([finish] { finish(QList<Segment>()); });
        return;
    }

    m_inProgress->store(true);
    WhisperParams params = m_params;
    params.raw().new_segment_callback = &Whisper::onNewSegments;
    params.raw().new_segment_callback_user_data = run.get();
    params.raw().progress_callback = &Whisper::onProgress;
    params.raw().progress_callback_user_data = run.get();
    params.raw().abort_callback = [](void *data) { return static_cast<const Run *>(data)->cancel.isCancelled(); };
    params.raw().abort_callback_user_data = run.get();

    QThreadPool::globalInstance()->start([run, params, frames, finish, inProgress = m_inProgress] {
        Result result = runIn(*run, params, frames);
        if (run->context->device == ComputeDevice::graphicsCard && !run->cancel.isCancelled()
            && std::holds_alternative<WhisperError>(result)) {
            qCWarning(lcSpeech).noquote() << "The graphics card failed the run:" << describe(std::get<WhisperError>(result))
                                          << "The processor runs it again, and the runs after it.";
            if (std::shared_ptr<Context> processor = sharedContext(run->context->modelPath, ComputeDevice::processor)) {
                run->context = std::move(processor);
                result = runIn(*run, params, frames);
            }
        }
        // Cleared before the completion is delivered, so a client may start the next run
        // from its completion handler.
        inProgress->store(false);
        postToMain([finish, result = std::move(result)]() mutable { finish(std::move(result)); });
    });
}

Whisper::Result Whisper::runIn(const Run &run, const WhisperParams &params, const AudioFrames &frames)
{
    whisper_context *handle = run.context->handle;
    // The run's working memory (caches and buffers, for a small model about as large as its
    // weights) lives only as long as the run.
    whisper_state *state = nullptr;
    {
        const std::shared_lock backends(backendListLock);
        state = whisper_init_state(handle);
    }
    if (!state)
        return WhisperError::noMemory;
    const int status = whisper_full_with_state(handle, state, params.raw(), frames.constData(), int(frames.size()));
    Result result = WhisperError::engineFailed;
    if (run.cancel.isCancelled())
        result = WhisperError::cancelled;
    else if (status == 0)
        result = collectSegments(state, 0, whisper_full_n_segments_from_state(state), run.durationMs,
                                 whisper_full_get_segment_text_from_state, whisper_full_get_segment_t0_from_state,
                                 whisper_full_get_segment_t1_from_state);
    whisper_free_state(state);
    return result;
}

void Whisper::onNewSegments(whisper_context *, whisper_state *state, int count, void *userData)
{
    const auto *run = static_cast<const Run *>(userData);
    if (!run || !state)
        return;
    const int total = whisper_full_n_segments_from_state(state);
    const int first = total - count;
    QList<Segment> segments = collectSegments(state, first, total, run->durationMs,
                                              whisper_full_get_segment_text_from_state,
                                              whisper_full_get_segment_t0_from_state,
                                              whisper_full_get_segment_t1_from_state);
    postToMain([owner = run->owner, segments = std::move(segments), first] {
        if (!owner)
            return;
        if (const std::shared_ptr<WhisperDelegate> receiver = owner->m_delegate)
            receiver->didProcessNewSegments(*owner, segments, first);
    });
}

void Whisper::onProgress(whisper_context *, whisper_state *, int percent, void *userData)
{
    const auto *run = static_cast<const Run *>(userData);
    if (!run)
        return;
    // The engine's percentage can pass 100.
    const double fraction = std::clamp(percent / 100.0, 0.0, 1.0);
    postToMain([owner = run->owner, fraction] {
        if (!owner)
            return;
        if (const std::shared_ptr<WhisperDelegate> receiver = owner->m_delegate)
            receiver->didUpdateProgress(*owner, fraction);
    });
}
