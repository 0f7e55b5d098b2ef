#include "project/file_tree.h"

#include "project/com_analysis.h"
#include "project/overrides.h"
#include "snapshot/long_path.h"
#include "support/console.h"
#include "support/fatal.h"
#include "support/handles.h"
#include "support/name_encoding.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace scancap {
namespace {

constexpr const wchar_t* kAttributesFileName = L"##Attributes.ini";

// Top-level macro folders that every project declares, after Package.ini.
constexpr const wchar_t* kWriteCopyFolders[] = {
    L"%AppData%",         L"%Local AppData%",        L"%Common AppData%",
    L"%SystemRoot%",      L"%SystemSystem%",         L"%ProgramFilesDir%",
    L"%ProgramFilesDir(x64)%", L"%SystemSystem(x64)%", L"%Program Files Common%",
};
// Folders whose contents always merge with the machine's, whatever was
// captured below them.
constexpr const wchar_t* kMergedFolders[] = {
    L"%Personal%",
    L"%Desktop%",
    L"%SystemSystem%\\spool",
    L"%SystemSystem(x64)%\\spool",
};

void AppendSeparator(Str& path) {
    if (!path.EndsWith(L'\\')) path += L'\\';
}

// The name under which an attribute file is created: the \\?\ form of the
// directory's full path, so that neither a long project path nor a trailing
// dot or space in a captured directory name gets in the way. The full path
// comes first because the \\?\ form takes no relative or "/" paths.
void AttributeFileName(const Str& directory, Str& out, Str& scratch) {
    const Str* full = &directory;
    // `scratch` keeps its room from one directory to the next, so the full
    // path usually takes one call and no allocation.
    if (scratch.Capacity() < MAX_PATH) scratch.Reserve(MAX_PATH, true);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD room = static_cast<DWORD>(scratch.Capacity() - 1);
        DWORD length = GetFullPathNameW(directory.c_str(), room, scratch.Data(), nullptr);
        if (length == 0) break;
        if (length < room) {
            scratch.SetLength(length);
            full = &scratch;
            break;
        }
        scratch.Reserve(length, true);
    }
    if (full->Length() >= 4 && std::wcsncmp(full->c_str(), L"\\\\?\\", 4) == 0) {
        out = *full;
    } else if (full->Length() >= 2 && (*full)[0] == L'\\' && (*full)[1] == L'\\') {
        out.Assign(L"\\\\?\\UNC");
        out.Append(full->c_str() + 1, full->Length() - 1);
    } else {
        out.Assign(L"\\\\?\\");
        out.Append(*full);
    }
    AppendSeparator(out);
    out.Append(kAttributesFileName);
}

// Writes an attribute file; false with the failing step when it cannot.
enum class WriteResult { Ok, CannotCreate, CannotWrite };
WriteResult WriteAttributesFile(const Str& fileName, const wchar_t* mode, DWORD share) {
    char text[96];
    size_t length = FormatAttributesText(mode, text, sizeof text);
    FileHandle file(CreateFileW(fileName.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return WriteResult::CannotCreate;
    DWORD written = 0;
    if (!WriteFile(file.get(), text, static_cast<DWORD>(length), &written, nullptr) ||
        written != length)
        return WriteResult::CannotWrite;
    return WriteResult::Ok;
}

// Deletes every attribute file in `directory` and below it. `directory` is
// extended while descending and restored on return.
void RemoveAttributeFiles(Str& directory, int depth) {
    size_t length = directory.Length();
    AppendSeparator(directory);
    size_t childStart = directory.Length();
    directory.Append(L"*");
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(ShortenLongPath(directory).c_str(), &data));
    if (find) {
        do {
            const wchar_t* name = data.cFileName;
            if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
            directory.SetLength(childStart);
            directory.Append(name);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link inside a project could lead anywhere; it is not followed.
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth + 1 < kMaxTreeDepth)
                    RemoveAttributeFiles(directory, depth + 1);
            } else if (CompareStringOrdinal(name, -1, kAttributesFileName, -1, TRUE) == CSTR_EQUAL) {
                DeleteFileW(ShortenLongPath(directory).c_str());
            }
        } while (FindNextFileW(find.get(), &data));
    }
    directory.SetLength(length);
}

