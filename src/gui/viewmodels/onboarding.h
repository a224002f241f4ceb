#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <functional>

class ModelStore;
class Permissions;
class Preferences;
class SettingsModel;

// The first-run flow the main window shows until the user has been through it once:
// welcome, permissions, speech model. While it shows, the permission flags are read again
// every second, so a row turns to "Granted" soon after the user sets things right on the
// desktop, and the hotkey is armed the moment it can be.
//
// Main thread only. Every collaborator must outlive this object.
class Onboarding final : public QObject, public QmlSingleton<Onboarding>
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool showing READ isShowing NOTIFY showingChanged)
    // 0 welcome, 1 permissions, 2 speech model.
    Q_PROPERTY(int step READ step NOTIFY stepChanged)
    // "Finish" when the chosen file transcription model is on disk, else "Skip for now".
    Q_PROPERTY(QString finishTitle READ finishTitle NOTIFY finishTitleChanged)

public:
    struct Collaborators
    {
        Preferences &preferences;
        Permissions &permissions;
        SettingsModel &settings;
        ModelStore &models;
        // Arms the hotkey if it is not watched yet; cheap when it is.
        std::function<void()> ensureHotkey = {};
        // Stops any speech and says the flow is done; decides itself whether cues are on.
        std::function<void()> announceReady = {};
    };

    explicit Onboarding(Collaborators collaborators, QObject *parent = nullptr);

    bool isShowing() const { return m_showing; }
    int step() const { return m_step; }
    QString finishTitle() const;

    Q_INVOKABLE void next();
    Q_INVOKABLE void back();
    // The last step's button, "Finish" or "Skip for now": either way onboarding is done.
    Q_INVOKABLE void finish();
    // Leaves onboarding without a word, when the user opened a file with Murmel and so
    // plainly wants to get on with it.
    void dismiss();
    // The view reports whether it is on screen: the poll runs only while it is, so a window
    // closed during onboarding wakes nobody. Until told otherwise the view counts as shown.
    Q_INVOKABLE void setOnScreen(bool onScreen);

    static constexpr int lastStep = 2;
    static constexpr int pollMilliseconds = 1000;

Q_SIGNALS:
    void showingChanged();
    void stepChanged();
    void finishTitleChanged();
    // Onboarding is over for good (by the button or from outside).
    void done();

private:
    void poll();
    void setStep(int step);
    void end();
    void followFinishTitle();

    Collaborators m_c;
    bool m_showing = false;
    bool m_onScreen = true;
    int m_step = 0;
    QString m_finishTitle;
    QTimer m_poll;
};
