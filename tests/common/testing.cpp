#include "common/testing.h"

#include "support/handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace scancap::testing {
namespace {

std::atomic<unsigned> g_counter{0};

Str UniqueName(const wchar_t* stem) {
    Str name;
    name.Format(L"%ls-%lu-%u-%lu", stem, GetCurrentProcessId(), g_counter.fetch_add(1),
                static_cast<unsigned long>(GetTickCount()));
    return name;
}

void RemoveTree(const Str& path) {
    Str pattern = path;
    pattern += L"\\*";
    WIN32_FIND_DATAW fd;
    FindHandle find(FindFirstFileW(pattern.c_str(), &fd));
    if (find) {
        do {
            if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
            Str child = path;
            child += L"\\";
            child += fd.cFileName;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(child);
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(child.c_str());
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find.get(), &fd));
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

}  // namespace

TempDir::TempDir() {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) ADD_FAILURE() << "GetTempPathW failed";
    wchar_t longTemp[1024];
    DWORD m = GetLongPathNameW(temp, longTemp, 1024);
    path_ = (m > 0 && m < 1024) ? longTemp : temp;
    if (path_.EndsWith(L'\\')) path_.SetLength(path_.Length() - 1);
    path_ += L"\\sc-";
    path_ += UniqueName(L"t");
    if (!CreateDirectoryW(path_.c_str(), nullptr)) ADD_FAILURE() << "cannot create " << Utf8(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

Str TempDir::operator/(const wchar_t* relative) const {
    Str p = path_;
    p += L"\\";
    p += relative;
    return p;
}

TestRegKey::TestRegKey(const wchar_t* name) {
    subPath_ = L"Software\\scancap-tests\\";
    subPath_ += name;
    RegDeleteTreeW(HKEY_CURRENT_USER, subPath_.c_str());
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create test key " << Utf8(subPath_);
        key_ = nullptr;
    }
}

TestRegKey::~TestRegKey() {
    if (key_) RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, subPath_.c_str());
}

Str TestRegKey::FullPath() const {
    Str p = L"HKEY_CURRENT_USER\\";
    p += subPath_;
    return p;
}

void WriteFileBytes(const Str& path, const std::string& bytes) {
    FileHandle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f) << "cannot create " << Utf8(path);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

std::string ReadFileBytes(const Str& path) {
    FileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) {
        ADD_FAILURE() << "cannot open " << Utf8(path);
        return {};
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(f.get(), &size);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

std::string Utf8(const wchar_t* text, size_t length) {
    if (!text) return {};
    int n = length == static_cast<size_t>(-1) ? -1 : static_cast<int>(length);
    int size = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, n, out.data(), size, nullptr, nullptr);
    if (n == -1 && !out.empty()) out.pop_back();
    return out;
}

namespace {

// Drains a pipe on its own thread so a chatty child never blocks.
void Drain(HANDLE pipe, std::string* sink) {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) sink->append(buffer, read);
}

}  // namespace

ProcessResult RunProcess(const Str& commandLine, const wchar_t* currentDirectory) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &sa, 0);
    CreatePipe(&errRead, &errWrite, &sa, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    FileHandle outR(outRead), outW(outWrite), errR(errRead), errW(errWrite);
    // Standard input: the null device, so the child never waits for a key.
    FileHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul.get();
    si.hStdOutput = outW.get();
    si.hStdError = errW.get();
    PROCESS_INFORMATION pi{};
    Str cmd = commandLine;
    if (!CreateProcessW(nullptr, cmd.Data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, currentDirectory,
                        &si, &pi)) {
        ADD_FAILURE() << "cannot start " << Utf8(commandLine) << " error " << GetLastError();
        result.exitCode = 0xFFFFFFFF;
        return result;
    }
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    outW.reset();
    errW.reset();
    std::thread outThread(Drain, outR.get(), &result.out);
    std::thread errThread(Drain, errR.get(), &result.err);
    WaitForSingleObject(process.get(), INFINITE);
    outThread.join();
    errThread.join();
    GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

}  // namespace scancap::testing
