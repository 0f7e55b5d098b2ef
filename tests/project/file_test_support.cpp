#include "project/file_test_support.h"

#include "common/testing.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

namespace scancap::testing {
namespace {

void WriteEntry(SnapshotStore& store, uint32_t offset, const Node& node) {
    FileEntry entry{};
    entry.nameOffset = store.AllocateName(node.name.c_str(), node.name.size());
    entry.creationTime = ToFileTime(node.created);
    entry.lastAccessTime = ToFileTime(node.accessed);
    entry.lastWriteTime = ToFileTime(node.written);
    entry.attributes = node.attributes;
    entry.sizeHigh = static_cast<uint32_t>(node.size >> 32);
    entry.sizeLow = static_cast<uint32_t>(node.size);
    entry.childCount = static_cast<uint32_t>(node.children.size());
    entry.childOffset = node.children.empty()
                            ? 0
                            : store.Allocate(static_cast<uint32_t>(sizeof(FileEntry) * node.children.size()));
    store.Write(offset, entry);
    for (size_t i = 0; i < node.children.size(); ++i)
        WriteEntry(store, entry.childOffset + static_cast<uint32_t>(i * sizeof(FileEntry)), node.children[i]);
}

uint64_t FromFileTime(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace

FILETIME ToFileTime(uint64_t value) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(value);
    t.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return t;
}

Node FileNode(const wchar_t* name, uint64_t written, uint64_t size) {
    Node n;
    n.name = name;
    n.written = written;
    n.size = size;
    return n;
}

Node DirNode(const wchar_t* name, std::vector<Node> children) {
    Node n;
    n.name = name;
    n.attributes = FILE_ATTRIBUTE_DIRECTORY;
    n.children = std::move(children);
    return n;
}

void BuildStore(SnapshotStore& store, const std::vector<Node>& roots) {
    uint32_t header = store.Allocate(sizeof(SnapshotHeader));
    ASSERT_EQ(header, 0u);
    uint32_t array = store.Allocate(static_cast<uint32_t>(sizeof(FileEntry) * roots.size()));
    ASSERT_EQ(array, kDirectoryRootsOffset);
    SnapshotHeader h{};
    h.directoryRootCount = static_cast<uint32_t>(roots.size());
    store.WriteHeader(h);
    for (size_t i = 0; i < roots.size(); ++i)
        WriteEntry(store, array + static_cast<uint32_t>(i * sizeof(FileEntry)), roots[i]);
}

Node NodeFromDisk(const Str& path) {
    Node node;
    node.name.assign(path.c_str(), path.Length());
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        ADD_FAILURE() << "no attributes for " << Utf8(path);
        return node;
    }
    node.attributes = data.dwFileAttributes;
    node.created = FromFileTime(data.ftCreationTime);
    node.accessed = FromFileTime(data.ftLastAccessTime);
    node.written = FromFileTime(data.ftLastWriteTime);
    node.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return node;
    Str pattern(path);
    pattern += L"\\*";
    WIN32_FIND_DATAW fd;
    FindHandle find(FindFirstFileW(pattern.c_str(), &fd));
    if (!find) return node;
    do {
        if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0) continue;
        Str child(path);
        child += L"\\";
        child += fd.cFileName;
        Node c = NodeFromDisk(child);
        c.name = fd.cFileName;
        node.children.push_back(std::move(c));
    } while (FindNextFileW(find.get(), &fd));
    std::sort(node.children.begin(), node.children.end(), [](const Node& a, const Node& b) {
        return CompareNamesUpcase(a.name.c_str(), a.name.size(), b.name.c_str(), b.name.size()) < 0;
    });
    return node;
}

std::wstring FakeExcludeList::Upper(const wchar_t* path) {
    std::wstring s(path);
    for (wchar_t& c : s) c = RtlUpcaseUnicodeChar(c);
    return s;
}

StdoutCapture::StdoutCapture() {
    wchar_t dir[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, dir);
    GetTempFileNameW(dir, L"out", 0, name);
    file_ = name;
    handle_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
    saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, handle_);
}

std::string StdoutCapture::Finish() {
    if (finished_) return {};
    finished_ = true;
    SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    CloseHandle(handle_);
    std::string bytes = ReadFileBytes(file_);
    DeleteFileW(file_.c_str());
    return bytes;
}

StdoutCapture::~StdoutCapture() { Finish(); }

}  // namespace scancap::testing