// One top-level folder: the folder itself (a single level) and its
// attribute file; failures are not reported.
void WriteTopLevelFolder(const Str& outputDir, const wchar_t* name, const wchar_t* mode, bool merged) {
    Str folder(outputDir);
    AppendSeparator(folder);
    folder.Append(name);
    CreateDirectoryW(ShortenLongPath(folder).c_str(), nullptr);
    if (merged) RemoveAttributeFiles(folder, 0);
    Str fileName(folder);
    AppendSeparator(fileName);
    fileName.Append(kAttributesFileName);
    WriteAttributesFile(ShortenLongPath(fileName), mode, FILE_SHARE_READ);
}

// Copies the data of `source` over `target` through one pair of handles, so
// that the times and attributes go along without opening either file again
// (each open is a server round trip under Wine, and a project copy is
// dominated by them). With `basicInformation` the target takes all of the
// source's basic information, hidden cleared; without it, what a plain file
// copy gives: the source's attribute word and last-write time. A partial
// target is removed.
bool CopyFileData(const Str& source, const Str& target, bool basicInformation) {
    FileHandle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return false;
    FileHandle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out) return false;
    static char buffer[1 << 16];  // the pass runs on one thread
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) {
            out.reset();
            DeleteFileW(target.c_str());
            return false;
        }
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(out.get(), buffer, got, &put, nullptr) || put != got) {
            out.reset();
            DeleteFileW(target.c_str());
            return false;
        }
    }
    // Read after the data, as the copy's reads may have moved the source's
    // last-access time.
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(in.get(), FileBasicInfo, &info, sizeof info)) return true;
    if (basicInformation) {
        info.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
        // Zero would mean "leave the attributes as they are".
        if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    } else {
        info.CreationTime.QuadPart = 0;  // zero leaves a field as it is
        info.LastAccessTime.QuadPart = 0;
        info.ChangeTime.QuadPart = 0;
    }
    SetFileInformationByHandle(out.get(), FileBasicInfo, &info, sizeof info);
    return true;
}

// What a project copy takes from a machine entry: its times and its
// attribute word with the hidden bit cleared. The facts come from a path
// query, which needs no handle of its own: a third of the cost of an open,
// query and close under Wine, where each of those is a server round trip.
bool ReadBasicInformation(const Str& source, FILE_BASIC_INFO& info) {
    UNICODE_STRING ntPath;
    if (!RtlDosPathNameToNtPathName_U(source.c_str(), &ntPath, nullptr, nullptr)) return false;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &ntPath, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    FILE_NETWORK_OPEN_INFORMATION facts;
    NTSTATUS status = NtQueryFullAttributesFile(&object, &facts);
    RtlFreeUnicodeString(&ntPath);
    if (status < 0) return false;
    info.CreationTime = facts.CreationTime;
    info.LastAccessTime = facts.LastAccessTime;
    info.LastWriteTime = facts.LastWriteTime;
    info.ChangeTime = facts.ChangeTime;
    info.FileAttributes = facts.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
    // Zero would mean "leave the attributes as they are", which would keep
    // the hidden bit that the copy inherited.
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return true;
}

// The project directories this pass made, each still open for writing its
// attributes through the handle that made it: when the walk has written a
// directory's contents and puts the machine directory's times on it, that
// costs neither an open nor a second close. Entries are kept in the order
// made, which is the walk's order, and their buffers are reused.
class MadeDirectories {
public:
    MadeDirectories() = default;
    MadeDirectories(const MadeDirectories&) = delete;
    MadeDirectories& operator=(const MadeDirectories&) = delete;

    // CreateDirectoryTree, keeping every level it makes.
    bool Make(const Str& path) { return CreateDirectoryTree(path, &MakeLevel, this); }

