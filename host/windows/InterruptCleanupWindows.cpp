#include "host/InterruptCleanup.h"

#include "host/windows/WideText.h"

#include <windows.h>

#include <mutex>

namespace {

// The handler runs on a thread of its own; the lock makes a watch change and
// the file it concerns one step for it.
std::mutex g_lock;
std::wstring g_watched;
std::string g_program;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int signal = 0;
    const char* what = "";
    switch (event) {
    case CTRL_C_EVENT:
        signal = 2, what = "Ctrl-C";
        break;
    case CTRL_BREAK_EVENT:
        signal = 21, what = "Ctrl-Break";
        break;
    case CTRL_CLOSE_EVENT:
        signal = 1, what = "the console closing";
        break;
    default:
        return FALSE;
    }
    g_lock.lock(); // held until the process ends
    if (!g_watched.empty()) ::DeleteFileW(g_watched.c_str());
    const std::string line = g_program + ": interrupted by " + what + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                &written, nullptr);
    ::ExitProcess(static_cast<UINT>(128 + signal));
}

} // namespace

struct TInterruptCleanup::THold::TState {};

TInterruptCleanup::THold::THold() {
    g_lock.lock();
}

TInterruptCleanup::THold::~THold() {
    g_lock.unlock();
}

void TInterruptCleanup::Install(const std::string& programName) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_program = programName;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void TInterruptCleanup::Watch(const std::string& path) {
    g_watched = Utf8ToWide(path);
}

void TInterruptCleanup::Unwatch() {
    g_watched.clear();
}

void TInterruptCleanup::RemoveWatched() {
    // Opened for sharing with deletion, the file goes even while written.
    if (!g_watched.empty()) ::DeleteFileW(g_watched.c_str());
    g_watched.clear();
}
