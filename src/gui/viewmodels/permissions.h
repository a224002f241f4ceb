#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <functional>

// What the General tab's permission rows show: whether Murmel can hear, paste and react to
// its hotkey on this desktop. On Linux nothing is "granted" by a dialog; each flag is a
// fact of the session (an input device exists, synthetic keys are accepted, a hotkey
// backend watches the combination), asked through the function given for it.
//
// Main thread only. The flags are read at construction and again at each refresh(), which
// the screen calls whenever it is shown; each signal fires only on a real change.
class Permissions final : public QObject, public QmlSingleton<Permissions>
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool microphoneAvailable READ microphoneAvailable NOTIFY microphoneAvailableChanged)
    Q_PROPERTY(bool pasteAvailable READ pasteAvailable NOTIFY pasteAvailableChanged)
    Q_PROPERTY(bool hotkeyActive READ hotkeyActive NOTIFY hotkeyActiveChanged)

public:
    enum class Kind { microphone, paste, hotkey };
    Q_ENUM(Kind)

    using Probe = std::function<bool()>;

    struct Probes
    {
        Probe microphone;
        Probe paste;
        Probe hotkey;
        // Tries to obtain one (ask the portal, grab the key again); the flags are read
        // again right after.
        std::function<void(Kind)> grant = {};
    };

    // A missing probe reads as false: nothing known means nothing promised.
    explicit Permissions(Probes probes, QObject *parent = nullptr);

    bool microphoneAvailable() const { return m_microphone; }
    bool pasteAvailable() const { return m_paste; }
    bool hotkeyActive() const { return m_hotkey; }

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void grant(Permissions::Kind which);

Q_SIGNALS:
    void microphoneAvailableChanged();
    void pasteAvailableChanged();
    void hotkeyActiveChanged();

private:
    Probes m_probes;
    bool m_microphone = false;
    bool m_paste = false;
    bool m_hotkey = false;
};
