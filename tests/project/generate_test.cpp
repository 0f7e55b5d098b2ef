// The generation sequence: the templates named by a project overview, and
// the order of the passes as DiffPrint shows it.
#include "project/file_test_support.h"
#include "project/generate.h"
#include "project/overrides.h"

#include "common/testing.h"

#include <gtest/gtest.h>

namespace scancap::testing {
namespace {

// VX_ORIGIN set for one test and cleared again.
class OriginScope {
public:
    explicit OriginScope(const Str& value) { SetEnvironmentVariableW(L"VX_ORIGIN", value.c_str()); }
    ~OriginScope() { SetEnvironmentVariableW(L"VX_ORIGIN", nullptr); }
};

TEST(OverviewTemplates, EnabledSectionsLoadEachTemplateOnceInFileOrder) {
    TestRun t;
    TempDir dir;
    OriginScope origin(dir / L"scancap.exe");
    WriteFileBytes(dir / L"Alpha.template.txt", "[IncludeFiles]\r\n2;C:\\Alpha\\Dir\r\n");
    WriteFileBytes(dir / L"Beta.template.txt", "[IncludeFiles]\r\nC:\\Beta\r\n");
    WriteFileBytes(dir / L"Gamma.template.txt", "[IncludeFiles]\r\n0;C:\\Gamma\r\n");
    WriteFileBytes(dir / L"Delta.template.txt", "[IncludeFiles]\r\nC:\\Delta\r\n");
    Str overview = dir / L"ProjectOverview.ini";
    WriteFileBytes(overview,
                   "[BuildOptions]\r\nOutDir=bin\r\nTemplate=Delta; alpha;\r\n"  // the capture's list
                   "[One]\r\nTemplate=Alpha\r\nDisabled=0\r\n"
                   "[Two]\r\nTemplate=alpha\r\nDisabled=0\r\n"    // already loaded, any case
                   "[Three]\r\nTemplate=Beta\r\nDisabled=1\r\n"   // disabled: not loaded here
                   "[Four]\r\nTemplate=Gamma\r\n"                 // Disabled defaults to 0
                   "[Five]\r\nTemplate=Beta\r\nDisabled=0\r\n"
                   "[Six]\r\nTemplate=\r\n"
                   "[Seven]\r\nTemplate=Missing\r\nDisabled=yes\r\n"  // only exactly 0 loads
                   "[Eight]\r\nTemplate=Missing\r\nDisabled=00\r\n");
    try {
        LoadOverviewTemplates(t.run, overview);
    } catch (const Str& message) {
        FAIL() << Utf8(message);
    }

    const std::vector<Str>& names = t.run.templateNames;
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(Utf8(names[0]), "Delta");
    EXPECT_EQ(Utf8(names[1]), "alpha");
    EXPECT_EQ(Utf8(names[2]), "Gamma");
    EXPECT_EQ(Utf8(names[3]), "Beta");
    ASSERT_EQ(t.run.includedFiles.size(), 4u);
    EXPECT_EQ(t.run.includedFiles[Str(L"C:\\DELTA")], 0u);
    EXPECT_EQ(t.run.includedFiles[Str(L"C:\\ALPHA\\DIR")], kFileWriteCopy);
    EXPECT_EQ(t.run.includedFiles[Str(L"C:\\BETA")], 0u);
    EXPECT_EQ(t.run.includedFiles[Str(L"C:\\GAMMA")], 0u);
}

TEST(GenerationSequence, DiffPrintListsTheFilesBeforeSavingTheRegistry) {
    TestRun t;
    t.run.printOnly = true;
    SnapshotStore post, pre;
    BuildStore(pre, {DirNode(L"C:\\App")});
    BuildStore(post, {DirNode(L"C:\\App", {FileNode(L"a.exe")})});
    StdoutCapture capture;
    GenerateProject(t.run, post, pre);
    EXPECT_EQ(capture.Finish(), "CreatedFile      : C:\\App\\a.exe\nSaving registry...\n");
}

}  // namespace
}  // namespace scancap::testing
