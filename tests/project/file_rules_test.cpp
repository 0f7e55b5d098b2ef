// The file rules of project generation, observed through DiffPrint output:
// which post-store entries count as created, modified or unchanged.
#include "project/file_test_support.h"
#include "project/file_tree.h"
#include "project/overrides.h"

#include "common/testing.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace scancap::testing {
namespace {

constexpr uint64_t kT1 = 0x01d5000000000000ull;
constexpr uint64_t kT2 = 0x01d6000000000000ull;

class FileRules : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }

    // A new DiffPrint run over fresh stores.
    void Reset() {
        run_.reset();
        run_.emplace();
        Run().printOnly = true;
        post_ = std::make_unique<SnapshotStore>();
        pre_ = std::make_unique<SnapshotStore>();
    }
    FakeExcludeList& Lists() { return run_->lists; }
    ProjectRun& Run() { return run_->run; }

    // The DiffPrint lines of one file pass over the two trees.
    std::string Diff(const std::vector<Node>& postRoots, const std::vector<Node>& preRoots) {
        BuildStore(*post_, postRoots);
        BuildStore(*pre_, preRoots);
        StdoutCapture capture;
        RunFilePass(Run(), *post_, *pre_);
        return capture.Finish();
    }

    std::optional<TestRun> run_;
    std::unique_ptr<SnapshotStore> post_, pre_;
};

TEST_F(FileRules, EachComparedFieldMakesAFileModifiedButLastAccessDoesNot) {
    Node base = FileNode(L"a.txt", kT1, 5);
    Node accessed = base, written = base, created = base, low = base, high = base, renamed = base;
    accessed.name = L"x.txt";
    written.name = L"w.txt";
    created.name = L"c.txt";
    low.name = L"l.txt";
    high.name = L"h.txt";
    std::vector<Node> before{accessed, written, created, low, high, base};
    accessed.accessed = kT2;
    written.written = kT2;
    created.created = kT2;
    low.size = 6;
    high.size = 5 + (uint64_t(1) << 32);
    // Only the letter case of the name changed: the lookup still finds it.
    renamed.name = L"A.TXT";
    EXPECT_EQ(Diff({DirNode(L"C:\\App", {accessed, written, created, low, high, renamed})},
                   {DirNode(L"C:\\App", before)}),
              "ModifiedFile     : C:\\App\\w.txt\n"
              "ModifiedFile     : C:\\App\\c.txt\n"
              "ModifiedFile     : C:\\App\\l.txt\n"
              "ModifiedFile     : C:\\App\\h.txt\n"
              "ModifiedFile     : C:\\App\\A.TXT\n");
}

TEST_F(FileRules, CreatedEntriesComeBeforeTheirChildrenAndDeletionsYieldNothing) {
    // The root ends with "\": children are joined without a second one.
    EXPECT_EQ(Diff({DirNode(L"C:\\", {DirNode(L"App", {FileNode(L"new.dll"), DirNode(L"Empty")}),
                                      FileNode(L"top.txt")})},
                   {DirNode(L"C:\\", {FileNode(L"gone.txt")})}),
              "CreatedDirectory : C:\\App\n"
              "CreatedFile      : C:\\App\\new.dll\n"
              "CreatedDirectory : C:\\App\\Empty\n"
              "CreatedFile      : C:\\top.txt\n");

    // Every root is walked, and looked up by full path: this file moved from
    // one root to another between the scans.
    Reset();
    Node f = FileNode(L"f.txt", kT1);
    EXPECT_EQ(Diff({DirNode(L"C:\\One", {f}), DirNode(L"D:\\Two", {f})}, {DirNode(L"D:\\Two", {f})}),
              "CreatedFile      : C:\\One\\f.txt\n");
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
    SetFileOverride(Run(), Str(L"C:\\Sys\\shared.dll"), 0);
    SetFileOverride(Run(), Str(L"c:\\sys\\Dir"), kFileWriteCopy);
    SetFileOverride(Run(), Str(L"C:\\Sys\\never-reached.dll"), 0);
    std::vector<Node> tree{DirNode(L"C:\\Sys", {same, DirNode(L"Dir"), FileNode(L"x.dll", kT1)})};
    EXPECT_EQ(Diff(tree, tree),
              "ModifiedFile     : C:\\Sys\\shared.dll\n"
              "CreatedDirectory : C:\\Sys\\Dir\n");
    ASSERT_EQ(Run().includedFiles.size(), 1u);
    EXPECT_EQ(Run().includedFiles.begin()->first, Str(L"C:\\SYS\\NEVER-REACHED.DLL"));
}

