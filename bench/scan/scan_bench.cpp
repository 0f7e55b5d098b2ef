// Capture benchmark: scancap's file-system and registry scans against minimal
// walks that make the same system calls, the snapshot file's save and load
// against one raw WriteFile and ReadFile, and the peak memory of a scan
// against the arena it builds.
//
//   scan_bench [--files N] [--dirs N] [--keys N] [--values N] [--runs N]
//              [--tree DIR] [--key SUBKEY-OF-HKCU] [--config Snapshot.ini]
//   scan_bench --memory-scan DIR HKEY-BASE SNAPSHOT [CONFIG]   (child process)
//   scan_bench --memory-load SNAPSHOT                           (child process)
//
// The tree and the registry subtree are made on first use and kept (a marker
// records their size). Every timing is the median of --runs runs after one
// warm-up run, the two sides of a comparison alternating.
#include "snapshot/file_scanner.h"
#include "snapshot/snapshot_file.h"
#include "snapshot/store.h"
#include "support/console.h"
#include "support/exclude_list.h"
#include "support/handles.h"
#include "support/win.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace scancap;

namespace {

struct Settings {
    unsigned files = 200000;
    unsigned dirs = 11000;
    unsigned keys = 50000;
    unsigned values = 150000;
    int runs = 3;
    std::wstring tree = L"C:\\bench\\tree";
    std::wstring key = L"Software\\scancap-bench";
    std::wstring config;
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "scan_bench: %s (error %lu)\n", what, GetLastError());
    std::exit(2);
}

// ---------------------------------------------------------------------------
// Generation: directories in a tree of fan-out 10, files spread evenly over
// them, names of varied length.

std::wstring DirPath(const Settings& s, unsigned index) {
    std::vector<unsigned> chain;
    for (unsigned i = index; i != 0; i = (i - 1) / 10) chain.push_back(i);
    std::wstring path = s.tree;
    wchar_t name[32];
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        swprintf(name, 32, L"\\dir%05u%ls", *it, (*it % 3 == 0) ? L"-with-longer-name" : L"");
        path += name;
    }
    return path;
}

std::wstring Marker(const wchar_t* what, unsigned a, unsigned b) {
    wchar_t text[128];
    swprintf(text, 128, L"%ls %u %u", what, a, b);
    return text;
}

bool TreeIsReady(const Settings& s) {
    std::wstring marker = s.tree + L".ready";
    FileHandle f(CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return false;
    wchar_t text[128] = {};
    DWORD read = 0;
    ReadFile(f.get(), text, sizeof text - 2, &read, nullptr);
    return Marker(L"tree", s.files, s.dirs) == text;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (find) {
        do {
            const wchar_t* n = found.cFileName;
            if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
            std::wstring child = path + L"\\" + n;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(find.get(), &found));
    }
    find.reset();
    RemoveDirectoryW(path.c_str());
}

void MakeTree(const Settings& s) {
    if (TreeIsReady(s)) return;
    // A tree of another size would leave its files behind.
    if (GetFileAttributesW(s.tree.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::printf("removing the tree of another size...\n");
        std::fflush(stdout);
        RemoveTree(s.tree);
    }
    std::printf("making %u files in %u directories...\n", s.files, s.dirs);
    std::fflush(stdout);
    double start = Now();
    std::wstring parent = s.tree.substr(0, s.tree.rfind(L'\\'));
    CreateDirectoryW(parent.c_str(), nullptr);
    CreateDirectoryW(s.tree.c_str(), nullptr);
    for (unsigned d = 1; d < s.dirs; ++d) {
        std::wstring path = DirPath(s, d);
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) Die("mkdir");
    }
    std::vector<char> content(4096, 'x');
    for (unsigned f = 0; f < s.files; ++f) {
        std::wstring path = DirPath(s, f % s.dirs);
        wchar_t name[64];
        static const wchar_t* kinds[] = {L".dll", L".txt", L"-resources.dat", L".exe", L".manifest.xml"};
        swprintf(name, 64, L"\\file%06u%ls", f, kinds[f % 5]);
        path += name;
        FileHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!h) Die("create file");
        DWORD size = (f * 2654435761u) % 4096, written = 0;
        if (size && !WriteFile(h.get(), content.data(), size, &written, nullptr)) Die("write file");
    }
    std::wstring marker = s.tree + L".ready";
    std::wstring text = Marker(L"tree", s.files, s.dirs);
    FileHandle m(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(m.get(), text.c_str(), DWORD(text.size() * 2), &written, nullptr);
    std::printf("  made in %.1f s\n", Now() - start);
}

// Keys in a tree of fan-out 10 below the bench key (key 0).
std::wstring KeyPath(unsigned index) {
    std::vector<unsigned> chain;
    for (unsigned i = index; i != 0; i = (i - 1) / 10) chain.push_back(i);
    std::wstring path;
    wchar_t name[48];
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        swprintf(name, 48, L"%lsKey%05u%ls", path.empty() ? L"" : L"\\", *it,
                 (*it % 4 == 0) ? L" {6BDD1FC6-810F-11D0}" : L"");
        path += name;
    }
    return path;
}

