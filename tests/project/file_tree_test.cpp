// The project file tree written by a Diff-mode file pass: copies with their
// times and attributes, directories with their attribute files, and the
// top-level macro folders.
#include "project/file_test_support.h"
#include "project/file_tree.h"
#include "snapshot/long_path.h"
#include "project/overrides.h"

#include "common/testing.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <memory>

namespace scancap::testing {
namespace {

const std::string kFullText = "[Isolation]\r\nDirectoryIsolationMode=Full\r\n";
const std::string kWriteCopyText = "[Isolation]\r\nDirectoryIsolationMode=WriteCopy\r\n";
const std::string kMergedText = "[Isolation]\r\nDirectoryIsolationMode=Merged\r\n";

struct Times {
    FILETIME created, accessed, written;
};

Times ReadTimes(const Str& path) {
    Times t{};
    FileHandle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EXPECT_TRUE(h) << Utf8(path);
    if (h) GetFileTime(h.get(), &t.created, &t.accessed, &t.written);
    return t;
}

void SetTimes(const Str& path, uint64_t created, uint64_t accessed, uint64_t written) {
    FileHandle h(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(h) << Utf8(path);
    FILETIME c = ToFileTime(created), a = ToFileTime(accessed), w = ToFileTime(written);
    ASSERT_TRUE(SetFileTime(h.get(), &c, &a, &w));
}

bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

bool Exists(const Str& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class FileTree : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = dir_ / L"machine";
        output_ = dir_ / L"project";
        ASSERT_TRUE(CreateDirectoryW(machine_.c_str(), nullptr));
    }

    Str Machine(const wchar_t* relative) const {
        Str p(machine_);
        p += L"\\";
        p += relative;
        return p;
    }
    Str Project(const Str& machinePath) const {
        Str out, scratch;
        ProjectPath(output_, machinePath, out, scratch);
        return out;
    }
    void MakeDir(const wchar_t* relative) { ASSERT_TRUE(CreateDirectoryW(Machine(relative).c_str(), nullptr)); }
    void MakeFile(const wchar_t* relative, const std::string& bytes) { WriteFileBytes(Machine(relative), bytes); }

    // One Diff-mode file pass: the pre store holds `preRoots`, the post store
    // the machine folder as it is now.
    std::string Generate(const std::vector<Node>& preRoots = {}) {
        SnapshotStore pre;
        BuildStore(pre, preRoots);
        BuildStore(*post_, {NodeFromDisk(machine_)});
        StdoutCapture capture;
        RunFilePass(*post_, pre, output_);
        return capture.Finish();
    }

    OptionsScope options_;
    TempDir dir_;
    Str machine_;
    Str output_;
    std::unique_ptr<SnapshotStore> post_ = std::make_unique<SnapshotStore>();
};

TEST_F(FileTree, ProjectPathsUseDriveMacrosAndNeverDoubleTheSeparator) {
    Str out, scratch;
    ProjectPath(Str(L"C:\\Out"), Str(L"D:\\Data\\x.txt"), out, scratch);
    EXPECT_EQ(Utf8(out), "C:\\Out\\%drive_D%\\Data\\x.txt");
    ProjectPath(Str(L"C:\\Out\\"), Str(L"D:\\Data\\x.txt"), out, scratch);
    EXPECT_EQ(Utf8(out), "C:\\Out\\%drive_D%\\Data\\x.txt");
    // No macro applies to a share: the path is taken as it stands.
    ProjectPath(Str(L"C:\\Out"), Str(L"\\\\server\\share\\x"), out, scratch);
    EXPECT_EQ(Utf8(out), "C:\\Out\\\\\\server\\share\\x");
}

TEST_F(FileTree, CreatedFilesAreCopiedWithTheirTimesAndAVisibleAttributeWord) {
    MakeFile(L"hidden.txt", "secret");
    MakeFile(L"plain.txt", "plain");
    SetTimes(Machine(L"hidden.txt"), 0x01d1000000000000ull, 0x01d3000000000000ull, 0x01d2000000000000ull);
    ASSERT_TRUE(SetFileAttributesW(Machine(L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(Machine(L"plain.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));

    std::string out = Generate();

    // Times first: reading the files would move their last-access times.
    Str copy = Project(Machine(L"hidden.txt"));
    Times source = ReadTimes(Machine(L"hidden.txt"));
    Times t = ReadTimes(copy);
    EXPECT_TRUE(SameTime(t.written, source.written));
    EXPECT_TRUE(SameTime(t.accessed, source.accessed));
    EXPECT_TRUE(SameTime(t.created, source.created));
    EXPECT_TRUE(SameTime(source.written, ToFileTime(0x01d2000000000000ull)));

    EXPECT_EQ(out, "Copying " + Utf8(Machine(L"hidden.txt")) + "\nCopying " + Utf8(Machine(L"plain.txt")) + "\n");
    EXPECT_EQ(ReadFileBytes(copy), "secret");
    for (const wchar_t* name : {L"hidden.txt", L"plain.txt"}) {
        DWORD machine = GetFileAttributesW(Machine(name).c_str());
        ASSERT_TRUE(machine & FILE_ATTRIBUTE_HIDDEN) << Utf8(name);
        DWORD visible = machine & ~DWORD(FILE_ATTRIBUTE_HIDDEN);
        EXPECT_EQ(GetFileAttributesW(Project(Machine(name)).c_str()), visible ? visible : DWORD(FILE_ATTRIBUTE_NORMAL))
            << Utf8(name);
    }
}

TEST_F(FileTree, AReadOnlyCopyOfAnEarlierRunIsReplaced) {
    MakeFile(L"app.dll", "version 1");
    ASSERT_TRUE(SetFileAttributesW(Machine(L"app.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    Generate();
    Str copy = Project(Machine(L"app.dll"));
    ASSERT_EQ(ReadFileBytes(copy), "version 1");
    ASSERT_TRUE(GetFileAttributesW(copy.c_str()) & FILE_ATTRIBUTE_READONLY);

    ASSERT_TRUE(SetFileAttributesW(Machine(L"app.dll").c_str(), FILE_ATTRIBUTE_NORMAL));
    MakeFile(L"app.dll", "version 2");
    post_ = std::make_unique<SnapshotStore>();
    std::string out = Generate();
    EXPECT_EQ(out, "Copying " + Utf8(Machine(L"app.dll")) + "\n");
    EXPECT_EQ(ReadFileBytes(copy), "version 2");
}

TEST_F(FileTree, AFileThatCannotBeCopiedIsOnlyWarnedAbout) {
    MakeFile(L"a.txt", "a");
    MakeFile(L"b.txt", "b");
    BuildStore(*post_, {NodeFromDisk(machine_)});
    ASSERT_TRUE(DeleteFileW(Machine(L"a.txt").c_str()));
    SnapshotStore pre;
    BuildStore(pre, {});
    std::string expected = "Copying " + Utf8(Machine(L"a.txt")) + "\nWarning: Could not copy file " +
                           Utf8(Machine(L"a.txt")) + " -> " + Utf8(Project(Machine(L"a.txt"))) + "\nCopying " +
                           Utf8(Machine(L"b.txt")) + "\n";
    {
        StdoutCapture capture;
        RunFilePass(*post_, pre, output_);
        EXPECT_EQ(capture.Finish(), expected);
    }
    EXPECT_EQ(ReadFileBytes(Project(Machine(L"b.txt"))), "b");

    Options().quiet = true;
    StdoutCapture capture;
    RunFilePass(*post_, pre, output_);
    EXPECT_EQ(capture.Finish(), "");
}

TEST_F(FileTree, CreatedDirectoriesGetExactAttributeFilesAndKeepTheirTimes) {
    MakeDir(L"Full");
    MakeFile(L"Full\\inner.txt", "x");
    MakeDir(L"Forced");
    MakeDir(L"Listed");
    MakeDir(L"Listed\\Sub");
    SetTimes(Machine(L"Full"), 0x01d1000000000000ull, 0x01d1000000000000ull, 0x01d1100000000000ull);
    SetFileOverride(*post_, Machine(L"Forced"), kFileWriteCopy);
    options_.Lists().forcedWriteCopy.insert(FakeExcludeList::Upper(Machine(L"Listed").c_str()));
    Times full = ReadTimes(Machine(L"Full"));

    Generate();

    EXPECT_EQ(ReadFileBytes(Project(Machine(L"Full")) + L"\\##Attributes.ini"), kFullText);
    EXPECT_EQ(ReadFileBytes(Project(Machine(L"Forced")) + L"\\##Attributes.ini"), kWriteCopyText);
    EXPECT_EQ(ReadFileBytes(Project(Machine(L"Listed")) + L"\\##Attributes.ini"), kWriteCopyText);
    // The forcing of the list is exact: the subdirectory is Full.
    EXPECT_EQ(ReadFileBytes(Project(Machine(L"Listed\\Sub")) + L"\\##Attributes.ini"), kFullText);
    // The copy and the attribute file were written into the directory after
    // it was made; its times are the machine's all the same.
    Times t = ReadTimes(Project(Machine(L"Full")));
    EXPECT_TRUE(SameTime(t.written, full.written));
    EXPECT_TRUE(SameTime(t.created, full.created));
}

TEST_F(FileTree, ParentsMadeForAChangedFileTakeTheirMachineTimes) {
    MakeDir(L"Old");
    MakeFile(L"Old\\new.txt", "n");
    SetTimes(Machine(L"Old"), 0x01d1000000000000ull, 0x01d1000000000000ull, 0x01d1200000000000ull);
    Node old = NodeFromDisk(Machine(L"Old"));
    old.name = L"Old";
    old.children.clear();
    Node root = NodeFromDisk(machine_);
    root.children.clear();
    root.children.push_back(old);
    Times machine = ReadTimes(Machine(L"Old"));

    Generate({root});

    Str project = Project(Machine(L"Old"));
    EXPECT_EQ(ReadFileBytes(project + L"\\new.txt"), "n");
    // Not created by the pass, so no attribute file of its own.
    EXPECT_FALSE(Exists(project + L"\\##Attributes.ini"));
    EXPECT_TRUE(SameTime(ReadTimes(project).written, machine.written));
}

TEST_F(FileTree, AnOutputDirectoryThatIsAFileStopsTheRun) {
    MakeDir(L"D");
    WriteFileBytes(output_, "not a directory");
    try {
        Generate();
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Could not create directory: " + Utf8(Project(Machine(L"D"))));
    }
}

TEST_F(FileTree, AnAttributeFileThatCannotBeCreatedStopsTheRun) {
    MakeDir(L"D");
    Str project = Project(Machine(L"D"));
    ASSERT_TRUE(CreateDirectoryTree(project + L"\\##Attributes.ini"));
    try {
        Generate();
        FAIL() << "no fatal error";
    } catch (const Str& message) {
        EXPECT_EQ(Utf8(message), "Unable to create file \\\\?\\" + Utf8(project) + "\\##Attributes.ini");
    }
}

TEST_F(FileTree, TopLevelFoldersGetTheirModesAndMergedFoldersLoseDeeperAttributeFiles) {
    ASSERT_TRUE(CreateDirectoryTree(output_ + L"\\%Personal%\\Sub\\Deeper"));
    ASSERT_TRUE(CreateDirectoryTree(output_ + L"\\%SystemSystem%\\spool\\drivers"));
    ASSERT_TRUE(CreateDirectoryTree(output_ + L"\\%AppData%\\Vendor"));
    WriteFileBytes(output_ + L"\\%Personal%\\Sub\\##Attributes.ini", kFullText);
    WriteFileBytes(output_ + L"\\%Personal%\\Sub\\Deeper\\##Attributes.ini", kFullText);
    WriteFileBytes(output_ + L"\\%Personal%\\Sub\\keep.txt", "k");
    WriteFileBytes(output_ + L"\\%SystemSystem%\\spool\\drivers\\##attributes.INI", kFullText);
    WriteFileBytes(output_ + L"\\%AppData%\\##Attributes.ini", kFullText);
    WriteFileBytes(output_ + L"\\%AppData%\\Vendor\\##Attributes.ini", kFullText);

    WriteTopLevelFolderAttributes(output_);

    for (const wchar_t* name : {L"%AppData%", L"%Local AppData%", L"%Common AppData%", L"%SystemRoot%",
                                L"%SystemSystem%", L"%ProgramFilesDir%", L"%ProgramFilesDir(x64)%",
                                L"%SystemSystem(x64)%", L"%Program Files Common%"}) {
        Str file = output_ + L"\\" + Str(name) + L"\\##Attributes.ini";
        EXPECT_EQ(ReadFileBytes(file), kWriteCopyText) << Utf8(file);
    }
    for (const wchar_t* name : {L"%Personal%", L"%Desktop%", L"%SystemSystem%\\spool", L"%SystemSystem(x64)%\\spool"}) {
        Str file = output_ + L"\\" + Str(name) + L"\\##Attributes.ini";
        EXPECT_EQ(ReadFileBytes(file), kMergedText) << Utf8(file);
    }
    EXPECT_FALSE(Exists(output_ + L"\\%Personal%\\Sub\\##Attributes.ini"));
    EXPECT_FALSE(Exists(output_ + L"\\%Personal%\\Sub\\Deeper\\##Attributes.ini"));
    EXPECT_FALSE(Exists(output_ + L"\\%SystemSystem%\\spool\\drivers\\##attributes.INI"));
    EXPECT_EQ(ReadFileBytes(output_ + L"\\%Personal%\\Sub\\keep.txt"), "k");
    // Below the WriteCopy folders nothing is touched.
    EXPECT_EQ(ReadFileBytes(output_ + L"\\%AppData%\\Vendor\\##Attributes.ini"), kFullText);
}

}  // namespace
}  // namespace scancap::testing
