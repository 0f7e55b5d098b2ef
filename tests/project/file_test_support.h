// Helpers of the file-pass tests: stores built from a tree description or
// from a folder on disk, an exclusion list whose answers a test sets, a
// generation run that uses it, and stdout captured into bytes.
#pragma once

#include "project/project_run.h"
#include "snapshot/store.h"
#include "support/exclude_list.h"
#include "support/str.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace scancap::testing {

struct Node {
    std::wstring name;
    uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE;
    uint64_t created = 0x01d0000000000000ull;
    uint64_t accessed = 0x01d0000000000000ull;
    uint64_t written = 0x01d0000000000000ull;
    uint64_t size = 0;
    std::vector<Node> children;
};

Node FileNode(const wchar_t* name, uint64_t written = 0x01d0000000000000ull, uint64_t size = 10);
Node DirNode(const wchar_t* name, std::vector<Node> children = {});
FILETIME ToFileTime(uint64_t value);

inline Str operator+(const Str& a, const wchar_t* b) {
    Str r(a);
    r += b;
    return r;
}
inline Str operator+(const Str& a, const Str& b) {
    Str r(a);
    r += b;
    return r;
}

// Lays the roots out as a scan would: header, root array at 20, then each
// root's tree with every child array after its owner.
void BuildStore(SnapshotStore& store, const std::vector<Node>& roots);
// The tree below `path` as it is on disk, with its real times, sizes and
// attributes; the root node is named `path`. Children are sorted as NTFS
// lists them, whatever order the file system returned.
Node NodeFromDisk(const Str& path);

// An exclusion list that answers from sets of full paths (compared without
// regard to case).
class FakeExcludeList : public ExcludeList {
public:
    std::set<std::wstring> ignored, forcedWriteCopy, ie6To7, ie10Excluded, ie11Upgrade, ie11Excluded;

    void LoadListFile(const wchar_t*) override {}
    bool FindAndLoad(const wchar_t*, Str&) override { return true; }
    bool IsRegistryKeyIgnored(const wchar_t*) override { return false; }
    bool IsFileIgnored(const wchar_t* path) override { return Has(ignored, path); }
    bool IsForcedWriteCopy(const wchar_t* path) override { return Has(forcedWriteCopy, path); }
    void AddRegistryIgnore(const wchar_t*) override {}
    void AddFileIgnore(const wchar_t* path) override { ignored.insert(Upper(path)); }
    bool IsIE6To7UpgradeRegistryLocation(const wchar_t*) override { return false; }
    bool IsIE6To7UpgradeFileLocation(const wchar_t* path) override { return Has(ie6To7, path); }
    bool IsIE10ExcludedFile(const wchar_t* path) override { return Has(ie10Excluded, path); }
    bool IsIE11UpgradeFileLocation(const wchar_t* path) override { return Has(ie11Upgrade, path); }
    bool IsIE11ExcludedFile(const wchar_t* path) override { return Has(ie11Excluded, path); }

    static std::wstring Upper(const wchar_t* path);

private:
    static bool Has(const std::set<std::wstring>& set, const wchar_t* path) { return set.count(Upper(path)) > 0; }
};

// A -Diff generation run as the driver makes one, asking a FakeExcludeList.
struct TestRun {
    TestRun() { run.excludeList = &lists; }
    TestRun(const TestRun&) = delete;
    TestRun& operator=(const TestRun&) = delete;
    FakeExcludeList lists;
    ProjectRun run;
};

// Standard output of the calls made while it lives, as bytes.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string Finish();

private:
    Str file_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE saved_ = nullptr;
    bool finished_ = false;
};

}  // namespace scancap::testing
