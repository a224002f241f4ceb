#pragma once

#include "core/hud/hudmodel.h"

#include <QObject>
#include <QString>
#include <QTimer>

class Announcer;
class HUDPanel;

// The dictation display's timing: what it shows and when it goes away. Screen readers hear
// each change. Main thread only; the panel and the announcer must outlive the controller.
class HUDController final : public QObject
{
    Q_OBJECT

public:
    // How long a confirmation stays up.
    static constexpr int confirmHideMs = 1100;

    HUDController(HUDPanel &panel, Announcer &announcer, QObject *parent = nullptr);

    HUDModel &model() { return m_model; }
    bool isVisible() const;

    // Listening, level 0, on screen; announces "Listening".
    void show();
    // Done with `text`, announced, hidden after 1.1 s. Updates what is on screen; it does
    // not bring the panel up itself.
    void confirm(const QString &text);
    // Aiming with `text` (click-to-insert waits for a click), on screen until hidden.
    void aim(const QString &text);
    // Hides after `ms` (0 or less: at the next turn of the event loop). A later show, aim or
    // hide replaces the pending hide.
    void hide(int ms);
    // Switches to working and announces "Transcribing" (a recording has stopped).
    void showWorking();
    // The microphone level, kept only while the panel is visible.
    void setLevel(float level);

    // The display's stop button: asks whoever runs the dictation to stop and process it.
    Q_INVOKABLE void requestStop();

Q_SIGNALS:
    void stopRequested();

private:
    void cancelPendingHide();

    HUDPanel &m_panel;
    Announcer &m_announcer;
    HUDModel m_model;
    QTimer m_hideTimer;
};