void MakeRegistry(const Settings& s) {
    RegKey root;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, s.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.put(),
                        nullptr))
        Die("create bench key");
    wchar_t ready[128] = {};
    DWORD size = sizeof ready - 2;
    std::wstring marker = Marker(L"keys", s.keys, s.values);
    if (RegQueryValueExW(root.get(), L"ready", nullptr, nullptr, reinterpret_cast<BYTE*>(ready), &size) == 0 &&
        marker == ready)
        return;
    std::printf("making %u keys with %u values...\n", s.keys, s.values);
    std::fflush(stdout);
    double start = Now();
    RegDeleteTreeW(root.get(), nullptr);
    unsigned valueIndex = 0;
    for (unsigned k = 0; k < s.keys; ++k) {
        RegKey key;
        if (k == 0) {
            RegOpenKeyExW(root.get(), nullptr, 0, KEY_ALL_ACCESS, key.put());
        } else if (RegCreateKeyExW(root.get(), KeyPath(k).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                   nullptr)) {
            Die("create key");
        }
        unsigned want = unsigned((uint64_t(k + 1) * s.values) / s.keys) - valueIndex;
        for (unsigned v = 0; v < want; ++v, ++valueIndex) {
            wchar_t name[32];
            switch (valueIndex % 3) {
                case 0: {
                    swprintf(name, 32, L"Path%u", v);
                    wchar_t data[96];
                    int n = swprintf(data, 96, L"C:\\Program Files\\Bench\\component%06u.dll", valueIndex);
                    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), (n + 1) * 2);
                    break;
                }
                case 1: {
                    swprintf(name, 32, L"Flags%u", v);
                    DWORD data = valueIndex;
                    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4);
                    break;
                }
                default: {
                    swprintf(name, 32, L"Blob%u", v);
                    BYTE data[40];
                    for (int b = 0; b < 40; ++b) data[b] = BYTE(valueIndex + b);
                    RegSetValueExW(key.get(), name, 0, REG_BINARY, data, 24 + valueIndex % 17);
                }
            }
        }
    }
    RegSetValueExW(root.get(), L"ready", 0, REG_SZ, reinterpret_cast<const BYTE*>(marker.c_str()),
                   DWORD((marker.size() + 1) * 2));
    std::printf("  made in %.1f s\n", Now() - start);
}

// ---------------------------------------------------------------------------
// Minimal walks: the listing and registry calls a scan cannot avoid, nothing
// recorded.

struct WalkCount {
    uint64_t entries = 0;
    uint64_t bytes = 0;
};

