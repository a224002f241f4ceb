#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <functional>

// The little game of poking Murmel's eye, on the home screen and in About: each tap makes
// the eye's sound and asks to be talked to; the seventh says "Stop poking me." for a moment
// and starts the count again. Each screen has its own count: the home screen's eye is
// HomeEgg to QML, the About tab's AboutEgg.
//
// Main thread only.
class EyeEgg final : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Each screen's eye has its game from the application")
    // "Stop poking me." for a moment after the seventh tap, else empty.
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    struct Collaborators
    {
        // Both decide themselves whether the user wants to hear them.
        std::function<void(const QString &)> speak = {};
        std::function<void()> playTapSound = {};
    };

    explicit EyeEgg(Collaborators collaborators, QObject *parent = nullptr);

    QString message() const { return m_message; }
    int taps() const { return m_taps; }

    Q_INVOKABLE void tap();

    static constexpr int tapsToAnnoy = 7;
    static constexpr int messageMilliseconds = 1700;

Q_SIGNALS:
    void messageChanged();

private:
    void setMessage(const QString &message);

    Collaborators m_c;
    int m_taps = 0;
    QString m_message;
    QTimer m_clear;
};

struct HomeEggSingleton
{
    Q_GADGET
    QML_FOREIGN(EyeEgg)
    QML_NAMED_ELEMENT(HomeEgg)
    QML_SINGLETON

public:
    static EyeEgg *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<EyeEgg, HomeEggSingleton>::handOver(engine);
    }
};

struct AboutEggSingleton
{
    Q_GADGET
    QML_FOREIGN(EyeEgg)
    QML_NAMED_ELEMENT(AboutEgg)
    QML_SINGLETON

public:
    static EyeEgg *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<EyeEgg, AboutEggSingleton>::handOver(engine);
    }
};
