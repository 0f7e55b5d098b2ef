// Helper of the differencing benchmark. Runs inside the benchmark's Wine
// prefix from C:\scancap, so that scancap's own runs find their branding
// module, Snapshot.ini and templates beside it. Every timing is taken inside
// this process, so process start-up under Wine is not counted.
//
//   diff_bench keys create|change KEY    the registry subtree under HKCU
//   diff_bench load PRE POST             loads both snapshot files
//   diff_bench run ARGS...               scancap.exe ARGS, in this process
//   diff_bench phases PRE POST [OUT]     the same steps as "-DiffPrint -Quiet"
//                                        (or "-Diff OUT -Quiet"), each timed:
//                                        prints "startup load generate"
//   diff_bench copy LIST DEST            raw copy of the files listed in LIST
//                                        (UTF-8, one full path a line) to
//                                        DEST\<path without its drive>
// Each prints "<milliseconds>" on standard error.
#include "project/com_analysis.h"
#include "project/generate.h"
#include "app/driver.h"
#include "snapshot/snapshot_file.h"
#include "snapshot/store.h"
#include "support/console.h"
#include "support/folder_macros.h"
#include "support/handles.h"
#include "support/win.h"

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

using namespace scancap;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Report(Clock::time_point start) { std::fprintf(stderr, "%.1f\n", Since(start)); }

// 50 x 1000 keys of three values each.
constexpr int kGroups = 50;
constexpr int kKeysPerGroup = 1000;

bool SetValues(HKEY key, int index, DWORD number) {
    wchar_t text[64];
    std::swprintf(text, 64, L"value of key %d", index);
    BYTE blob[16];
    for (int i = 0; i < 16; ++i) blob[i] = static_cast<BYTE>(index + i);
    return RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((std::wcslen(text) + 1) * 2)) == ERROR_SUCCESS &&
           RegSetValueExW(key, L"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4) ==
               ERROR_SUCCESS &&
           RegSetValueExW(key, L"Data", 0, REG_BINARY, blob, sizeof blob) == ERROR_SUCCESS;
}

int Keys(const wchar_t* verb, const wchar_t* root) {
    bool create = std::wcscmp(verb, L"create") == 0;
    if (create) RegDeleteTreeW(HKEY_CURRENT_USER, root);
    int index = 0;
    for (int g = 0; g < kGroups; ++g) {
        for (int k = 0; k < kKeysPerGroup; ++k, ++index) {
            // The change touches every hundredth key.
            if (!create && index % 100 != 0) continue;
            wchar_t path[512];
            std::swprintf(path, 512, L"%ls\\group%02d\\key%03d", root, g, k);
            RegKey key;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                nullptr) != ERROR_SUCCESS ||
                !SetValues(key.get(), index, create ? 1 : 2)) {
                std::fwprintf(stderr, L"cannot write %ls\n", path);
                return 1;
            }
        }
    }
    if (!create) {
        // And adds a few keys of its own.
        for (int n = 0; n < 10; ++n) {
            wchar_t path[512];
            std::swprintf(path, 512, L"%ls\\added%02d", root, n);
            RegKey key;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                nullptr) != ERROR_SUCCESS ||
                !SetValues(key.get(), n, 3))
                return 1;
        }
    }
    return 0;
}

int Load(const wchar_t* pre, const wchar_t* post) {
    auto start = Clock::now();
    SnapshotStore a, b;
    LoadSnapshot(a, Str(pre));
    LoadSnapshot(b, Str(post));
    Report(start);
    return 0;
}

int Run(int argc, wchar_t** argv) {
    // argv[1] is "run"; scancap sees argv[1..] with "run" as its program name.
    auto start = Clock::now();
    int rc = RunScancap(argc - 1, argv + 1);
    Report(start);
    return rc;
}

// The driver's steps for a generation run, with the console and the
// exclusion list set up as the command line would.
int Phases(const wchar_t* pre, const wchar_t* post, const wchar_t* out) {
    auto start = Clock::now();
    CoInitialize(nullptr);
    InitFolderMacros();
    InitConsoleLock();
    std::unique_ptr<ExcludeList> excludeList = CreateExcludeList();
    Str log;
    if (!excludeList->FindAndLoad(L"Snapshot.ini", log)) return 1;
    excludeList->AddRegistryIgnore(L"HKEY_LOCAL_MACHINE\\FS");
    ProjectRun run;
    run.excludeList = excludeList.get();
    run.preSnapshot = pre;
    run.postSnapshot = post;
    run.outputDir = out ? out : L"";
    run.quiet = true;
    run.printOnly = out == nullptr;
    double startup = Since(start);

    start = Clock::now();
    SnapshotStore preStore, postStore;
    LoadSnapshot(preStore, Str(pre));
    LoadSnapshot(postStore, Str(post));
    double load = Since(start);

    start = Clock::now();
    SetUpgradeFlags(preStore, postStore, run.upgrade);
    ScanComRegistrations(run, postStore);
    GenerateProject(run, postStore, preStore);
    double generate = Since(start);
    std::fprintf(stderr, "%.1f %.1f %.1f\n", startup, load, generate);
    return 0;
}

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

int Copy(const wchar_t* listFile, const wchar_t* dest) {
    std::vector<std::wstring> files;
    {
        std::ifstream in(listFile);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) files.push_back(Wide(line));
        }
    }
    auto start = Clock::now();
    std::wstring target;
    size_t copied = 0;
    for (const std::wstring& file : files) {
        target = dest;
        target += file.substr(2);  // drop "C:"
        if (CopyFileW(file.c_str(), target.c_str(), FALSE)) {
            ++copied;
            continue;
        }
        // Parents only where they are missing, one level at a time.
        for (size_t i = 3; i < target.size(); ++i) {
            if (target[i] != L'\\') continue;
            target[i] = L'\0';
            CreateDirectoryW(target.c_str(), nullptr);
            target[i] = L'\\';
        }
        if (CopyFileW(file.c_str(), target.c_str(), FALSE)) ++copied;
    }
    Report(start);
    std::fprintf(stdout, "%zu of %zu files copied\n", copied, files.size());
    return copied == files.size() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wcscmp(argv[1], L"keys") == 0) return Keys(argv[2], argv[3]);
    if (argc == 4 && std::wcscmp(argv[1], L"load") == 0) return Load(argv[2], argv[3]);
    if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0) return Run(argc, argv);
    if (argc == 4 && std::wcscmp(argv[1], L"copy") == 0) return Copy(argv[2], argv[3]);
    if ((argc == 4 || argc == 5) && std::wcscmp(argv[1], L"phases") == 0)
        return Phases(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    std::fputs("usage: diff_bench keys create|change KEY | load PRE POST | run ARGS... | copy LIST DEST | phases PRE POST [OUT]\n", stderr);
    return 2;
}
