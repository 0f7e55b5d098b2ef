// Keeps a desktop session in a test prefix for as long as the prefix is in
// use, as a Windows machine always has one. A headless Wine starts its
// desktop process for the first window of a session and ends it soon after
// the last program using it exits; scancap's first step, initialising COM
// for its thread, makes such a window. Without this process every scancap
// start would pay for a desktop start-up, and many starts in a row would
// race with desktops coming and going.
//   desktop_session.exe [SECONDS]     ends after SECONDS (default 3 hours)
#include <windows.h>
#include <objbase.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    unsigned long seconds = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 3 * 3600;
    CoInitialize(nullptr);
    ULONGLONG end = GetTickCount64() + 1000ull * seconds;
    MSG message;
    while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    CoUninitialize();
    return 0;
}
