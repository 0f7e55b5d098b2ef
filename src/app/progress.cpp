#include "app/progress.h"

#include "support/console.h"
#include "support/handles.h"

#include <atomic>

namespace scancap {
namespace {

std::atomic<bool> g_stop{false};

DWORD WINAPI ProgressThread(void*) {
    do {
        Sleep(1000);
        if (g_stop.load()) break;
        ConsoleLockGuard lock;
        Str path = CurrentScanPath();
        PrintPlain(L"> %ls\n", path.c_str());
    } while (!g_stop.load());
    return 0;
}

}  // namespace

void StartProgressThread() {
    // Nobody waits for the thread, so its handle is closed at once.
    KernelHandle thread(CreateThread(nullptr, 0, ProgressThread, nullptr, 0, nullptr));
}

void StopProgressThread() { g_stop.store(true); }

bool ProgressStopRequested() { return g_stop.load(); }

}  // namespace scancap
