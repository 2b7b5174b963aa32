#include "host/InterruptCleanup.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler; written only while the signals are blocked.
char g_watched[PATH_MAX + 1];
char g_message[3][128];
std::size_t g_messageLength[3];

int IndexOf(int signal) {
    for (int i = 0; i < 3; ++i)
        if (kSignals[i] == signal) return i;
    return 0;
}

extern "C" void OnInterrupt(int signal) {
    // Only calls that are safe in a signal handler.
    if (g_watched[0] != '\0') ::unlink(g_watched);
    const int i = IndexOf(signal);
    const ssize_t ignored = ::write(STDERR_FILENO, g_message[i], g_messageLength[i]);
    (void)ignored;
    ::_exit(128 + signal);
}

sigset_t Interrupts() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    return set;
}

} // namespace

struct TInterruptCleanup::THold::TState {
    sigset_t saved;
};

TInterruptCleanup::THold::THold() : state_(std::make_unique<TState>()) {
    const sigset_t block = Interrupts();
    ::pthread_sigmask(SIG_BLOCK, &block, &state_->saved);
}

TInterruptCleanup::THold::~THold() {
    ::pthread_sigmask(SIG_SETMASK, &state_->saved, nullptr);
}

void TInterruptCleanup::Install(const std::string& programName) {
    const char* names[] = {"SIGINT", "SIGTERM", "SIGHUP"};
    for (int i = 0; i < 3; ++i) {
        const std::string text = programName + ": interrupted by " + names[i] + "\n";
        g_messageLength[i] = std::min(text.size(), sizeof g_message[i] - 1);
        std::memcpy(g_message[i], text.data(), g_messageLength[i]);
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_mask = Interrupts();
    for (int s : kSignals) {
        struct sigaction previous {};
        if (::sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(s, &action, nullptr);
    }
}

void TInterruptCleanup::Watch(const std::string& path) {
    // A name too long to keep is not watched; it could not have been created.
    if (path.size() >= sizeof g_watched) return;
    std::memcpy(g_watched, path.c_str(), path.size() + 1);
}

void TInterruptCleanup::RemoveWatched() {
    if (g_watched[0] != '\0') ::unlink(g_watched);
    g_watched[0] = '\0';
}

void TInterruptCleanup::Unwatch() {
    g_watched[0] = '\0';
}