void RawDirectoryWalk(std::wstring& path, WIN32_FIND_DATAW& found, WalkCount& count,
                      std::vector<std::wstring>* directories = nullptr) {
    if (directories) directories->push_back(path);
    const size_t length = path.size();
    path += L"\\*";
    HANDLE find = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    path.resize(length);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const wchar_t* n = found.cFileName;
        if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
        ++count.entries;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            path += L'\\';
            path += n;
            RawDirectoryWalk(path, found, count, directories);
            path.resize(length);
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

struct RawRegistryBuffers {
    std::vector<wchar_t> name = std::vector<wchar_t>(256);
    std::vector<wchar_t> valueName = std::vector<wchar_t>(256);
    std::vector<BYTE> data = std::vector<BYTE>(256);
};

void RawRegistryWalk(HKEY key, RawRegistryBuffers& b, WalkCount& count, std::wstring* path = nullptr,
                     std::vector<std::wstring>* keys = nullptr) {
    if (keys) keys->push_back(*path);
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
    FILETIME written;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values, &longestName,
                         &longestData, nullptr, &written))
        return;
    if (b.valueName.size() < longestName + 1) b.valueName.resize(longestName + 1);
    if (b.data.size() < longestData + 2) b.data.resize(longestData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = DWORD(b.valueName.size()), dataLength = DWORD(b.data.size()), type;
        if (RegEnumValueW(key, i, b.valueName.data(), &nameLength, nullptr, &type, b.data.data(), &dataLength) == 0)
            count.bytes += dataLength;
    }
    count.entries += values;
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = DWORD(b.name.size());
        if (RegEnumKeyExW(key, i, b.name.data(), &length, nullptr, nullptr, nullptr, nullptr)) break;
        HKEY sub;
        if (RegOpenKeyExW(key, b.name.data(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &sub)) continue;
        ++count.entries;
        const size_t pathLength = path ? path->size() : 0;
        if (path) {
            *path += L'\\';
            *path += b.name.data();
        }
        RawRegistryWalk(sub, b, count, path, keys);
        if (path) path->resize(pathLength);
        RegCloseKey(sub);
    }
}

// ---------------------------------------------------------------------------
// scancap's side

// What the program hands the scanners: the bases and the loaded exclusion list.
struct ScanSetup {
    std::unique_ptr<ExcludeList> excludeList;
    std::vector<Str> bases;
};

void Scan(SnapshotStore& store, const ScanSetup& setup) { ScanAllBases(store, setup.bases, setup.excludeList.get()); }

ScanSetup ScanOptions(const std::wstring& base, const std::wstring& config) {
    ScanSetup options;
    options.excludeList = CreateExcludeList();
    if (!config.empty()) options.excludeList->LoadListFile(config.c_str());
    options.bases.emplace_back(base.c_str());
    return options;
}

uint64_t CountFileEntries(const SnapshotStore& store, uint32_t offset) {
    FileEntry entry;
    if (!store.ReadFileEntry(offset, entry)) return 0;
    uint64_t n = 0;
    for (uint32_t i = 0; i < store.ChildCount(offset, entry); ++i)
        n += 1 + CountFileEntries(store, store.ChildEntry(offset, entry, i));
    return n;
}

uint64_t CountRegistryEntries(const SnapshotStore& store, uint32_t offset) {
    RegKeyRecord key;
    if (!store.ReadKey(offset, key)) return 0;
    uint64_t n = store.ValueCount(key);
    for (uint32_t i = 0; i < store.SubkeyCount(offset, key); ++i)
        n += 1 + CountRegistryEntries(store, store.Subkey(offset, key, i));
    return n;
}

// ---------------------------------------------------------------------------
// Memory, measured in a child process so that nothing else it did counts.

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