    // Puts the basic information of `machinePath` on the project directory
    // `projectPath` through its kept handle, or by opening it when none is
    // kept (a directory of an earlier run, or one never made: silent).
    // Directories made after it are closed: the walk is done with them.
    void Restore(const Str& machinePath, const Str& projectPath) {
        Str target = ShortenLongPath(projectPath);
        size_t i = count_;
        while (i > 0 && entries_[i - 1].path != target) --i;
        if (i == 0) {
            CopyBasicInformation(machinePath, projectPath, true);
            return;
        }
        FILE_BASIC_INFO info;
        if (ReadBasicInformation(machinePath, info))
            SetFileInformationByHandle(entries_[i - 1].handle.get(), FileBasicInfo, &info, sizeof info);
        while (count_ >= i) entries_[--count_].handle.reset();
    }

private:
    static DWORD MakeLevel(const wchar_t* path, void* context) {
        auto* self = static_cast<MadeDirectories*>(context);
        UNICODE_STRING ntPath;
        if (!RtlDosPathNameToNtPathName_U(path, &ntPath, nullptr, nullptr)) return ERROR_PATH_NOT_FOUND;
        OBJECT_ATTRIBUTES object;
        InitializeObjectAttributes(&object, &ntPath, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
        IO_STATUS_BLOCK io;
        HANDLE handle = nullptr;
        // What CreateDirectoryW asks for, with the right to write attributes.
        NTSTATUS status = NtCreateFile(&handle, FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, &object,
                                       &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_CREATE,
                                       FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                                       nullptr, 0);
        RtlFreeUnicodeString(&ntPath);
        if (status < 0) {
            DWORD error = RtlNtStatusToDosError(status);
            // Where the right to write attributes is not granted, the
            // directory is made without a handle and restored by path later.
            if (error != ERROR_ACCESS_DENIED) return error;
            return CreateDirectoryW(path, nullptr) ? 0 : GetLastError();
        }
        FileHandle made(handle);
        if (self->count_ == self->entries_.size()) self->entries_.emplace_back();
        Entry& entry = self->entries_[self->count_++];
        entry.path.Assign(path);
        entry.handle = std::move(made);
        return 0;
    }

    struct Entry {
        Str path;  // as handed to the system
        FileHandle handle;
    };
    std::vector<Entry> entries_;
    size_t count_ = 0;
};

// Diff mode, one created or modified file: creates the parent directories,
// prints "Copying ..." (unless quiet) and copies the file with its basic
// information; a failed copy is retried once after the target's attributes
// are reset, and then only warned about. True when the project path now
// holds the copy.
bool CopyProjectFile(const Str& outputDir, const Str& machinePath, bool quiet, MadeDirectories& made,
                     Str& projectPath, Str& scratch) {
    ProjectPath(outputDir, machinePath, projectPath, scratch);
    ptrdiff_t cut = projectPath.FindLast(L'\\');
    if (cut > 0) {
        scratch.Assign(projectPath.c_str(), static_cast<size_t>(cut));
        made.Make(scratch);
    }
    if (!quiet) PrintPlain(L"Copying %ls\n", machinePath.c_str());

    Str source = ShortenLongPath(machinePath);
    Str target = ShortenLongPath(projectPath);
    if (CopyFileData(source, target, true)) return true;
    // A read-only copy from an earlier run refuses to be replaced. A copy
    // made only on this second attempt keeps what a plain copy gives it.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (CopyFileData(source, target, false)) return true;
    if (!quiet) PrintWarning(L"Could not copy file %ls -> %ls\n", machinePath.c_str(), projectPath.c_str());
    return false;
}

// Diff mode, one created or forced directory: creates it with its parents
// and writes its ##Attributes.ini (WriteCopy when the exclusion list forces
// it, else `mode`). Fatal when the directory or the attribute file cannot be
// made.
void WriteProjectDirectory(const Str& outputDir, const Str& machinePath, const wchar_t* mode, ExcludeList* lists,
                           MadeDirectories& made, Str& projectPath, Str& scratch) {
    ProjectPath(outputDir, machinePath, projectPath, scratch);
    if (!made.Make(projectPath) &&
        GetFileAttributesW(ShortenLongPath(projectPath).c_str()) == INVALID_FILE_ATTRIBUTES)
        Fatal(L"Could not create directory: %ls", projectPath.c_str());
    // The machine directory's times and attributes are put on it once, after
    // its contents (the attribute file below included) are written: a copy
    // here would be overwritten by that one and only cost a round trip.

    if (lists && lists->IsForcedWriteCopy(machinePath.c_str())) mode = kModeWriteCopy;

    Str fileName;
    AttributeFileName(projectPath, fileName, scratch);
    switch (WriteAttributesFile(fileName, mode, FILE_SHARE_WRITE)) {
    case WriteResult::CannotCreate:
        Fatal(L"Unable to create file %ls", fileName.c_str());
    case WriteResult::CannotWrite:
        Fatal(L"Unable to write to %ls", fileName.c_str());
    case WriteResult::Ok:
        break;
    }
}

// After a directory's children were written: its project copy gets the
// machine directory's times and attributes again. Silent when there is no
// project copy.
void RestoreDirectoryInformation(const Str& outputDir, const Str& machinePath, MadeDirectories& made,
                                 Str& projectPath, Str& scratch) {
    ProjectPath(outputDir, machinePath, projectPath, scratch);
    made.Restore(machinePath, projectPath);
}

enum class Change { None, Modified, Created };

bool SameFile(const SnapshotStore& post, const FileEntry& now, const SnapshotStore& pre,
              const FileEntry& before) {
    if (CompareFileTime(&now.lastWriteTime, &before.lastWriteTime) != 0 ||
        CompareFileTime(&now.creationTime, &before.creationTime) != 0 ||
        now.sizeHigh != before.sizeHigh || now.sizeLow != before.sizeLow)
        return false;
    // A rename that changed only the letter case counts as a change.
    NameView a = post.Name(now.nameOffset);
    NameView b = pre.Name(before.nameOffset);
    return a.length == b.length && std::wmemcmp(a.text, b.text, a.length) == 0;
}

// The file rules over one store walk. One path buffer serves the whole walk:
// each level appends its child's name and cuts it off again, so no entry
// costs an allocation of its own.
class FilePass {
public:
    FilePass(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre)
        : run_(run), post_(post), pre_(pre), outputDir_(run.outputDir), lists_(run.excludeList),
          upgrade_(run.upgrade), print_(run.printOnly) {}

