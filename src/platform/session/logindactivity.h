#pragma once

#include "core/desktop/processactivity.h"

#include <QDBusConnection>

#include <memory>

// Holds a logind inhibitor ("idle:sleep", mode "block") for as long as a token lives; logind
// drops it when the file descriptor it handed out is closed. Without logind on the system
// bus (containers, other init systems) begin() holds nothing and says so once in the log.
class LogindActivity final : public ProcessActivity
{
public:
    // The system bus normally; tests hand in a private bus with a stand-in logind.
    explicit LogindActivity(QDBusConnection bus = QDBusConnection::systemBus());

    std::unique_ptr<Token> begin(const QString &reason) override;

private:
    QDBusConnection m_bus;
    // Shared with answers still in flight, which may arrive after this object is gone.
    std::shared_ptr<bool> m_reportedMissing = std::make_shared<bool>(false);
};