TEST_F(FileRules, SkippedNamesAndPathsTakeEverythingBelowThem) {
    Lists().ignored.insert(L"C:\\APP\\CACHE");
    // The perflib test is case-sensitive.
    EXPECT_EQ(Diff({DirNode(L"C:\\App", {FileNode(L"perflib_perfdata_1f0.dat"),
                                         DirNode(L"x perflib_perfdata_", {FileNode(L"inner.txt")}),
                                         FileNode(L"PERFLIB_PERFDATA_2.dat"), DirNode(L"Cache", {FileNode(L"c.bin")}),
                                         FileNode(L"kept.txt")})},
                   {DirNode(L"C:\\App")}),
              "CreatedFile      : C:\\App\\PERFLIB_PERFDATA_2.dat\n"
              "CreatedFile      : C:\\App\\kept.txt\n");

    // The snapshot files themselves are not reported, but their children are.
    Reset();
    Run().preSnapshot = L"C:\\Snap\\PRE.snapshot";
    Run().postSnapshot = L"c:\\snap\\post.dir";
    EXPECT_EQ(Diff({DirNode(L"C:\\Snap", {FileNode(L"pre.snapshot"), DirNode(L"Post.Dir", {FileNode(L"f")}),
                                          FileNode(L"pre.snapshot.bak")})},
                   {DirNode(L"C:\\Snap")}),
              "CreatedFile      : C:\\Snap\\Post.Dir\\f\n"
              "CreatedFile      : C:\\Snap\\pre.snapshot.bak\n");
}

TEST_F(FileRules, BrowserUpgradeListsApplyOnlyUnderTheirFlag) {
    auto w = [](std::vector<Node> children) { return std::vector<Node>{DirNode(L"C:\\W", std::move(children))}; };
    Node a = FileNode(L"a.dll", kT1), b = FileNode(L"b.dll", kT1);

    // 6 to 7 forces its locations.
    Run().upgrade.ieUpgrade6To7 = true;
    Lists().ie6To7.insert(L"C:\\W\\A.DLL");
    Lists().ie10Excluded.insert(L"C:\\W\\B.DLL");
    EXPECT_EQ(Diff(w({a, b}), w({a})), "ModifiedFile     : C:\\W\\a.dll\nCreatedFile      : C:\\W\\b.dll\n");

    // Upgrade to 10 skips its excluded files, with everything below them.
    Reset();
    Run().upgrade.ieUpgradeTo10 = true;
    Lists().ie10Excluded.insert(L"C:\\W\\IE");
    Lists().ie6To7.insert(L"C:\\W\\A.DLL");
    EXPECT_EQ(Diff(w({DirNode(L"IE", {FileNode(L"x")}), a, FileNode(L"b")}), w({a})), "CreatedFile      : C:\\W\\b\n");

    // Upgrade to 11 excludes before it forces.
    Reset();
    Run().upgrade.ieUpgradeTo11 = true;
    Lists().ie11Excluded.insert(L"C:\\W\\A.DLL");
    Lists().ie11Upgrade.insert(L"C:\\W\\A.DLL");
    Lists().ie11Upgrade.insert(L"C:\\W\\B.DLL");
    Node plain = FileNode(L"plain.dll", kT1);
    EXPECT_EQ(Diff(w({a, b, plain}), w({a, b, plain})), "ModifiedFile     : C:\\W\\b.dll\n");

    // An override wins over the exclusions.
    Reset();
    Run().upgrade.ieUpgradeTo10 = true;
    Run().upgrade.ieUpgradeTo11 = true;
    Lists().ie10Excluded.insert(L"C:\\W\\A.DLL");
    Lists().ie11Excluded.insert(L"C:\\W\\A.DLL");
    SetFileOverride(Run(), Str(L"C:\\W\\a.dll"), 0);
    EXPECT_EQ(Diff(w({a}), w({a})), "ModifiedFile     : C:\\W\\a.dll\n");
}

TEST_F(FileRules, DamagedChildArrayEndsTheWalkWithoutReadingOutside) {
    BuildStore(*pre_, {});
    BuildStore(*post_, {DirNode(L"C:\\X", {FileNode(L"a")})});
    FileEntry root;
    ASSERT_TRUE(post_->ReadFileEntry(post_->DirectoryRoot(0), root));
    root.childCount = 1000000;  // reaches far beyond the arena
    post_->Write(post_->DirectoryRoot(0), root);
    StdoutCapture capture;
    RunFilePass(Run(), *post_, *pre_);
    EXPECT_EQ(capture.Finish(), "");
}

TEST_F(FileRules, DiffPrintWritesNothingUnderTheOutputDirectory) {
    TempDir out;
    BuildStore(*pre_, {});
    BuildStore(*post_, {DirNode(L"C:\\X", {DirNode(L"D", {FileNode(L"a")})})});
    StdoutCapture capture;
    Run().outputDir = out.Path();
    RunFilePass(Run(), *post_, *pre_);
    EXPECT_EQ(capture.Finish(), "CreatedDirectory : C:\\X\\D\nCreatedFile      : C:\\X\\D\\a\n");
    WIN32_FIND_DATAW fd;
    FindHandle find(FindFirstFileW((out / L"*").c_str(), &fd));
    ASSERT_TRUE(find);
    int entries = 1;
    while (FindNextFileW(find.get(), &fd)) ++entries;
    EXPECT_EQ(entries, 2);  // "." and ".."
}

}  // namespace
}  // namespace scancap::testing
