// The project file tree written by a Diff-mode file pass: copies with their
// times and attributes, directories with their attribute files, and the
// top-level macro folders.
#include "project/file_test_support.h"
#include "project/file_tree.h"
#include "project/overrides.h"
#include "snapshot/long_path.h"

#include "common/testing.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <memory>

namespace scancap::testing {
namespace {

const std::string kFullText = "[Isolation]\r\nDirectoryIsolationMode=Full\r\n";
const std::string kWriteCopyText = "[Isolation]\r\nDirectoryIsolationMode=WriteCopy\r\n";
const std::string kMergedText = "[Isolation]\r\nDirectoryIsolationMode=Merged\r\n";

FileHandle OpenForTimes(const Str& path, DWORD access) {
    return FileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void SetTimes(const Str& path, uint64_t created, uint64_t accessed, uint64_t written) {
    FileHandle h = OpenForTimes(path, FILE_WRITE_ATTRIBUTES);
    FILETIME c = ToFileTime(created), a = ToFileTime(accessed), w = ToFileTime(written);
    ASSERT_TRUE(h && SetFileTime(h.get(), &c, &a, &w)) << Utf8(path);
}

// Creation, last-access and last-write time.
std::vector<uint64_t> Times(const Str& path) {
    FILETIME t[3] = {};
    FileHandle h = OpenForTimes(path, FILE_READ_ATTRIBUTES);
    EXPECT_TRUE(h && GetFileTime(h.get(), &t[0], &t[1], &t[2])) << Utf8(path);
    std::vector<uint64_t> times;
    for (const FILETIME& f : t) times.push_back((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    return times;
}

bool Exists(const Str& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class FileTree : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = dir_ / L"machine";
        output_ = dir_ / L"project";
        ASSERT_TRUE(CreateDirectoryW(machine_.c_str(), nullptr));
    }

    Str Machine(const wchar_t* relative) const { return machine_ + L"\\" + relative; }
    Str Project(const Str& machinePath) const {
        Str out, scratch;
        ProjectPath(output_, machinePath, out, scratch);
        return out;
    }
    Str Attributes(const wchar_t* relative) const { return Project(Machine(relative)) + L"\\##Attributes.ini"; }
    void MakeDir(const wchar_t* relative) { ASSERT_TRUE(CreateDirectoryW(Machine(relative).c_str(), nullptr)); }
    void MakeFile(const wchar_t* relative, const std::string& bytes) { WriteFileBytes(Machine(relative), bytes); }

    // One Diff-mode file pass: the pre store holds `preRoots`, the post store
    // the machine folder as it is now.
    std::string Generate(const std::vector<Node>& preRoots = {}) {
        SnapshotStore pre;
        BuildStore(pre, preRoots);
        BuildStore(*post_, {NodeFromDisk(machine_)});
        StdoutCapture capture;
        run_.run.outputDir = output_;
        RunFilePass(run_.run, *post_, pre);
        return capture.Finish();
    }
    std::string GenerateFatal() {
        try {
            Generate();
        } catch (const Str& message) {
            return Utf8(message);
        }
        return "no fatal error";
    }

    TestRun run_;
    TempDir dir_;
    Str machine_;
    Str output_;
    std::unique_ptr<SnapshotStore> post_ = std::make_unique<SnapshotStore>();
};

TEST(ProjectPath, DriveMacrosAndNoDoubledSeparator) {
    struct Case {
        const wchar_t* outputDir;
        const wchar_t* machinePath;
        const char* expected;
    } cases[] = {
        {L"C:\\Out", L"D:\\Data\\x.txt", "C:\\Out\\%drive_D%\\Data\\x.txt"},
        {L"C:\\Out\\", L"D:\\Data\\x.txt", "C:\\Out\\%drive_D%\\Data\\x.txt"},
        // No macro applies to a share: the path is taken as it stands.
        {L"C:\\Out", L"\\\\server\\share\\x", "C:\\Out\\\\\\server\\share\\x"},
    };
    Str out, scratch;
    for (const Case& c : cases) {
        ProjectPath(Str(c.outputDir), Str(c.machinePath), out, scratch);
        EXPECT_EQ(Utf8(out), c.expected);
    }
}

TEST_F(FileTree, CreatedFilesAreCopiedWithTheirTimesAndAVisibleAttributeWord) {
    MakeFile(L"hidden.txt", "secret");
    MakeFile(L"plain.txt", "plain");
    SetTimes(Machine(L"hidden.txt"), 0x01d1000000000000ull, 0x01d3000000000000ull, 0x01d2000000000000ull);
    ASSERT_TRUE(SetFileAttributesW(Machine(L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(Machine(L"plain.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(Generate(),
              "Copying " + Utf8(Machine(L"hidden.txt")) + "\nCopying " + Utf8(Machine(L"plain.txt")) + "\n");

    // Times first: reading the files would move their last-access times.
    std::vector<uint64_t> source = Times(Machine(L"hidden.txt"));
    EXPECT_EQ(source[2], 0x01d2000000000000ull);
    EXPECT_EQ(Times(Project(Machine(L"hidden.txt"))), source);
    EXPECT_EQ(ReadFileBytes(Project(Machine(L"hidden.txt"))), "secret");
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
    EXPECT_EQ(Generate(), "Copying " + Utf8(Machine(L"app.dll")) + "\n");
    EXPECT_EQ(ReadFileBytes(copy), "version 2");
}

TEST_F(FileTree, AFileThatCannotBeCopiedIsOnlyWarnedAbout) {
    MakeFile(L"a.txt", "a");
    MakeFile(L"b.txt", "b");
    BuildStore(*post_, {NodeFromDisk(machine_)});
    ASSERT_TRUE(DeleteFileW(Machine(L"a.txt").c_str()));
    SnapshotStore pre;
    BuildStore(pre, {});
    for (bool quiet : {false, true}) {
        run_.run.quiet = quiet;
        run_.run.outputDir = output_;
        StdoutCapture capture;
        RunFilePass(run_.run, *post_, pre);
        EXPECT_EQ(capture.Finish(), quiet ? ""
                                          : "Copying " + Utf8(Machine(L"a.txt")) + "\nWarning: Could not copy file " +
                                                Utf8(Machine(L"a.txt")) + " -> " + Utf8(Project(Machine(L"a.txt"))) +
                                                "\nCopying " + Utf8(Machine(L"b.txt")) + "\n");
        EXPECT_EQ(ReadFileBytes(Project(Machine(L"b.txt"))), "b");
    }
}

TEST_F(FileTree, CreatedDirectoriesGetExactAttributeFilesAndKeepTheirTimes) {
    MakeDir(L"Full");
    MakeFile(L"Full\\inner.txt", "x");
    MakeDir(L"Forced");
    MakeDir(L"Listed");
    MakeDir(L"Listed\\Sub");
    SetTimes(Machine(L"Full"), 0x01d1000000000000ull, 0x01d1000000000000ull, 0x01d1100000000000ull);
    SetTimes(Machine(L"Forced"), 0x01d1300000000000ull, 0x01d1300000000000ull, 0x01d1400000000000ull);
    SetFileOverride(run_.run, Machine(L"Forced"), kFileWriteCopy);
    run_.lists.forcedWriteCopy.insert(FakeExcludeList::Upper(Machine(L"Listed").c_str()));
    std::vector<uint64_t> full = Times(Machine(L"Full"));
    std::vector<uint64_t> forced = Times(Machine(L"Forced"));

    Generate();

    EXPECT_EQ(ReadFileBytes(Attributes(L"Full")), kFullText);
    EXPECT_EQ(ReadFileBytes(Attributes(L"Forced")), kWriteCopyText);
    EXPECT_EQ(ReadFileBytes(Attributes(L"Listed")), kWriteCopyText);
    // The forcing of the list is exact: the subdirectory is Full.
    EXPECT_EQ(ReadFileBytes(Attributes(L"Listed\\Sub")), kFullText);
    // The copy and the attribute file were written into the directory after
    // it was made; its times are the machine's all the same.
    std::vector<uint64_t> copy = Times(Project(Machine(L"Full")));
    EXPECT_EQ(copy[0], full[0]);
    EXPECT_EQ(copy[2], full[2]);
    // So does an empty one, whose only content is its attribute file.
    copy = Times(Project(Machine(L"Forced")));
    EXPECT_EQ(copy[0], forced[0]);
    EXPECT_EQ(copy[2], forced[2]);
}

TEST_F(FileTree, ParentsMadeForAChangedFileTakeTheirMachineTimes) {
    MakeDir(L"Old");
    MakeDir(L"Old\\Deeper");
    MakeFile(L"Old\\Deeper\\new.txt", "n");
    SetTimes(Machine(L"Old"), 0x01d1000000000000ull, 0x01d1000000000000ull, 0x01d1200000000000ull);
    SetTimes(Machine(L"Old\\Deeper"), 0x01d1300000000000ull, 0x01d1300000000000ull, 0x01d1400000000000ull);
    ASSERT_TRUE(SetFileAttributesW(Machine(L"Old\\Deeper").c_str(), FILE_ATTRIBUTE_HIDDEN));
    Node deeper = NodeFromDisk(Machine(L"Old\\Deeper"));
    deeper.name = L"Deeper";
    deeper.children.clear();
    Node old = NodeFromDisk(Machine(L"Old"));
    old.name = L"Old";
    old.children = {deeper};
    Node root = NodeFromDisk(machine_);
    root.children = {old};

    Generate({root});

    EXPECT_EQ(ReadFileBytes(Project(Machine(L"Old\\Deeper\\new.txt"))), "n");
    // Not created by the pass, so no attribute files of their own.
    EXPECT_FALSE(Exists(Attributes(L"Old")));
    EXPECT_FALSE(Exists(Attributes(L"Old\\Deeper")));
    // Each level made on the way takes its own machine directory's times
    // (creation as the file system reports it back), the deeper one visible.
    auto check = [&] {
        for (const wchar_t* level : {L"Old", L"Old\\Deeper"}) {
            std::vector<uint64_t> machine = Times(Machine(level));
            std::vector<uint64_t> project = Times(Project(Machine(level)));
            EXPECT_EQ(project[0], machine[0]) << Utf8(Str(level));
            EXPECT_EQ(project[2], machine[2]) << Utf8(Str(level));
        }
        EXPECT_EQ(Times(Project(Machine(L"Old")))[2], 0x01d1200000000000ull);
        EXPECT_EQ(Times(Project(Machine(L"Old\\Deeper")))[2], 0x01d1400000000000ull);
        EXPECT_EQ(GetFileAttributesW(Project(Machine(L"Old\\Deeper")).c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    };
    check();

    // Again into the project of that run: the directories are there already,
    // and a second file written into each disturbs their times once more.
    MakeFile(L"Old\\second.txt", "2");
    MakeFile(L"Old\\Deeper\\second.txt", "2");
    SetTimes(Machine(L"Old"), 0x01d1000000000000ull, 0x01d1000000000000ull, 0x01d1200000000000ull);
    SetTimes(Machine(L"Old\\Deeper"), 0x01d1300000000000ull, 0x01d1300000000000ull, 0x01d1400000000000ull);
    post_ = std::make_unique<SnapshotStore>();
    Generate({root});
    EXPECT_EQ(ReadFileBytes(Project(Machine(L"Old\\Deeper\\second.txt"))), "2");
    check();
}

TEST_F(FileTree, DirectoriesThatCannotBeMadeStopTheRun) {
    MakeDir(L"D");
    Str project = Project(Machine(L"D"));
    ASSERT_TRUE(CreateDirectoryTree(project + L"\\##Attributes.ini"));
    EXPECT_EQ(GenerateFatal(), "Unable to create file \\\\?\\" + Utf8(project) + "\\##Attributes.ini");

    // An output directory that is a file.
    post_ = std::make_unique<SnapshotStore>();
    output_ = dir_ / L"file";
    WriteFileBytes(output_, "not a directory");
    EXPECT_EQ(GenerateFatal(), "Could not create directory: " + Utf8(Project(Machine(L"D"))));
}

TEST_F(FileTree, TopLevelFoldersGetTheirModesAndMergedFoldersLoseDeeperAttributeFiles) {
    ASSERT_TRUE(CreateDirectoryTree(output_ + L"\\%Personal%\\Sub\\Deeper"));
    ASSERT_TRUE(CreateDirectoryTree(output_ + L"\\%SystemSystem%\\spool\\drivers"));
    ASSERT_TRUE(CreateDirectoryTree(output_ + L"\\%AppData%\\Vendor"));
    const wchar_t* removed[] = {L"\\%Personal%\\Sub\\##Attributes.ini", L"\\%Personal%\\Sub\\Deeper\\##Attributes.ini",
                                L"\\%SystemSystem%\\spool\\drivers\\##attributes.INI"};
    for (const wchar_t* file : removed) WriteFileBytes(output_ + file, kFullText);
    WriteFileBytes(output_ + L"\\%Personal%\\Sub\\keep.txt", "k");
    WriteFileBytes(output_ + L"\\%AppData%\\##Attributes.ini", kFullText);
    WriteFileBytes(output_ + L"\\%AppData%\\Vendor\\##Attributes.ini", kFullText);

    WriteTopLevelFolderAttributes(output_);

    for (const wchar_t* name : {L"%AppData%", L"%Local AppData%", L"%Common AppData%", L"%SystemRoot%",
                                L"%SystemSystem%", L"%ProgramFilesDir%", L"%ProgramFilesDir(x64)%",
                                L"%SystemSystem(x64)%", L"%Program Files Common%"})
        EXPECT_EQ(ReadFileBytes(output_ + L"\\" + name + L"\\##Attributes.ini"), kWriteCopyText) << Utf8(name);
    for (const wchar_t* name : {L"%Personal%", L"%Desktop%", L"%SystemSystem%\\spool", L"%SystemSystem(x64)%\\spool"})
        EXPECT_EQ(ReadFileBytes(output_ + L"\\" + name + L"\\##Attributes.ini"), kMergedText) << Utf8(name);
    for (const wchar_t* file : removed) EXPECT_FALSE(Exists(output_ + file)) << Utf8(file);
    EXPECT_EQ(ReadFileBytes(output_ + L"\\%Personal%\\Sub\\keep.txt"), "k");
    // Below the WriteCopy folders nothing is touched.
    EXPECT_EQ(ReadFileBytes(output_ + L"\\%AppData%\\Vendor\\##Attributes.ini"), kFullText);
}

}  // namespace
}  // namespace scancap::testing
