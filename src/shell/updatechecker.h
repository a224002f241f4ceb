#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

// "Check for Updates…": fetches a small JSON release manifest,
//   {"version": "0.2.0", "notes": "…", "url": "https://murmel.app/download"}
// compares its version with ours and says what it found. It never downloads or installs
// anything; the download address is offered only when it is http or https.
//
// Main thread only. A failure ends in `failed` with a sentence for the user; nothing is
// retried.
class UpdateChecker final : public QObject, public QmlSingleton<UpdateChecker>
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Updates)
    QML_SINGLETON
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString latestVersion READ latestVersion NOTIFY latestVersionChanged)
    Q_PROPERTY(QString notes READ notes NOTIFY notesChanged)
    Q_PROPERTY(QUrl downloadUrl READ downloadUrl NOTIFY downloadUrlChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    // False for a build without a release manifest: updates then come through the package
    // manager, and check() does nothing.
    Q_PROPERTY(bool canCheck READ canCheck CONSTANT)

public:
    enum class State { idle, checking, upToDate, available, failed };
    Q_ENUM(State)

    static constexpr std::chrono::milliseconds defaultTimeout{15000};

    // An empty `manifest` means no update check; an empty `currentVersion` this build's.
    explicit UpdateChecker(QUrl manifest, QString currentVersion = {}, QObject *parent = nullptr);

    // MURMEL_UPDATE_URL when set, else the manifest the build was configured with
    // (MURMEL_UPDATE_MANIFEST_URL), which may be none.
    static QUrl manifestUrl();

    bool canCheck() const { return m_manifest.isValid() && !m_manifest.isEmpty(); }
    // Asks the server once; ignored while a check runs, and without a manifest.
    Q_INVOKABLE void check();

    // Without a byte for this long the check fails as unreachable.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    QUrl manifest() const { return m_manifest; }
    QString currentVersion() const { return m_currentVersion; }
    State state() const { return m_state; }
    // As the manifest gives it, without a "v"; empty until a check has read one.
    QString latestVersion() const { return m_latestVersion; }
    QString notes() const { return m_notes; }
    // Empty when the manifest names none or one that is not http or https.
    QUrl downloadUrl() const { return m_downloadUrl; }
    // The sentence to show for the state; empty while idle.
    QString message() const { return m_message; }

Q_SIGNALS:
    void stateChanged();
    void latestVersionChanged();
    void notesChanged();
    void downloadUrlChanged();
    void messageChanged();
    // The check ended, in upToDate, available or failed.
    void finished();

private:
    void onFinished();
    void fail(const QString &reason);
    void setState(State state);
    void setLatestVersion(const QString &version);
    void setNotes(const QString &notes);
    void setDownloadUrl(const QUrl &url);
    void setMessage(const QString &message);

    QUrl m_manifest;
    QString m_currentVersion;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    bool m_tooLarge = false;
    State m_state = State::idle;
    QString m_latestVersion;
    QString m_notes;
    QUrl m_downloadUrl;
    QString m_message;
};