    void Run() {
        uint32_t roots = post_.DirectoryRootCount();
        for (uint32_t r = 0; r < roots; ++r) {
            uint32_t offset = post_.DirectoryRoot(r);
            FileEntry root;
            if (!offset || !post_.ReadFileEntry(offset, root)) continue;
            NameView name = post_.Name(root.nameOffset);
            path_.Assign(name.text, name.length);
            if (Children(offset, root, 1) && !print_)
                RestoreDirectoryInformation(outputDir_, path_, made_, projectPath_, scratch_);
        }
    }

private:
    // Applies the rules to the children of the directory at path_. Returns
    // whether anything was written into the project at or below them.
    bool Children(uint32_t ownerOffset, const FileEntry& owner, int depth) {
        bool wrote = false;
        const size_t parentLength = path_.Length();
        const bool separator = !path_.EndsWith(L'\\');
        const uint32_t count = post_.ChildCount(ownerOffset, owner);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t offset = post_.ChildEntry(ownerOffset, owner, i);
            FileEntry entry;
            if (!offset || !post_.ReadFileEntry(offset, entry)) break;
            NameView name = post_.Name(entry.nameOffset);
            path_.SetLength(parentLength);
            if (separator) path_ += L'\\';
            path_.Append(name.text, name.length);
            wrote |= Child(offset, entry, depth);
        }
        path_.SetLength(parentLength);
        return wrote;
    }

