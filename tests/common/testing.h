// Shared test helpers: temporary folders, private registry keys, running a
// program and capturing its output bytes.
#pragma once

#include "support/str.h"

#include <string>

namespace scancap::testing {

// A unique folder under the prefix's TEMP, removed recursively on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const Str& Path() const { return path_; }
    // Path() + "\" + relative
    Str operator/(const wchar_t* relative) const;

private:
    Str path_;
};

// A unique key under HKEY_CURRENT_USER\Software, deleted at start and end.
class TestRegKey {
public:
    explicit TestRegKey(const wchar_t* name);
    ~TestRegKey();
    TestRegKey(const TestRegKey&) = delete;
    TestRegKey& operator=(const TestRegKey&) = delete;
    HKEY Get() const { return key_; }
    const Str& SubPath() const { return subPath_; }      // below HKEY_CURRENT_USER
    Str FullPath() const;                                // "HKEY_CURRENT_USER\Software\..."

private:
    HKEY key_ = nullptr;
    Str subPath_;
};

void WriteFileBytes(const Str& path, const std::string& bytes);
std::string ReadFileBytes(const Str& path);
// UTF-8 of a wide text (for readable assertions).
std::string Utf8(const wchar_t* text, size_t length = static_cast<size_t>(-1));
inline std::string Utf8(const Str& s) { return Utf8(s.c_str(), s.Length()); }

struct ProcessResult {
    DWORD exitCode = 0;
    std::string out;  // raw bytes of standard output
    std::string err;  // raw bytes of standard error
};
// Runs a command line with redirected standard streams and waits for it.
ProcessResult RunProcess(const Str& commandLine, const wchar_t* currentDirectory = nullptr);

}  // namespace scancap::testing