int MemoryScanChild(const wchar_t* tree, const wchar_t* base, const wchar_t* snapshot, const wchar_t* config) {
    PROCESS_MEMORY_COUNTERS before = Memory();
    SnapshotStore store;
    ScanSetup options = ScanOptions(tree, config ? config : L"");
    options.bases.emplace_back(base);
    Scan(store, options);
    SaveSnapshot(store, snapshot);
    PROCESS_MEMORY_COUNTERS after = Memory();
    std::printf("%llu %llu %llu %llu %llu %llu\n", (unsigned long long)store.Used(),
                (unsigned long long)store.Capacity(), (unsigned long long)before.PeakWorkingSetSize,
                (unsigned long long)after.PeakWorkingSetSize, (unsigned long long)before.PagefileUsage,
                (unsigned long long)std::max(after.PeakPagefileUsage, after.PagefileUsage));
    return 0;
}

int MemoryLoadChild(const wchar_t* snapshot) {
    PROCESS_MEMORY_COUNTERS before = Memory();
    SnapshotStore store;
    LoadSnapshot(store, snapshot);
    PROCESS_MEMORY_COUNTERS after = Memory();
    std::printf("%llu %llu %llu %llu %llu %llu\n", (unsigned long long)store.Used(),
                (unsigned long long)store.Capacity(), (unsigned long long)before.PeakWorkingSetSize,
                (unsigned long long)after.PeakWorkingSetSize, (unsigned long long)before.PagefileUsage,
                (unsigned long long)std::max(after.PeakPagefileUsage, after.PagefileUsage));
    return 0;
}

std::string RunChild(const std::wstring& arguments) {
    wchar_t self[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readPipe, writePipe;
    CreatePipe(&readPipe, &writePipe, &sa, 0);
    SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    FileHandle reader(readPipe), writer(writePipe);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writer.get();
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        Die("start child");
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    writer.reset();
    std::string output;
    char buffer[512];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof buffer, &read, nullptr) && read) output.append(buffer, read);
    WaitForSingleObject(process.get(), INFINITE);
    return output;
}

void ReportMemory(const char* what, const std::string& line) {
    unsigned long long used, capacity, peakBefore, peakAfter, privateBefore, privateAfter;
    if (std::sscanf(line.c_str(), "%llu %llu %llu %llu %llu %llu", &used, &capacity, &peakBefore, &peakAfter,
                    &privateBefore, &privateAfter) != 6) {
        std::printf("%s: child failed: %s\n", what, line.c_str());
        return;
    }
    const double mib = 1024.0 * 1024.0;
    double budget = 1.1 * double(used) + 16 * mib;
    std::printf("%s: arena %.1f MiB; peak working set %.1f MiB (%.1f at start), private %.1f MiB (%.1f at start)\n",
                what, used / mib, peakAfter / mib, peakBefore / mib, privateAfter / mib, privateBefore / mib);
    std::printf("  peak working set / (1.1 x arena + 16 MiB) = %.2f, private / budget = %.2f (target <= 1)\n",
                peakAfter / budget, privateAfter / budget);
}

// ---------------------------------------------------------------------------

// Runs `a` and `b` alternately: one warm-up pair, then `runs` pairs.
// `prepare` runs untimed before each run of `a`.
void Compare(const char* title, int runs, const std::function<void()>& a, const std::function<void()>& b,
             double target, const char* aName, const char* bName, const std::function<void()>& prepare = {}) {
    std::vector<double> ta, tb;
    for (int i = 0; i <= runs; ++i) {
        if (prepare) prepare();
        double t0 = Now();
        a();
        double t1 = Now();
        b();
        double t2 = Now();
        if (i > 0) {
            ta.push_back(t1 - t0);
            tb.push_back(t2 - t1);
        }
        std::printf("  %s run %d: %s %.3f s, %s %.3f s%s\n", title, i, aName, t1 - t0, bName, t2 - t1,
                    i == 0 ? " (warm-up)" : "");
        std::fflush(stdout);
    }
    double ma = Median(ta), mb = Median(tb);
    double fa = *std::min_element(ta.begin(), ta.end()), fb = *std::min_element(tb.begin(), tb.end());
    std::printf("%s: median %s %.3f s, %s %.3f s, ratio %.3f; fastest %.3f s / %.3f s, ratio %.3f (target <= %.2f)\n\n",
                title, aName, ma, bName, mb, ma / mb, fa, fb, fa / fb, target);
    std::fflush(stdout);
}

