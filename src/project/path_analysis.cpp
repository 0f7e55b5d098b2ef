#include "project/path_analysis.h"

#include "project/overrides.h"

#include <cstring>

namespace scancap {
namespace {

constexpr wchar_t kUserEnvironment[] = L"HKEY_CURRENT_USER\\Environment";
constexpr wchar_t kMachineEnvironment[] =
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kSharedDlls[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// The directories of a store's Path value; none without the key or value.
std::vector<Str> PathDirectories(const SnapshotStore& store, const wchar_t* environmentKey) {
    std::vector<Str> directories;
    Str path;
    uint32_t key = store.FindKeyByPath(environmentKey);
    if (!key || !ReadStringValue(store, key, L"Path", path)) return directories;
    size_t start = 0;
    while (start <= path.Length()) {
        ptrdiff_t end = path.Find(L';', start);
        size_t stop = end < 0 ? path.Length() : size_t(end);
        if (stop > start) directories.push_back(path.Mid(start, stop - start));
        start = stop + 1;
    }
    return directories;
}

bool Holds(const std::vector<Str>& directories, const Str& directory) {
    for (const Str& d : directories) {
        if (d.EqualsNoCase(directory)) return true;
    }
    return false;
}

// The count of a SharedDlls value; false when it is no REG_DWORD.
bool UsageCount(const SnapshotStore& store, uint32_t valueOffset, uint32_t& count) {
    RegValueRecord value;
    if (!valueOffset || !store.ReadValue(valueOffset, value) || value.type != REG_DWORD) return false;
    count = 0;
    uint32_t length = value.dataLength < 4 ? value.dataLength : 4;
    const uint8_t* data = store.DataAt(value.dataOffset, length);
    if (data) std::memcpy(&count, data, length);
    return true;
}

}  // namespace

std::vector<Str> AnalyseEnvironmentPath(const SnapshotStore& post, const SnapshotStore& pre) {
    std::vector<Str> added;
    std::vector<Str> before = PathDirectories(pre, kUserEnvironment);
    for (Str& directory : PathDirectories(post, kUserEnvironment)) {
        if (!Holds(before, directory)) added.push_back(std::move(directory));
    }
    before = PathDirectories(pre, kMachineEnvironment);
    for (Str& directory : PathDirectories(post, kMachineEnvironment)) {
        if (!Holds(before, directory) && !Holds(added, directory)) added.push_back(std::move(directory));
    }
    return added;
}

void AnalyseSharedDlls(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre) {
    uint32_t postKey = post.FindKeyByPath(kSharedDlls);
    uint32_t preKey = pre.FindKeyByPath(kSharedDlls);
    RegKeyRecord key;
    if (!postKey || !preKey || !post.ReadKey(postKey, key)) return;
    Str name;
    uint32_t count = post.ValueCount(key);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t valueOffset = post.ValueAt(key, i);
        RegValueRecord value;
        if (!post.ReadValue(valueOffset, value)) continue;
        NameView valueName = post.Name(value.nameOffset);
        name.Assign(valueName.text, valueName.length);
        uint32_t before = 0, after = 0;
        if (UsageCount(post, valueOffset, after) && UsageCount(pre, pre.FindValue(preKey, name.c_str()), before) &&
            before < after)
            SetFileOverride(run, name, 0);
    }
}

}  // namespace scancap
