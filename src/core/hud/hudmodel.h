#pragma once

#include <QObject>
#include <QString>

// What the dictation display shows. Owned by the HUDController; the QML view binds to it.
// Main thread only. Not final: Qt 6.4 registers a default-constructible type for QML by
// deriving from it, uncreatable or not.
class HUDModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state WRITE setState NOTIFY stateChanged)
    // The state's name ("listening", …): QML reaches C++ enumerators only by capitalised
    // names, and these are lower case.
    Q_PROPERTY(QString stateName READ stateName NOTIFY stateChanged)
    // Microphone loudness, 0 to 1, while listening.
    Q_PROPERTY(float level READ level WRITE setLevel NOTIFY levelChanged)
    // The text of the done and aiming states.
    Q_PROPERTY(QString confirmText READ confirmText WRITE setConfirmText NOTIFY confirmTextChanged)

public:
    enum class State { listening, working, done, aiming };
    Q_ENUM(State)

    using QObject::QObject;

    State state() const { return m_state; }
    void setState(State state);
    QString stateName() const;
    float level() const { return m_level; }
    void setLevel(float level);
    QString confirmText() const { return m_confirmText; }
    void setConfirmText(const QString &text);

Q_SIGNALS:
    void stateChanged();
    void levelChanged();
    void confirmTextChanged();

private:
    State m_state = State::listening;
    float m_level = 0.0f;
    QString m_confirmText = QStringLiteral("Inserted");
};
