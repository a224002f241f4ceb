#pragma once

#include "core/speech/modelstore.h"
#include "gui/viewmodels/qmlsingleton.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <functional>
#include <QtQml/qqmlregistration.h>

class ClipboardSafeInsertService;
class CustomizationStore;
class HistoryStore;
class LoginItem;
class Nav;
class Preferences;

// What the settings screen edits: one property per preference it offers, read from and
// written straight to the preferences file, plus the choice lists its pickers show and the
// login item. Each property's signal fires only when its value really
// changes, whether through this object or because another process (the command line)
// rewrote the file, which is watched.
//
// Two changes reach beyond the file: a new retention prunes the history at once, and
// turning clipboard-safe insert off drops the dictation held for it.
//
// Main thread only. Every collaborator except the preferences may be null (the property
// that needs it then reads as its default and writes nothing); all must outlive the model.
class SettingsModel final : public QObject, public QmlSingleton<SettingsModel>
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Settings)
    QML_SINGLETON
    Q_PROPERTY(QString whisperModel READ whisperModel WRITE setWhisperModel NOTIFY whisperModelChanged)
    Q_PROPERTY(QString dictationSpeed READ dictationSpeed WRITE setDictationSpeed NOTIFY dictationSpeedChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(bool holdToTalk READ holdToTalk WRITE setHoldToTalk NOTIFY holdToTalkChanged)
    Q_PROPERTY(bool clipboardSafeInsert READ clipboardSafeInsert WRITE setClipboardSafeInsert NOTIFY
                   clipboardSafeInsertChanged)
    Q_PROPERTY(QString cleanupMode READ cleanupMode WRITE setCleanupMode NOTIFY cleanupModeChanged)
    Q_PROPERTY(QString cleanupModel READ cleanupModel WRITE setCleanupModel NOTIFY cleanupModelChanged)
    Q_PROPERTY(bool soundsEnabled READ soundsEnabled WRITE setSoundsEnabled NOTIFY soundsEnabledChanged)
    Q_PROPERTY(bool voiceEnabled READ voiceEnabled WRITE setVoiceEnabled NOTIFY voiceEnabledChanged)
    Q_PROPERTY(int retentionDays READ retentionDays WRITE setRetentionDays NOTIFY retentionDaysChanged)
    Q_PROPERTY(bool coreMLEnabled READ coreMLEnabled WRITE setCoreMLEnabled NOTIFY coreMLEnabledChanged)
    Q_PROPERTY(bool fasterShortDictations READ fasterShortDictations WRITE setFasterShortDictations NOTIFY
                   fasterShortDictationsChanged)

    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)

    // The graphics card "coreMLEnabled" puts the speech model on: empty when there is none.
    // Known once findGraphicsCard has looked.
    Q_PROPERTY(QString graphicsCard READ graphicsCard NOTIFY graphicsCardChanged)
    Q_PROPERTY(bool graphicsCardKnown READ graphicsCardKnown NOTIFY graphicsCardChanged)

    // The model "Fast" or "Accurate" dictation uses right now, and whether it is on disk.
    Q_PROPERTY(QString dictationModel READ dictationModel NOTIFY dictationModelChanged)
    Q_PROPERTY(QString dictationModelName READ dictationModelName NOTIFY dictationModelChanged)
    Q_PROPERTY(QString dictationModelSize READ dictationModelSize NOTIFY dictationModelChanged)
    Q_PROPERTY(ModelStore::State dictationModelState READ dictationModelState NOTIFY dictationModelChanged)
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)

    // Pickers' entries, each a map with "value" and "label", in the order they are shown;
    // a tab's value is its Nav.SettingsTab.
    Q_PROPERTY(QVariantList tabs READ tabs CONSTANT)
    Q_PROPERTY(QVariantList languages READ languages CONSTANT)
    Q_PROPERTY(QVariantList dictationSpeeds READ dictationSpeeds CONSTANT)
    Q_PROPERTY(QVariantList cleanupModels READ cleanupModels CONSTANT)
    Q_PROPERTY(QVariantList retentionChoices READ retentionChoices CONSTANT)
    // The built-in modes, then (when there are any) a divider entry ("divider": true) and
    // the user's styles.
    Q_PROPERTY(QVariantList cleanupModes READ cleanupModes NOTIFY cleanupModesChanged)

    // The About and Support tabs' facts.
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)
    Q_PROPERTY(QString supportAddress READ supportAddress CONSTANT)
    Q_PROPERTY(QUrl supportMailUrl READ supportMailUrl CONSTANT)
    Q_PROPERTY(QUrl website READ website CONSTANT)

    // Why the last change could not be saved; empty after a successful one.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    struct Collaborators
    {
        Preferences &preferences;
        HistoryStore *history = nullptr;
        ClipboardSafeInsertService *clipboardSafeInsert = nullptr;
        LoginItem *loginItem = nullptr;
        Nav *nav = nullptr;
        ModelStore *models = nullptr;
        CustomizationStore *customization = nullptr;
        // The graphics card's name, empty for none; it may block, and runs on a worker thread.
        std::function<QString()> findGraphicsCard = {};
    };

    explicit SettingsModel(Collaborators collaborators, QObject *parent = nullptr);

    QString whisperModel() const;
    void setWhisperModel(const QString &value);
    QString dictationSpeed() const;
    void setDictationSpeed(const QString &value);
    QString language() const;
    void setLanguage(const QString &value);
    bool holdToTalk() const;
    void setHoldToTalk(bool value);
    bool clipboardSafeInsert() const;
    void setClipboardSafeInsert(bool value);
    QString cleanupMode() const;
    void setCleanupMode(const QString &value);
    QString cleanupModel() const;
    void setCleanupModel(const QString &value);
    bool soundsEnabled() const;
    void setSoundsEnabled(bool value);
    bool voiceEnabled() const;
    void setVoiceEnabled(bool value);
    int retentionDays() const;
    void setRetentionDays(int value);
    bool coreMLEnabled() const;
    void setCoreMLEnabled(bool value);
    bool fasterShortDictations() const;
    void setFasterShortDictations(bool value);

    bool launchAtLogin() const;
    void setLaunchAtLogin(bool value);

    QString graphicsCard() const { return m_graphicsCard; }
    bool graphicsCardKnown() const { return m_graphicsCardKnown; }

    QString dictationModel() const;
    QString dictationModelName() const;
    QString dictationModelSize() const;
    ModelStore::State dictationModelState() const;
    double downloadProgress() const;

    static QVariantList tabs();
    static QVariantList languages();
    static QVariantList dictationSpeeds();
    static QVariantList cleanupModels();
    static QVariantList retentionChoices();
    QVariantList cleanupModes() const;

    static QString version();
    static QString build();
    static QString supportAddress();
    static QUrl supportMailUrl();
    static QUrl website();

    QString lastError() const { return m_lastError; }

    // Reads every preference again and signals the ones that changed; the file watcher
    // calls it, and so may anyone who knows the file changed.
    Q_INVOKABLE void reload();
    // "Open history": shows the history screen.
    Q_INVOKABLE void openHistory();
    Q_INVOKABLE void downloadDictationModel();
    // Looks for the graphics card once, off the main thread: finding it starts its driver,
    // which only the screen offering the switch needs.
    Q_INVOKABLE void findGraphicsCard();

Q_SIGNALS:
    void whisperModelChanged();
    void dictationSpeedChanged();
    void languageChanged();
    void holdToTalkChanged();
    void clipboardSafeInsertChanged();
    void cleanupModeChanged();
    void cleanupModelChanged();
    void soundsEnabledChanged();
    void voiceEnabledChanged();
    void retentionDaysChanged();
    void coreMLEnabledChanged();
    void fasterShortDictationsChanged();
    void launchAtLoginChanged();
    void graphicsCardChanged();
    void dictationModelChanged();
    void downloadProgressChanged();
    void cleanupModesChanged();
    void lastErrorChanged();

private:
    QJsonValue cached(const QString &key) const { return m_values.value(key); }
    // Writes one preference when it differs from what was last read; false when nothing
    // changed or the file could not be written.
    bool write(const QString &key, const QJsonValue &value);
    void emitChanged(const QString &key);
    void setLastError(const QString &message);
    void watchFile();

    Collaborators m_c;
    QHash<QString, QJsonValue> m_values;
    QFileSystemWatcher m_watcher;
    QString m_dictationModelKey;
    QString m_lastError;
    QString m_graphicsCard;
    bool m_graphicsCardKnown = false;
    bool m_findingGraphicsCard = false;
};