    bool Child(uint32_t offset, const FileEntry& entry, int depth) {
        if (path_.Find(L"perflib_perfdata_") >= 0) return false;
        if (lists_ && lists_->IsFileIgnored(path_.c_str())) return false;

        FileEntry before;
        const bool found = pre_.FindFileEntry(path_.c_str(), before);

        bool forced = false;
        bool included = false;
        const wchar_t* mode = kModeFull;
        auto& includedFiles = run_.includedFiles;
        if (!includedFiles.empty()) {
            upper_.Assign(path_.c_str(), path_.Length());
            upper_.MakeUpper();
            auto it = includedFiles.find(upper_);
            if (it != includedFiles.end()) {
                included = true;
                forced = true;
                if (it->second & kFileWriteCopy) mode = kModeWriteCopy;
            }
        }
        if (!included && lists_) {
            if (upgrade_.ieUpgrade6To7 && lists_->IsIE6To7UpgradeFileLocation(path_.c_str())) {
                forced = true;
            } else if (upgrade_.ieUpgradeTo10 && lists_->IsIE10ExcludedFile(path_.c_str())) {
                return false;
            } else if (upgrade_.ieUpgradeTo11) {
                if (lists_->IsIE11ExcludedFile(path_.c_str())) return false;
                forced = lists_->IsIE11UpgradeFileLocation(path_.c_str());
            }
        }

        const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        Change change;
        if (forced)
            change = Change::Modified;
        else if (!found)
            change = Change::Created;
        else if (directory || SameFile(post_, entry, pre_, before))
            change = Change::None;
        else
            change = Change::Modified;

        bool wrote = false;
        if (change != Change::None && !IsSnapshotFile()) {
            if (directory) {
                if (print_) {
                    PrintDirectoryLine(path_);
                } else {
                    WriteProjectDirectory(outputDir_, path_, mode, lists_, made_, projectPath_, scratch_);
                    wrote = true;
                }
            } else if (print_) {
                PrintFileLine(change == Change::Modified, path_);
            } else {
                if (change == Change::Modified) NoteModifiedFile(run_, path_);
                if (!CopyProjectFile(outputDir_, path_, run_.quiet, made_, projectPath_, scratch_))
                    ++run_.failedCopies;
                wrote = true;
            }
        }

        bool below = false;
        if (post_.ChildCount(offset, entry) > 0 && depth < kMaxTreeDepth) below = Children(offset, entry, depth + 1);
        // The directory's times were disturbed by what was written into it,
        // its own attribute file included, so the machine directory's are put
        // back now; a project directory that this run did not touch is left
        // alone.
        if (directory && (below || wrote) && !print_)
            RestoreDirectoryInformation(outputDir_, path_, made_, projectPath_, scratch_);
        wrote |= below;

        if (included) {
            // Looked up again: the walk below reused upper_.
            upper_.Assign(path_.c_str(), path_.Length());
            upper_.MakeUpper();
            includedFiles.erase(upper_);
        }
        return wrote;
    }

    bool IsSnapshotFile() const {
        return path_.EqualsNoCase(run_.preSnapshot) || path_.EqualsNoCase(run_.postSnapshot);
    }

    ProjectRun& run_;
    const SnapshotStore& post_;
    const SnapshotStore& pre_;
    const Str& outputDir_;
    ExcludeList* lists_;
    const UpgradeFlags upgrade_;
    const bool print_;
    Str path_;
    Str upper_;
    Str projectPath_;
    Str scratch_;
    MadeDirectories made_;
};

}  // namespace

void ProjectPath(const Str& outputDir, const Str& machinePath, Str& out, Str& scratch) {
    out.Assign(outputDir.c_str(), outputDir.Length());
    AppendSeparator(out);
    if (EncodeMachinePath(machinePath, scratch, nullptr))
        out.Append(scratch);
    else
        out.Append(machinePath);
}

bool CopyBasicInformation(const Str& source, const Str& destination, bool isDirectory) {
    FILE_BASIC_INFO info;
    if (!ReadBasicInformation(source, info)) return false;
    // Directories can only be opened as handles with backup semantics.
    FileHandle out(CreateFileW(ShortenLongPath(destination).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, isDirectory ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr));
    if (!out) return false;
    return SetFileInformationByHandle(out.get(), FileBasicInfo, &info, sizeof info) != FALSE;
}

size_t FormatAttributesText(const wchar_t* mode, char* buffer, size_t capacity) {
    static constexpr char kHead[] = "[Isolation]\r\nDirectoryIsolationMode=";
    size_t length = 0;
    auto put = [&](char c) {
        if (length + 1 < capacity) buffer[length++] = c;
    };
    for (const char* p = kHead; *p; ++p) put(*p);
    // Mode names are ASCII.
    for (const wchar_t* p = mode; *p; ++p) put(static_cast<char>(*p));
    put('\r');
    put('\n');
    if (capacity > 0) buffer[length] = '\0';
    return length;
}

void PrintFileLine(bool modified, const Str& machinePath) {
    PrintPlain(L"%ls : %ls\n", modified ? L"ModifiedFile    " : L"CreatedFile     ", machinePath.c_str());
}

void PrintDirectoryLine(const Str& machinePath) {
    PrintPlain(L"CreatedDirectory : %ls\n", machinePath.c_str());
}

void WriteTopLevelFolderAttributes(const Str& outputDir) {
    for (const wchar_t* name : kWriteCopyFolders) WriteTopLevelFolder(outputDir, name, kModeWriteCopy, false);
    for (const wchar_t* name : kMergedFolders) WriteTopLevelFolder(outputDir, name, kModeMerged, true);
}

void RunFilePass(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre) {
    FilePass(run, post, pre).Run();
}

}  // namespace scancap