int BenchMain(const Settings& s) {
    MakeTree(s);
    MakeRegistry(s);
    std::wstring registryBase = L"HKEY_CURRENT_USER\\" + s.key;
    {
        // What every scan pays besides its bases: the drive records.
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            SnapshotStore store;
            double t0 = Now();
            ScanAllBases(store, {}, nullptr);
            times.push_back(Now() - t0);
        }
        std::printf("drive records alone: %.4f s\n", Median(times));
    }
    std::printf("\n");

    {
        // The scanners' own work per directory and key besides the system
        // calls: the exclusion question and the published scan path.
        std::vector<std::wstring> directories, keys;
        WalkCount ignored;
        std::wstring path = s.tree;
        WIN32_FIND_DATAW found;
        RawDirectoryWalk(path, found, ignored, &directories);
        RegKey key;
        RegOpenKeyExW(HKEY_CURRENT_USER, s.key.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, key.put());
        RawRegistryBuffers buffers;
        std::wstring keyPath = registryBase;
        RawRegistryWalk(key.get(), buffers, ignored, &keyPath, &keys);
        ScanSetup options = ScanOptions(s.tree, s.config);
        double t0 = Now();
        for (const std::wstring& d : directories) {
            SetCurrentScanPath(d.c_str(), d.size());
            options.excludeList->IsFileIgnored(d.c_str());
        }
        double t1 = Now();
        for (const std::wstring& k : keys) {
            options.excludeList->IsRegistryKeyIgnored(k.c_str());
            SetCurrentScanPath(k.c_str(), k.size());
        }
        double t2 = Now();
        std::printf("exclusion questions and scan path: %zu directories %.4f s, %zu keys %.4f s\n",
                    directories.size(), t1 - t0, keys.size(), t2 - t1);
    }
    std::printf("\n");

    // File-system scan against the minimal walk.
    // The options (and the exclusion list they load) are made once, as the
    // program makes them before it scans; the previous store is freed untimed.
    std::unique_ptr<SnapshotStore> fileStore;
    WalkCount rawFiles;
    double loadStart = Now();
    ScanSetup fileOptions = ScanOptions(s.tree, s.config);
    std::printf("exclusion list loaded in %.4f s\n\n", Now() - loadStart);
    Compare(
        "file-system scan", s.runs,
        [&] {
            fileStore = std::make_unique<SnapshotStore>();
            Scan(*fileStore, fileOptions);
        },
        [&] {
            rawFiles = WalkCount{};
            std::wstring path = s.tree;
            WIN32_FIND_DATAW found;
            RawDirectoryWalk(path, found, rawFiles);
        },
        1.05, "scancap", "raw walk", [&] { fileStore.reset(); });
    std::printf("  entries: scancap %llu, raw walk %llu\n\n",
                (unsigned long long)CountFileEntries(*fileStore, kDirectoryRootsOffset),
                (unsigned long long)rawFiles.entries);

    std::unique_ptr<SnapshotStore> registryStore;
    WalkCount rawKeys;
    ScanSetup registryOptions = ScanOptions(registryBase, s.config);
    Compare(
        "registry scan", s.runs,
        [&] {
            registryStore = std::make_unique<SnapshotStore>();
            Scan(*registryStore, registryOptions);
        },
        [&] {
            rawKeys = WalkCount{};
            RegKey key;
            RegOpenKeyExW(HKEY_CURRENT_USER, s.key.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, key.put());
            RawRegistryBuffers buffers;
            RawRegistryWalk(key.get(), buffers, rawKeys);
        },
        1.05, "scancap", "raw walk", [&] { registryStore.reset(); });
    std::printf("  keys and values: scancap %llu, raw walk %llu\n\n",
                (unsigned long long)CountRegistryEntries(*registryStore, kDirectoryRootsOffset),
                (unsigned long long)rawKeys.entries);

    // Save and load of the file-system store against one raw call each.
    std::wstring folder = s.tree.substr(0, s.tree.rfind(L'\\'));
    Str snapshot((folder + L"\\bench.snapshot").c_str());
    std::wstring rawFile = folder + L"\\raw.snapshot";
    std::vector<uint8_t> image(16 + size_t(fileStore->Used()));
    std::memcpy(image.data(), "SnapshotVersion2", 16);
    std::memcpy(image.data() + 16, fileStore->Bytes(), fileStore->Used());
    std::printf("snapshot file: %.1f MiB\n", image.size() / (1024.0 * 1024.0));
    Compare(
        "save", s.runs * 3, [&] { SaveSnapshot(*fileStore, snapshot); },
        [&] {
            FileHandle f(CreateFileW(rawFile.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            if (!f || !WriteFile(f.get(), image.data(), DWORD(image.size()), &written, nullptr)) Die("raw write");
        },
        1.2, "SaveSnapshot", "raw WriteFile");
    Compare(
        "load", s.runs * 3,
        [&] {
            SnapshotStore store;
            LoadSnapshot(store, snapshot);
        },
        [&] {
            FileHandle f(CreateFileW(rawFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER size{};
            GetFileSizeEx(f.get(), &size);
            void* buffer = VirtualAlloc(nullptr, size_t(size.QuadPart), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
            DWORD read = 0;
            if (!buffer || !ReadFile(f.get(), buffer, DWORD(size.QuadPart), &read, nullptr)) Die("raw read");
            VirtualFree(buffer, 0, MEM_RELEASE);
        },
        1.2, "LoadSnapshot", "raw ReadFile");

    // Peak memory of a whole scan (tree and registry subtree) and of a load.
    std::wstring both = folder + L"\\both.snapshot";
    std::wstring args = L"--memory-scan \"" + s.tree + L"\" \"" + registryBase + L"\" \"" + both + L"\"";
    if (!s.config.empty()) args += L" \"" + s.config + L"\"";
    ReportMemory("scan and save", RunChild(args));
    ReportMemory("load", RunChild(L"--memory-load \"" + both + L"\""));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc >= 5 && !wcscmp(argv[1], L"--memory-scan"))
            return MemoryScanChild(argv[2], argv[3], argv[4], argc >= 6 ? argv[5] : nullptr);
        if (argc == 3 && !wcscmp(argv[1], L"--memory-load")) return MemoryLoadChild(argv[2]);
        Settings s;
        for (int i = 1; i + 1 < argc; i += 2) {
            std::wstring option = argv[i];
            const wchar_t* value = argv[i + 1];
            if (option == L"--files") s.files = unsigned(wcstoul(value, nullptr, 10));
            else if (option == L"--dirs") s.dirs = unsigned(wcstoul(value, nullptr, 10));
            else if (option == L"--keys") s.keys = unsigned(wcstoul(value, nullptr, 10));
            else if (option == L"--values") s.values = unsigned(wcstoul(value, nullptr, 10));
            else if (option == L"--runs") s.runs = int(wcstol(value, nullptr, 10));
            else if (option == L"--tree") s.tree = value;
            else if (option == L"--key") s.key = value;
            else if (option == L"--config") s.config = value;
            else {
                std::fprintf(stderr, "scan_bench: unknown option %ls\n", option.c_str());
                return 1;
            }
        }
        if (s.dirs == 0 || s.keys == 0 || s.runs < 1) return 1;
        return BenchMain(s);
    } catch (const Str& message) {
        std::fprintf(stderr, "scan_bench: %ls\n", message.c_str());
        return 1;
    }
}
