#include "platform/session/interruptnotifier.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler may only do async-signal-safe work: one write to a pipe.
volatile sig_atomic_t writeEnd = -1;

void onSignal(int)
{
    const char byte = 1;
    if (writeEnd >= 0)
        [[maybe_unused]] const auto written = ::write(writeEnd, &byte, 1);
}

void setHandler(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

} // namespace

InterruptNotifier::InterruptNotifier(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = m_fds[1];
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptNotifier::drain);
    setHandler(SIGINT, onSignal);
    setHandler(SIGTERM, onSignal);
}

InterruptNotifier::~InterruptNotifier()
{
    setHandler(SIGINT, SIG_DFL);
    setHandler(SIGTERM, SIG_DFL);
    writeEnd = -1;
    for (int fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

void InterruptNotifier::drain()
{
    char buffer[16];
    while (::read(m_fds[0], buffer, sizeof buffer) > 0) {
    }
    Q_EMIT interrupted();
}
