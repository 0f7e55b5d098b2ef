// Builds the process-wide folder-macro tables on a known machine.
//
// The test prefix is 64-bit only: its 32-bit registry view has no program
// folder values, so the tables would fall back to the native folders. The
// machines below lay a copy of the prefix's HKEY_LOCAL_MACHINE folder keys
// over HKEY_LOCAL_MACHINE (RegOverridePredefKey) with the 32-bit view filled
// in the way 64-bit Windows has it; the user's shell folders stay real unless
// the machine replaces them too.
#pragma once

#include "support/str.h"

#include <string>

namespace scancap::testing {

enum class TablesMachine {
    // The prefix's own user, with a 32-bit view that has
    // "C:\Program Files (x86)" and its Common Files.
    Wow64,
    // As Wow64, but HKEY_CURRENT_USER is a private key with hand-made shell
    // folder values, the shell knows no folders, TEMP and USERPROFILE hold
    // markers and LOCALAPPDATA is unset while the tables are built.
    SyntheticUser,
};

// Markers and what the environment held after the tables were built.
struct SyntheticUserResult {
    static constexpr const wchar_t* kTempMarker = L"X:\\temp-marker";
    static constexpr const wchar_t* kProfileMarker = L"X:\\profile-marker";
    Str tempAfter;
    Str profileAfter;
    bool localAppDataSetAfter = false;
};

// Builds the tables once per process. False when this process already built
// them for the other machine (the caller then needs a process of its own, as
// ctest gives every test case).
bool BuildTablesOn(TablesMachine machine);
const SyntheticUserResult& SyntheticUserObservation();

// A copy of a text placed so that it ends exactly where an inaccessible page
// begins: reading one character beyond it faults.
class GuardedText {
public:
    // withTerminator: the terminating zero is part of the copy (for callers
    // that look for it).
    explicit GuardedText(const wchar_t* text, bool withTerminator = false);
    ~GuardedText();
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;
    const wchar_t* Get() const { return text_; }
    size_t Length() const { return length_; }

private:
    void* block_ = nullptr;
    wchar_t* text_ = nullptr;
    size_t length_ = 0;
};

std::wstring W(const Str& s);
// GetShortPathNameW / UrlCreateFromPathW of a path, checked.
std::wstring ShortForm(const std::wstring& path);
std::wstring UrlOf(const std::wstring& path);

// Value `name` of a key under HKEY_LOCAL_MACHINE (64-bit view) or
// HKEY_CURRENT_USER, as stored; empty when absent.
Str ReadRegistryText(HKEY root, const wchar_t* subkey, const wchar_t* name);

}  // namespace scancap::testing
