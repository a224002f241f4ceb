#include "core/insert/clipboardsafeinsertservice.h"

#include "core/base/logging.h"
#include "core/desktop/keyboardinjector.h"

ClipboardSafeInsertService::ClipboardSafeInsertService(KeyboardInjector &injector, Clock clock,
                                                       QObject *parent)
    : QObject(parent)
    , m_injector(injector)
    , m_clock(std::move(clock))
{}

ClipboardSafeInsertService::Clock ClipboardSafeInsertService::systemClock()
{
    return [] { return QDateTime::currentDateTimeUtc(); };
}

QString ClipboardSafeInsertService::description(Error error)
{
    switch (error) {
    case Error::notReady:
        return QStringLiteral("No Murmel dictation is ready yet.");
    case Error::notReturned:
        return QStringLiteral("Murmel could not return the latest dictation.");
    }
    return {};
}

void ClipboardSafeInsertService::hold(const QString &text)
{
    m_pending = PendingDictation{text, m_clock().addSecs(lifetime.count())};
    ++m_generation;
}

void ClipboardSafeInsertService::clear()
{
    m_pending.reset();
    ++m_generation;
}

QCoro::Task<std::optional<ClipboardSafeInsertService::Error>>
ClipboardSafeInsertService::insertLastDictation()
{
    const std::optional<PendingDictation> taken = m_pending;
    // A hold is good up to, but not at, its expiry.
    if (!taken || taken->text.isEmpty() || !(m_clock() < taken->expiresAt)) {
        clear();
        co_return Error::notReady;
    }

    clear();
    const quint64 generationWhileTyping = m_generation;
    auto typing = m_injector.type(taken->text);
    const bool typed = co_await std::move(typing);
    if (typed)
        co_return std::nullopt;

    qCWarning(lcInsert) << "the held dictation could not be typed; it stays held";
    if (m_generation == generationWhileTyping) {
        m_pending = taken;
        ++m_generation;
    }
    co_return Error::notReturned;
}
