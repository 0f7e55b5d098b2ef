#include "install/native_install.h"

#include "snapshot/long_path.h"
#include "support/console.h"
#include "support/handles.h"
#include "support/name_encoding.h"

#include <cwchar>

namespace scancap {
namespace {

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// A folder that cannot be listed contributes nothing; the line says which
// and why. Like the other lines of the install, it goes out through the
// plain printer (see registry_import.cpp).
FindHandle ListFolder(const Str& folder, WIN32_FIND_DATAW& entry) {
    Str pattern;
    pattern.Format(L"%ls\\*", folder.c_str());
    FindHandle find(FindFirstFileW(SystemPath(pattern).c_str(), &entry));
    if (!find)
        PrintPlain(L"WARNING: Folder %ls could not be listed lasterror=%d\n", folder.c_str(), int(GetLastError()));
    return find;
}

}  // namespace

void CopyTree(const Str& source, const Str& target, bool printLog) {
    CreateDirectoryW(SystemPath(target).c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    FindHandle find = ListFolder(source, entry);
    if (!find) return;
    Str from;
    Str to;
    do {
        if (IsDotEntry(entry.cFileName) ||
            CompareStringOrdinal(entry.cFileName, -1, L"##Attributes.ini", -1, TRUE) == CSTR_EQUAL)
            continue;
        from.Format(L"%ls\\%ls", source.c_str(), entry.cFileName);
        to.Format(L"%ls\\%ls", target.c_str(), entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CopyTree(from, to, printLog);
        } else if (!CopyFileW(SystemPath(from).c_str(), SystemPath(to).c_str(), FALSE)) {
            const DWORD error = GetLastError();
            PrintPlain(L"WARNING: Copying %ls ---> %ls failed lasterror=%d\n", from.c_str(), to.c_str(), int(error));
        } else if (printLog) {
            PrintPlain(L"Copied %ls ---> %ls\n\n", from.c_str(), to.c_str());
        }
    } while (FindNextFileW(find.get(), &entry));
}

void InstallCapturedFiles(const Str& captureFolder, bool printLog) {
    WIN32_FIND_DATAW entry;
    FindHandle find = ListFolder(captureFolder, entry);
    if (!find) return;
    Str source;
    Str target;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] != L'%') continue;
        source.Format(L"%ls\\%ls", captureFolder.c_str(), entry.cFileName);
        // A macro this machine does not know would leave the name as it is,
        // a relative path: its tree would land below the working directory.
        if (!DecodeProjectPath(entry.cFileName, std::wcslen(entry.cFileName), target)) {
            PrintPlain(L"WARNING: Folder %ls names no folder of this machine\n", source.c_str());
            continue;
        }
        CopyTree(source, target, printLog);
    } while (FindNextFileW(find.get(), &entry));
}

}  // namespace scancap
