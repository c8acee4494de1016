#include "interrupt.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fds[2] = {-1, -1};

void handler(int)
{
    const char byte = 1;
    // Nothing else is safe in a handler; a full pipe already says enough.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
}
} // namespace

Interrupt &Interrupt::instance()
{
    static Interrupt interrupt;
    return interrupt;
}

void Interrupt::onSignal()
{
    char bytes[16];
    [[maybe_unused]] const ssize_t n = ::read(g_fds[1], bytes, sizeof bytes);
    m_requested = true;
    emit raised();
}

bool Interrupt::install()
{
    if (g_fds[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_fds) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, &instance());
    QObject::connect(notifier, &QSocketNotifier::activated, &instance(), [] { instance().onSignal(); });
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}
