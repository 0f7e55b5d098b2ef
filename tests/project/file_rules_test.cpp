// The file rules of project generation, observed through DiffPrint output:
// which post-store entries count as created, modified or unchanged.
#include "project/file_test_support.h"
#include "project/file_tree.h"
#include "project/overrides.h"

#include "common/testing.h"

#include <gtest/gtest.h>

namespace scancap::testing {
namespace {

constexpr uint64_t kT1 = 0x01d5000000000000ull;
constexpr uint64_t kT2 = 0x01d6000000000000ull;

class FileRules : public ::testing::Test {
protected:
    void SetUp() override { Options().mode = RunMode::DiffPrint; }

    // The DiffPrint lines of one file pass over the two trees.
    std::string Diff(const std::vector<Node>& postRoots, const std::vector<Node>& preRoots) {
        BuildStore(post_, postRoots);
        BuildStore(pre_, preRoots);
        StdoutCapture capture;
        RunFilePass(post_, pre_, Str(L""));
        return capture.Finish();
    }

    OptionsScope options_;
    SnapshotStore post_;
    SnapshotStore pre_;
};

TEST_F(FileRules, FileWithSameTimesSizeAndNameIsUnchanged) {
    Node before = FileNode(L"a.txt", kT1, 5);
    Node after = before;
    after.accessed = kT2;  // last access alone does not count
    EXPECT_EQ(Diff({DirNode(L"C:\\App", {after})}, {DirNode(L"C:\\App", {before})}), "");
}

TEST_F(FileRules, EachComparedFieldMakesAFileModified) {
    Node base = FileNode(L"a.txt", kT1, 5);
    Node written = base, created = base, low = base, high = base, renamed = base;
    written.name = L"w.txt";
    created.name = L"c.txt";
    low.name = L"l.txt";
    high.name = L"h.txt";
    Node writtenBefore = written, createdBefore = created, lowBefore = low, highBefore = high;
    written.written = kT2;
    created.created = kT2;
    low.size = 6;
    high.size = 5 + (uint64_t(1) << 32);
    // Only the letter case of the name changed: FindFileEntry still finds it.
    renamed.name = L"A.TXT";
    std::string out = Diff({DirNode(L"C:\\App", {written, created, low, high, renamed})},
                           {DirNode(L"C:\\App", {writtenBefore, createdBefore, lowBefore, highBefore, base})});
    EXPECT_EQ(out,
              "ModifiedFile     : C:\\App\\w.txt\n"
              "ModifiedFile     : C:\\App\\c.txt\n"
              "ModifiedFile     : C:\\App\\l.txt\n"
              "ModifiedFile     : C:\\App\\h.txt\n"
              "ModifiedFile     : C:\\App\\A.TXT\n");
}

TEST_F(FileRules, CreatedEntriesComeBeforeTheirChildrenAndDeletionsYieldNothing) {
    Node gone = FileNode(L"gone.txt");
    std::string out = Diff(
        {DirNode(L"C:\\", {DirNode(L"App", {FileNode(L"new.dll"), DirNode(L"Empty")}), FileNode(L"top.txt")})},
        {DirNode(L"C:\\", {gone})});
    // The root ends with "\": children are joined without a second one.
    EXPECT_EQ(out,
              "CreatedDirectory : C:\\App\n"
              "CreatedFile      : C:\\App\\new.dll\n"
              "CreatedDirectory : C:\\App\\Empty\n"
              "CreatedFile      : C:\\top.txt\n");
}

TEST_F(FileRules, DirectoryInBothStoresYieldsOnlyItsChangedChildren) {
    Node dirBefore = DirNode(L"Data", {FileNode(L"same.bin", kT1), FileNode(L"old.bin", kT1)});
    Node dirAfter = DirNode(L"Data", {FileNode(L"same.bin", kT1), FileNode(L"old.bin", kT2), FileNode(L"new.bin")});
    dirAfter.written = kT2;  // a directory's own times never count
    dirAfter.attributes |= FILE_ATTRIBUTE_HIDDEN;
    EXPECT_EQ(Diff({DirNode(L"C:\\Root", {dirAfter})}, {DirNode(L"C:\\Root", {dirBefore})}),
              "ModifiedFile     : C:\\Root\\Data\\old.bin\n"
              "CreatedFile      : C:\\Root\\Data\\new.bin\n");
}

TEST_F(FileRules, ForcedEntriesAreModifiedAndTheirOverrideIsConsumed) {
    Node same = FileNode(L"shared.dll", kT1, 77);
    SetFileOverride(post_, Str(L"C:\\Sys\\shared.dll"), 0);
    SetFileOverride(post_, Str(L"c:\\sys\\Dir"), kFileWriteCopy);
    SetFileOverride(post_, Str(L"C:\\Sys\\never-reached.dll"), 0);
    std::string out = Diff({DirNode(L"C:\\Sys", {same, DirNode(L"Dir"), FileNode(L"x.dll", kT1)})},
                           {DirNode(L"C:\\Sys", {same, DirNode(L"Dir"), FileNode(L"x.dll", kT1)})});
    EXPECT_EQ(out,
              "ModifiedFile     : C:\\Sys\\shared.dll\n"
              "CreatedDirectory : C:\\Sys\\Dir\n");
    ASSERT_EQ(post_.includedFiles.size(), 1u);
    EXPECT_EQ(post_.includedFiles.begin()->first, Str(L"C:\\SYS\\NEVER-REACHED.DLL"));
}

TEST_F(FileRules, PerfDataNamesAndIgnoredPathsAreSkippedWithEverythingBelow) {
    options_.Lists().ignored.insert(L"C:\\APP\\CACHE");
    std::string out = Diff({DirNode(L"C:\\App", {FileNode(L"perflib_perfdata_1f0.dat"),
                                                 DirNode(L"x perflib_perfdata_", {FileNode(L"inner.txt")}),
                                                 FileNode(L"PERFLIB_PERFDATA_2.dat"),
                                                 DirNode(L"Cache", {FileNode(L"c.bin")}),
                                                 FileNode(L"kept.txt")})},
                           {DirNode(L"C:\\App")});
    // The perflib test is case-sensitive.
    EXPECT_EQ(out,
              "CreatedFile      : C:\\App\\PERFLIB_PERFDATA_2.dat\n"
              "CreatedFile      : C:\\App\\kept.txt\n");
}

TEST_F(FileRules, SnapshotFilesThemselvesAreNotReportedButTheirChildrenAre) {
    Options().preSnapshot = L"C:\\Snap\\PRE.snapshot";
    Options().postSnapshot = L"c:\\snap\\post.dir";
    std::string out = Diff({DirNode(L"C:\\Snap", {FileNode(L"pre.snapshot"), DirNode(L"Post.Dir", {FileNode(L"f")}),
                                                  FileNode(L"pre.snapshot.bak")})},
                           {DirNode(L"C:\\Snap")});
    EXPECT_EQ(out,
              "CreatedFile      : C:\\Snap\\Post.Dir\\f\n"
              "CreatedFile      : C:\\Snap\\pre.snapshot.bak\n");
}

TEST_F(FileRules, SixToSevenUpgradeForcesItsLocations) {
    BrowserUpgrade().ieUpgrade6To7 = true;
    options_.Lists().ie6To7.insert(L"C:\\W\\IEFRAME.DLL");
    options_.Lists().ie10Excluded.insert(L"C:\\W\\NOTSKIPPED.DLL");  // only the first rule applies
    Node frame = FileNode(L"ieframe.dll", kT1), other = FileNode(L"notskipped.dll", kT1);
    EXPECT_EQ(Diff({DirNode(L"C:\\W", {frame, other})}, {DirNode(L"C:\\W", {frame})}),
              "ModifiedFile     : C:\\W\\ieframe.dll\n"
              "CreatedFile      : C:\\W\\notskipped.dll\n");
}

TEST_F(FileRules, UpgradeTo10SkipsItsExcludedFiles) {
    BrowserUpgrade().ieUpgradeTo10 = true;
    options_.Lists().ie10Excluded.insert(L"C:\\W\\IE");
    options_.Lists().ie6To7.insert(L"C:\\W\\A.DLL");  // flag not set: no forcing
    Node a = FileNode(L"a.dll", kT1);
    EXPECT_EQ(Diff({DirNode(L"C:\\W", {DirNode(L"IE", {FileNode(L"x")}), a, FileNode(L"b")})},
                   {DirNode(L"C:\\W", {a})}),
              "CreatedFile      : C:\\W\\b\n");
}

TEST_F(FileRules, UpgradeTo11ExcludesBeforeItForces) {
    BrowserUpgrade().ieUpgradeTo11 = true;
    options_.Lists().ie11Excluded.insert(L"C:\\W\\GONE.DLL");
    options_.Lists().ie11Upgrade.insert(L"C:\\W\\GONE.DLL");
    options_.Lists().ie11Upgrade.insert(L"C:\\W\\KEEP.DLL");
    Node gone = FileNode(L"gone.dll", kT1), keep = FileNode(L"keep.dll", kT1), plain = FileNode(L"plain.dll", kT1);
    EXPECT_EQ(Diff({DirNode(L"C:\\W", {gone, keep, plain})}, {DirNode(L"C:\\W", {gone, keep, plain})}),
              "ModifiedFile     : C:\\W\\keep.dll\n");
}

TEST_F(FileRules, AnOverrideWinsOverTheUpgradeExclusions) {
    BrowserUpgrade().ieUpgradeTo10 = true;
    BrowserUpgrade().ieUpgradeTo11 = true;
    options_.Lists().ie10Excluded.insert(L"C:\\W\\A.DLL");
    options_.Lists().ie11Excluded.insert(L"C:\\W\\A.DLL");
    SetFileOverride(post_, Str(L"C:\\W\\a.dll"), 0);
    Node a = FileNode(L"a.dll", kT1);
    EXPECT_EQ(Diff({DirNode(L"C:\\W", {a})}, {DirNode(L"C:\\W", {a})}), "ModifiedFile     : C:\\W\\a.dll\n");
}

TEST_F(FileRules, EveryRootIsWalkedAndLookedUpByFullPath) {
    // The file moved from one root to another between the scans.
    Node f = FileNode(L"f.txt", kT1);
    EXPECT_EQ(Diff({DirNode(L"C:\\One", {f}), DirNode(L"D:\\Two", {f})}, {DirNode(L"D:\\Two", {f})}),
              "CreatedFile      : C:\\One\\f.txt\n");
}

TEST_F(FileRules, DamagedChildArrayEndsTheWalkWithoutReadingOutside) {
    BuildStore(pre_, {});
    BuildStore(post_, {DirNode(L"C:\\X", {FileNode(L"a")})});
    FileEntry root;
    ASSERT_TRUE(post_.ReadFileEntry(post_.DirectoryRoot(0), root));
    root.childCount = 1000000;  // reaches far beyond the arena
    post_.Write(post_.DirectoryRoot(0), root);
    StdoutCapture capture;
    RunFilePass(post_, pre_, Str(L""));
    EXPECT_EQ(capture.Finish(), "");
}

TEST_F(FileRules, DiffPrintWritesNothingUnderTheOutputDirectory) {
    TempDir out;
    BuildStore(pre_, {});
    BuildStore(post_, {DirNode(L"C:\\X", {DirNode(L"D", {FileNode(L"a")})})});
    StdoutCapture capture;
    RunFilePass(post_, pre_, out.Path());
    EXPECT_EQ(capture.Finish(), "CreatedDirectory : C:\\X\\D\nCreatedFile      : C:\\X\\D\\a\n");
    WIN32_FIND_DATAW fd;
    Str pattern = out / L"*";
    HANDLE find = FindFirstFileW(pattern.c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int entries = 0;
    do ++entries; while (FindNextFileW(find, &fd));
    FindClose(find);
    EXPECT_EQ(entries, 2);  // "." and ".."
}

}  // namespace
}  // namespace scancap::testing
