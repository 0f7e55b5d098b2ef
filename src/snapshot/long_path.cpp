#include "snapshot/long_path.h"

#include "support/handles.h"

#include <cwchar>
#include <vector>

namespace scancap {

namespace {

// Below this length a path is handed to the system as it stands.
constexpr size_t kShortenThreshold = 180;
// CreateDirectoryW refuses paths that leave no room for an 8.3 file name.
constexpr size_t kDirectoryPathLimit = MAX_PATH - 12;

inline bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
inline bool IsDriveLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// Skips one component (up to a separator or `end`) and the separator after it.
size_t SkipComponent(const wchar_t* p, size_t i, size_t end) {
    while (i < end && !IsSeparator(p[i])) ++i;
    if (i < end) ++i;
    return i;
}

// Length of the part of a path that names no directory to create or look up:
// "C:\", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\", or a
// leading separator.
size_t RootLength(const wchar_t* p, size_t length) {
    if (length >= 4 && IsSeparator(p[0]) && IsSeparator(p[1]) && (p[2] == L'?' || p[2] == L'.') &&
        IsSeparator(p[3])) {
        size_t i = 4;
        if (length >= i + 4 && (p[i] == L'U' || p[i] == L'u') && (p[i + 1] == L'N' || p[i + 1] == L'n') &&
            (p[i + 2] == L'C' || p[i + 2] == L'c') && IsSeparator(p[i + 3])) {
            i = SkipComponent(p, i + 4, length);
            return SkipComponent(p, i, length);
        }
        if (length >= i + 2 && IsDriveLetter(p[i]) && p[i + 1] == L':')
            return (length > i + 2 && IsSeparator(p[i + 2])) ? i + 3 : i + 2;
        return i;
    }
    if (length >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        size_t i = SkipComponent(p, 2, length);
        return SkipComponent(p, i, length);
    }
    if (length >= 2 && IsDriveLetter(p[0]) && p[1] == L':')
        return (length > 2 && IsSeparator(p[2])) ? 3 : 2;
    if (length >= 1 && IsSeparator(p[0])) return 1;
    return 0;
}

Str FullPath(const Str& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD n = GetFullPathNameW(path.c_str(), DWORD(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return Str();
        if (n < buffer.size()) return Str(buffer.data(), n);
        buffer.resize(size_t(n) + 1);
    }
    return Str();
}

bool IsDirectory(const Str& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// The path to hand to the system: shortened, and when that is not enough, in
// the "\\?\" form that lifts the MAX_PATH limit (it needs a full path with
// backslashes only).
Str SystemPath(const Str& path, size_t limit) {
    Str shortened = ShortenLongPath(path);
    if (shortened.Length() < limit) return shortened;
    const wchar_t* p = shortened.c_str();
    if (shortened.Length() >= 4 && p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.') &&
        p[3] == L'\\')
        return shortened;
    Str full = FullPath(shortened);
    if (full.Length() < 2) return shortened;
    return LongPathForm(full);
}

Str LongPathForm(const Str& fullPath) {
    const wchar_t* p = fullPath.c_str();
    if (fullPath.Length() >= 4 && p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.') && p[3] == L'\\')
        return fullPath;
    Str result;
    if (fullPath.Length() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
        result.Assign(L"\\\\?\\UNC\\");
        result.Append(p + 2, fullPath.Length() - 2);
    } else {
        result.Assign(L"\\\\?\\");
        result.Append(fullPath);
    }
    return result;
}

Str ShortenLongPath(const Str& path) {
    if (path.Length() < kShortenThreshold) return path;
    ptrdiff_t lastSeparator = path.FindLast(L'\\');
    if (lastSeparator < 0) return path;

    const wchar_t* p = path.c_str();
    const size_t directoryLength = size_t(lastSeparator);
    size_t i = 0;
    if (directoryLength >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        i = SkipComponent(p, 2, directoryLength);  // server
        i = SkipComponent(p, i, directoryLength);  // share
    } else if (directoryLength >= 2 && IsDriveLetter(p[0]) && p[1] == L':') {
        i = 2;
        while (i < directoryLength && IsSeparator(p[i])) ++i;
    }

    Str rebuilt(p, i);
    Str probe;
    WIN32_FIND_DATAW found;
    while (i < directoryLength) {
        if (IsSeparator(p[i])) {
            rebuilt.Append(p + i, 1);
            ++i;
            continue;
        }
        size_t start = i;
        while (i < directoryLength && !IsSeparator(p[i])) ++i;
        probe.Assign(rebuilt.c_str(), rebuilt.Length());
        probe.Append(p + start, i - start);
        FindHandle find(FindFirstFileW(probe.c_str(), &found));
        if (!find) return path;
        if (found.cAlternateFileName[0]) rebuilt.Append(found.cAlternateFileName);
        else rebuilt.Append(p + start, i - start);
    }
    rebuilt.Append(L"\\", 1);
    rebuilt.Append(p + directoryLength + 1, path.Length() - directoryLength - 1);
    return rebuilt;
}

namespace {

// One level: 0 when made, else the Win32 error.
DWORD MakeLevel(const wchar_t* path, MakeDirectoryLevel make, void* context) {
    if (make) return make(path, context);
    return CreateDirectoryW(path, nullptr) ? 0 : GetLastError();
}

}  // namespace

bool CreateDirectoryTree(const Str& path, MakeDirectoryLevel make, void* context) {
    Str target = SystemPath(path, kDirectoryPathLimit);
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    // Upwards from the deepest level until one is made or found, then down
    // again: each missing level costs one call and only the nearest existing
    // one is touched. The levels are cut out of one buffer in place.
    wchar_t* p = target.Data();
    const size_t root = RootLength(p, target.Length());
    size_t end = target.Length();
    while (end > root && IsSeparator(p[end - 1])) --end;
    if (end <= root) return IsDirectory(target);
    p[end] = L'\0';

    size_t level = end;
    for (;;) {
        DWORD error = MakeLevel(p, make, context);
        if (error == 0) break;
        if (error != ERROR_PATH_NOT_FOUND) {
            // There already (a directory, or a file in the way), made
            // meanwhile, or refused though it exists (no right to create).
            DWORD found = GetFileAttributesW(p);
            if (found == INVALID_FILE_ATTRIBUTES || !(found & FILE_ATTRIBUTE_DIRECTORY)) return false;
            break;
        }
        size_t parent = level;
        while (parent > root && !IsSeparator(p[parent - 1])) --parent;
        while (parent > root && IsSeparator(p[parent - 1])) --parent;
        if (parent <= root) return false;
        level = parent;
        p[level] = L'\0';
    }
    while (level < end) {
        // Joins the level just made to the next one down, which ends at the
        // next cut.
        p[level] = L'\\';
        level = std::wcslen(p);
        DWORD error = MakeLevel(p, make, context);
        if (error != 0 && error != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

bool ProbeWritable(const Str& file) {
    Str full = FullPath(file);
    ptrdiff_t separator = full.FindLast(L'\\');
    if (separator < 0) return false;
    size_t rootLength = RootLength(full.c_str(), full.Length());
    // The parent of "C:\name" is "C:\", not "C:".
    Str parent = full.Left(size_t(separator) + 1 == rootLength ? rootLength : size_t(separator));
    if (!CreateDirectoryTree(parent)) return false;

    Str target = SystemPath(full, MAX_PATH);
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
        FileHandle created(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) return false;
        created.reset();
        DeleteFileW(target.c_str());
        return true;
    }
    // An existing file stays as it is; a directory cannot be opened this way.
    FileHandle existing(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(existing);
}

}  // namespace scancap
