#include "interrupt.h"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fds[2] = {-1, -1};
volatile std::sig_atomic_t g_requested = 0;

void handler(int)
{
    g_requested = 1;
    const char byte = 1;
    // Nothing else is safe in a handler; a full pipe already says enough.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
}
} // namespace

bool Interrupt::requested()
{
    return g_requested != 0;
}

int Interrupt::descriptor()
{
    return g_fds[1];
}

bool Interrupt::install()
{
    if (g_fds[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_fds) != 0)
        return false;
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}
