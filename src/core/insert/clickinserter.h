#pragma once

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>

class ClickObserver;
class HUDController;
class KeyboardInjector;
class Sounds;
class TextInserter;

// Click-to-insert: after arm(text), the next click into another application's text field
// receives the text, pasted with the direct method. Escape, a click in one of Murmel's own
// windows or 25 s without a click cancel. Main thread only; every collaborator must outlive it.
class ClickInserter final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool armed READ isArmed NOTIFY armedChanged)

public:
    static constexpr int timeoutMs = 25000;
    // Lets the clicked application focus the field under the pointer before the paste.
    static constexpr int insertDelayMs = 350;

    ClickInserter(ClickObserver &observer, KeyboardInjector &injector, TextInserter &inserter, HUDController &hud,
                  Sounds &sounds, QObject *parent = nullptr);
    // Stops watching; an insertion still waiting for its delay is dropped.
    ~ClickInserter() override;

    Q_INVOKABLE void arm(const QString &text);
    Q_INVOKABLE void cancel(bool hideHUD);
    bool isArmed() const { return m_armed; }
    // Whether a click in another application can be seen on this desktop at all; where it
    // cannot (native Wayland windows), the mode would only wait for its timeout.
    bool isAvailable() const;
    QString text() const { return m_text; }

    int timeout() const { return m_timeout.interval(); }
    int insertDelay() const { return m_insertDelayMs; }
    // Tests only: shorter waits than the production ones above.
    void setDelays(int timeoutInterval, int delayBeforeInsert);

Q_SIGNALS:
    void armedChanged();
    // The delayed insertion has happened (for tests and the file screen).
    void inserted(bool pasted);

private:
    void fire();
    // Stops watching and the timeout; the armed flag is the caller's to set.
    void disarm();
    void setArmed(bool armed);
    QCoro::Task<void> insertAfterClick(QString text);

    ClickObserver &m_observer;
    KeyboardInjector &m_injector;
    TextInserter &m_inserter;
    HUDController &m_hud;
    Sounds &m_sounds;
    QString m_text;
    bool m_armed = false;
    int m_insertDelayMs = insertDelayMs;
    QTimer m_timeout;
};
