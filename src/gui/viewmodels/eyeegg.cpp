#include "gui/viewmodels/eyeegg.h"

EyeEgg::EyeEgg(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_c(std::move(collaborators))
{
    m_clear.setSingleShot(true);
    m_clear.setInterval(messageMilliseconds);
    connect(&m_clear, &QTimer::timeout, this, [this] { setMessage({}); });
}

void EyeEgg::tap()
{
    if (m_c.playTapSound)
        m_c.playTapSound();
    const auto say = [this](const QString &phrase) {
        if (m_c.speak)
            m_c.speak(phrase);
    };
    if (++m_taps < tapsToAnnoy) {
        say(tr("Talk to me."));
        return;
    }
    m_taps = 0;
    setMessage(tr("Stop poking me."));
    say(m_message);
    m_clear.start();
}

void EyeEgg::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT messageChanged();
}
