#include "gui/viewmodels/settingsmodel.h"

#include "core/base/appinfo.h"
#include "core/base/cleanupmode.h"
#include "core/base/loginitem.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/text/customization.h"
#include "core/text/customizationstore.h"
#include "core/transcripts/historystore.h"
#include "gui/viewmodels/nav.h"

#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

namespace {

namespace Keys = PreferenceKeys;

// The preferences this screen edits, in the order their signals are listed.
const QStringList &editedKeys()
{
    static const QStringList keys = {Keys::whisperModel,  Keys::dictationSpeed,      Keys::language,
                                     Keys::holdToTalk,    Keys::clipboardSafeInsert, Keys::cleanupMode,
                                     Keys::cleanupModel,  Keys::soundsEnabled,       Keys::voiceEnabled,
                                     Keys::retentionDays, Keys::coreMLEnabled,       Keys::fasterShortDictations};
    return keys;
}

QVariantMap choice(const QVariant &value, const QString &label)
{
    return {{QStringLiteral("value"), value}, {QStringLiteral("label"), label}};
}

// What the dictation model's row shows, to tell a real change from a repeated signal.
QString dictationModelKey(const SettingsModel &model)
{
    return model.dictationModel() + u'|' + QString::number(int(model.dictationModelState()));
}

} // namespace

