#include "core/insert/clickinserter.h"

#include "core/base/logging.h"
#include "core/desktop/clickobserver.h"
#include "core/desktop/keyboardinjector.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/insert/textinserter.h"

#include <QPointer>

ClickInserter::ClickInserter(ClickObserver &observer, KeyboardInjector &injector, TextInserter &inserter,
                             HUDController &hud, Sounds &sounds, QObject *parent)
    : QObject(parent)
    , m_observer(observer)
    , m_injector(injector)
    , m_inserter(inserter)
    , m_hud(hud)
    , m_sounds(sounds)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { cancel(true); });
    connect(&m_observer, &ClickObserver::outsideClick, this, &ClickInserter::fire);
    connect(&m_observer, &ClickObserver::ownWindowClick, this, [this] { cancel(true); });
    connect(&m_observer, &ClickObserver::escapePressed, this, [this] { cancel(true); });
}

ClickInserter::~ClickInserter()
{
    if (m_armed)
        m_observer.stop();
}

void ClickInserter::setDelays(int timeoutInterval, int delayBeforeInsert)
{
    m_timeout.setInterval(timeoutInterval);
    m_insertDelayMs = delayBeforeInsert;
}

void ClickInserter::arm(const QString &text)
{
    // Arming again while armed simply starts over, with the new text and a fresh timeout.
    disarm();

    if (!m_injector.isTrusted()) {
        // The paste needs synthetic keys. X11 has no permission to ask for: the server
        // either offers XTEST or not, so there is no prompt to raise, only this note.
        qCInfo(lcInsert) << "click-to-insert: synthetic key events are not available on this display";
        setArmed(false);
        m_hud.confirm(QStringLiteral("Grant Accessibility, then try again"));
        return;
    }

    m_text = text;
    m_hud.aim(QStringLiteral("Click a text field to insert · Esc cancels"));
    if (!m_observer.start())
        qCInfo(lcInsert) << "click-to-insert: clicks in other applications cannot be seen here;"
                            " Escape, a click in Murmel or the timeout end the mode";
    m_timeout.start();
    setArmed(true);
}

bool ClickInserter::isAvailable() const
{
    return m_observer.seesOtherApplications();
}

void ClickInserter::cancel(bool hideHUD)
{
    const bool wasArmed = m_armed;
    disarm();
    setArmed(false);
    // After a click the confirmation that follows belongs to the user; a cancel then must
    // not take it away.
    if (wasArmed && hideHUD)
        m_hud.hide(0);
}

void ClickInserter::fire()
{
    // The first click ends the mode, so a second one in quick succession finds it idle.
    if (!m_armed)
        return;
    disarm();
    setArmed(false);

    // Neither a later cancel nor a new arm stops this insertion: the click has been made.
    // With `this` as the context the timer dies with the inserter.
    QTimer::singleShot(m_insertDelayMs, this, [this, text = m_text] { insertAfterClick(text); });
}

QCoro::Task<void> ClickInserter::insertAfterClick(QString text)
{
    const QPointer<ClickInserter> self(this);
    auto inserting = m_inserter.insert(text, TextInsertionMethod::direct);
    const TextInsertionResult result = co_await std::move(inserting);
    // The paste may wait for keys to be let go; the inserter may be gone by then.
    if (!self)
        co_return;

    m_sounds.play(QStringLiteral("Morse"));
    const bool pasted = result == TextInsertionResult::inserted;
    if (result == TextInsertionResult::notDelivered)
        m_hud.confirm(notDeliveredText());
    else
        m_hud.confirm(pasted ? QStringLiteral("Inserted") : QStringLiteral("Copied"));
    Q_EMIT inserted(pasted);
}

void ClickInserter::disarm()
{
    m_observer.stop();
    m_timeout.stop();
}

void ClickInserter::setArmed(bool armed)
{
    if (m_armed == armed)
        return;
    m_armed = armed;
    Q_EMIT armedChanged();
}