SettingsModel::SettingsModel(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_c(std::move(collaborators))
{
    for (const QString &key : editedKeys())
        m_values.insert(key, m_c.preferences.effective(key));
    m_dictationModelKey = dictationModelKey(*this);

    // The preferences file is replaced, not rewritten, on every save, so the watch on the
    // file itself ends with the first change: the folder is watched too, and the file is
    // watched again whenever it reappears.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &SettingsModel::reload);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &SettingsModel::reload);
    watchFile();

    if (m_c.loginItem)
        connect(m_c.loginItem, &LoginItem::enabledChanged, this, &SettingsModel::launchAtLoginChanged);
    if (m_c.customization)
        connect(m_c.customization, &CustomizationStore::stylesChanged, this, &SettingsModel::cleanupModesChanged);
    if (m_c.models) {
        const auto follow = [this] {
            const QString key = dictationModelKey(*this);
            if (key != m_dictationModelKey) {
                m_dictationModelKey = key;
                Q_EMIT dictationModelChanged();
            }
        };
        connect(m_c.models, &ModelStore::downloadingChanged, this, follow);
        connect(m_c.models, &ModelStore::downloadFinished, this, follow);
        connect(m_c.models, &ModelStore::progressChanged, this, &SettingsModel::downloadProgressChanged);
        for (auto signal : {&SettingsModel::whisperModelChanged, &SettingsModel::dictationSpeedChanged,
                            &SettingsModel::languageChanged})
            connect(this, signal, this, follow);
    }
}

QString SettingsModel::whisperModel() const { return cached(Keys::whisperModel).toString(); }
void SettingsModel::setWhisperModel(const QString &value) { write(Keys::whisperModel, value); }
QString SettingsModel::dictationSpeed() const { return cached(Keys::dictationSpeed).toString(); }
void SettingsModel::setDictationSpeed(const QString &value) { write(Keys::dictationSpeed, value); }
QString SettingsModel::language() const { return cached(Keys::language).toString(); }
void SettingsModel::setLanguage(const QString &value) { write(Keys::language, value); }
bool SettingsModel::holdToTalk() const { return cached(Keys::holdToTalk).toBool(); }
void SettingsModel::setHoldToTalk(bool value) { write(Keys::holdToTalk, value); }
bool SettingsModel::clipboardSafeInsert() const { return cached(Keys::clipboardSafeInsert).toBool(); }
QString SettingsModel::cleanupMode() const { return cached(Keys::cleanupMode).toString(); }
void SettingsModel::setCleanupMode(const QString &value) { write(Keys::cleanupMode, value); }
QString SettingsModel::cleanupModel() const { return cached(Keys::cleanupModel).toString(); }
void SettingsModel::setCleanupModel(const QString &value) { write(Keys::cleanupModel, value); }
bool SettingsModel::soundsEnabled() const { return cached(Keys::soundsEnabled).toBool(); }
void SettingsModel::setSoundsEnabled(bool value) { write(Keys::soundsEnabled, value); }
bool SettingsModel::voiceEnabled() const { return cached(Keys::voiceEnabled).toBool(); }
void SettingsModel::setVoiceEnabled(bool value) { write(Keys::voiceEnabled, value); }
int SettingsModel::retentionDays() const { return cached(Keys::retentionDays).toInt(); }
bool SettingsModel::coreMLEnabled() const { return cached(Keys::coreMLEnabled).toBool(); }
void SettingsModel::setCoreMLEnabled(bool value) { write(Keys::coreMLEnabled, value); }
bool SettingsModel::fasterShortDictations() const { return cached(Keys::fasterShortDictations).toBool(); }
void SettingsModel::setFasterShortDictations(bool value) { write(Keys::fasterShortDictations, value); }

void SettingsModel::setClipboardSafeInsert(bool value)
{
    // A held dictation was kept for the Services-style insert; once the user opts out it
    // must not surface later by surprise.
    if (write(Keys::clipboardSafeInsert, value) && !value && m_c.clipboardSafeInsert)
        m_c.clipboardSafeInsert->clear();
}

void SettingsModel::setRetentionDays(int value)
{
    if (write(Keys::retentionDays, value) && m_c.history)
        m_c.history->applyRetention();
}

bool SettingsModel::launchAtLogin() const
{
    return m_c.loginItem && m_c.loginItem->isEnabled();
}

void SettingsModel::setLaunchAtLogin(bool value)
{
    if (!m_c.loginItem)
        return;
    m_c.loginItem->setEnabled(value);
    if (m_c.loginItem->isEnabled() != value) {
        setLastError(value ? tr("Murmel could not add itself to the programs started at login.")
                           : tr("Murmel could not remove itself from the programs started at login."));
        // The switch must fall back to what is really on disk.
        Q_EMIT launchAtLoginChanged();
    }
}

QString SettingsModel::dictationModel() const
{
    return ModelSelection::dictationModel(m_c.preferences).rawValue();
}

QString SettingsModel::dictationModelName() const
{
    return ModelSelection::dictationModel(m_c.preferences).displayName();
}

QString SettingsModel::dictationModelSize() const
{
    return ModelSelection::dictationModel(m_c.preferences).sizeLabel();
}

ModelStore::State SettingsModel::dictationModelState() const
{
    if (!m_c.models)
        return ModelStore::State::missing;
    return m_c.models->state(ModelSelection::dictationModel(m_c.preferences));
}

double SettingsModel::downloadProgress() const
{
    return m_c.models ? m_c.models->progress() : 0.0;
}

QVariantList SettingsModel::tabs()
{
    using Tab = Nav::SettingsTab;
    return {choice(int(Tab::general), tr("General")),       choice(int(Tab::model), tr("Model")),
            choice(int(Tab::cleanup), tr("Cleanup")),       choice(int(Tab::dictionary), tr("Dictionary")),
            choice(int(Tab::support), tr("Support")),       choice(int(Tab::about), tr("About"))};
}

QVariantList SettingsModel::languages()
{
    return {choice(QStringLiteral("auto"), tr("Detect automatically")),
            choice(QStringLiteral("en"), tr("English")),
            choice(QStringLiteral("es"), tr("Spanish")),
            choice(QStringLiteral("fr"), tr("French")),
            choice(QStringLiteral("de"), tr("German")),
            choice(QStringLiteral("pt"), tr("Portuguese")),
            choice(QStringLiteral("it"), tr("Italian")),
            choice(QStringLiteral("ja"), tr("Japanese")),
            choice(QStringLiteral("zh"), tr("Chinese"))};
}

QVariantList SettingsModel::dictationSpeeds()
{
    return {choice(QStringLiteral("fast"), tr("Fast")), choice(QStringLiteral("accurate"), tr("Accurate"))};
}

QVariantList SettingsModel::cleanupModels()
{
    return {choice(QStringLiteral("claude-opus-4-8"), tr("Opus 4.8 (best)")),
            choice(QStringLiteral("claude-haiku-4-5"), tr("Haiku 4.5 (cheapest)"))};
}

QVariantList SettingsModel::retentionChoices()
{
    QVariantList entries;
    for (const int days : PreferenceKeys::retentionChoices())
        entries << choice(days, days == 0 ? tr("Forever") : tr("%1 days").arg(days));
    return entries;
}

QVariantList SettingsModel::cleanupModes() const
{
    QVariantList entries;
    for (const CleanupMode mode : CleanupMode::allCases())
        entries << choice(mode.rawValue(), mode.label());
    const QList<CustomStyle> styles = m_c.customization ? m_c.customization->styles() : QList<CustomStyle>{};
    if (!styles.isEmpty()) {
        entries << QVariantMap{{QStringLiteral("value"), QString()}, {QStringLiteral("label"), QString()},
                               {QStringLiteral("divider"), true}};
        for (const CustomStyle &style : styles)
            entries << choice(Settings::customSelection(style.id),
                              style.name.isEmpty() ? tr("Untitled style") : style.name);
    }
    return entries;
}

QString SettingsModel::version() { return AppInfo::shortVersion(); }
QString SettingsModel::build() { return AppInfo::build(); }
QString SettingsModel::supportAddress() { return AppInfo::supportAddress(); }
QUrl SettingsModel::supportMailUrl() { return AppInfo::supportMailUrl(); }
QUrl SettingsModel::website() { return AppInfo::website(); }

void SettingsModel::reload()
{
    watchFile();
    for (const QString &key : editedKeys()) {
        const QJsonValue now = m_c.preferences.effective(key);
        if (now != m_values.value(key)) {
            m_values.insert(key, now);
            emitChanged(key);
        }
    }
}

void SettingsModel::openHistory()
{
    if (m_c.nav)
        m_c.nav->setScreen(Nav::MurScreen::history);
}

void SettingsModel::downloadDictationModel()
{
    if (!m_c.models)
        return;
    m_c.models->download(ModelSelection::dictationModel(m_c.preferences)); // runs on; the store reports
}

bool SettingsModel::write(const QString &key, const QJsonValue &value)
{
    // Read afresh, so a value another process wrote since is not mistaken for ours.
    reload();
    if (m_values.value(key) == value)
        return false;
    QString error;
    bool written = false;
    if (value.isBool())
        written = m_c.preferences.setBoolean(key, value.toBool(), &error);
    else if (value.isDouble())
        written = m_c.preferences.setInteger(key, value.toInteger(), &error);
    else
        written = m_c.preferences.setString(key, value.toString(), &error);
    if (!written) {
        setLastError(tr("Murmel could not save this setting: %1").arg(error));
        // The control that asked snaps back to the stored value.
        emitChanged(key);
        return false;
    }
    setLastError({});
    // The first write may have created the file (and its folder): watch them from now on.
    watchFile();
    m_values.insert(key, value);
    emitChanged(key);
    return true;
}

void SettingsModel::emitChanged(const QString &key)
{
    using Signal = void (SettingsModel::*)();
    static const QHash<QString, Signal> signals_ = {
        {Keys::whisperModel, &SettingsModel::whisperModelChanged},
        {Keys::dictationSpeed, &SettingsModel::dictationSpeedChanged},
        {Keys::language, &SettingsModel::languageChanged},
        {Keys::holdToTalk, &SettingsModel::holdToTalkChanged},
        {Keys::clipboardSafeInsert, &SettingsModel::clipboardSafeInsertChanged},
        {Keys::cleanupMode, &SettingsModel::cleanupModeChanged},
        {Keys::cleanupModel, &SettingsModel::cleanupModelChanged},
        {Keys::soundsEnabled, &SettingsModel::soundsEnabledChanged},
        {Keys::voiceEnabled, &SettingsModel::voiceEnabledChanged},
        {Keys::retentionDays, &SettingsModel::retentionDaysChanged},
        {Keys::coreMLEnabled, &SettingsModel::coreMLEnabledChanged},
        {Keys::fasterShortDictations, &SettingsModel::fasterShortDictationsChanged},
    };
    if (const Signal signal = signals_.value(key))
        (this->*signal)();
}

void SettingsModel::setLastError(const QString &message)
{
    if (m_lastError == message)
        return;
    m_lastError = message;
    Q_EMIT lastErrorChanged();
}

void SettingsModel::watchFile()
{
    const QFileInfo file(m_c.preferences.filePath());
    // Until the folder exists, the nearest existing ancestor tells when it appears.
    QString folder = file.absolutePath();
    while (!QFileInfo::exists(folder) && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
    if (file.exists() && !m_watcher.files().contains(file.absoluteFilePath()))
        m_watcher.addPath(file.absoluteFilePath());
}

void SettingsModel::findGraphicsCard()
{
    if (m_graphicsCardKnown || m_findingGraphicsCard)
        return;
    const auto found = [this](const QString &name) {
        m_findingGraphicsCard = false;
        m_graphicsCard = name;
        m_graphicsCardKnown = true;
        Q_EMIT graphicsCardChanged();
    };
    if (!m_c.findGraphicsCard) {
        found({});
        return;
    }
    m_findingGraphicsCard = true;
    QtConcurrent::run(m_c.findGraphicsCard).then(this, found);
}
