#include "app/driver.h"

#include "app/command_line.h"
#include "app/options.h"
#include "app/progress.h"
#include "install/native_install.h"
#include "project/com_analysis.h"
#include "project/generate.h"
#include "report/machine_overview.h"
#include "snapshot/file_scanner.h"
#include "snapshot/long_path.h"
#include "snapshot/printer.h"
#include "snapshot/snapshot_file.h"
#include "suggest/entry_naming.h"
#include "suggest/machine_facts.h"
#include "suggest/project_overview.h"
#include "support/console.h"
#include "support/fatal.h"
#include "support/folder_macros.h"

#include <conio.h>
#include <objbase.h>
#include <shlobj.h>

namespace scancap {
namespace {

constexpr DWORD kFullPathChars = 1024;

Str FullPath(const Str& path) {
    wchar_t buffer[kFullPathChars];
    DWORD n = GetFullPathNameW(path.c_str(), kFullPathChars, buffer, nullptr);
    if (n == 0 || n >= kFullPathChars) return Str();
    return Str(buffer, n);
}

Str FullPathOrName(const Str& path) {
    Str full = FullPath(path);
    return full.IsEmpty() ? path : full;
}

// Each step reports on the console and none stops the others; the install
// always ends with exit code 0.
int RunNativeInstall(const Str& captureFolder, bool printLog) {
    ShowCaptureAndDeployedMachine(captureFolder);
    InstallCapturedFiles(captureFolder, printLog);
    ImportRegistryFiles(captureFolder, printLog);
    // Installed file types and handlers take effect in the shell at once.
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return 0;
}

int RunScanMode(const RunOptions& options) {
    PrintPlain(L"Scanning system, this may take a few minutes...\n");
    if (!ProbeWritable(options.preSnapshot)) Fatal(L"Could not open %ls for writing", options.preSnapshot.c_str());
    StartProgressThread();
    SnapshotStore store;
    ScanAllBases(store, options.bases, options.excludeList.get());
    SaveSnapshot(store, options.preSnapshot);
    StopProgressThread();
    return 0;
}

int RunPrintMode(const RunOptions& options) {
    SnapshotStore store;
    LoadSnapshot(store, options.preSnapshot);
    PrintSnapshot(store);
    return 0;
}

int RunSuggestNameMode(const RunOptions& options) {
    SnapshotStore pre;
    SnapshotStore post;
    LoadSnapshot(pre, options.preSnapshot);
    LoadSnapshot(post, options.postSnapshot);
    SuggestName(post, pre, *options.excludeList);
    return 0;
}

int RunSuggestProjectMode(const RunOptions& options) {
    SnapshotStore pre;
    SnapshotStore post;
    LoadSnapshot(pre, options.preSnapshot);
    LoadSnapshot(post, options.postSnapshot);
    Str prePath = FullPath(options.preSnapshot);
    Str postPath = FullPath(options.postSnapshot);
    OverviewSettings settings;
    settings.excludeList = options.excludeList.get();
    settings.ieSelection = options.ieSelection;
    settings.upgrade.ieUpgradeTo10 = IEUpgradeTest(pre, post, nullptr, L"10.");
    settings.upgrade.ieUpgradeTo11 = IEUpgradeTest(pre, post, nullptr, L"11.");
    WriteProjectOverview(post, pre, options.overviewFile, prePath, postPath, settings);
    return 0;
}

int RunDiffMode(RunOptions& options) {
    PrintPlain(L"Generating output project to directory %ls\n", options.outputDir.c_str());
    if (options.mode == RunMode::Diff) {
        Str packageIni = options.outputDir;
        packageIni += L"\\Package.ini";
        if (!ProbeWritable(packageIni)) {
            // The one message of the program that goes to a window, not the console.
            Str message = PackageIniProbeMessage(options.outputDir, packageIni);
            MessageBoxW(nullptr, message.c_str(), L"Error", MB_OK);
            return 1;
        }
    }
    SnapshotStore pre;
    SnapshotStore post;
    LoadSnapshot(pre, options.preSnapshot);
    LoadSnapshot(post, options.postSnapshot);

    ProjectRun run;
    run.excludeList = options.excludeList.get();
    // Compared with the full paths of the capture: a snapshot named relative
    // to the current folder on a scanned drive must stay out of the project.
    run.preSnapshot = FullPathOrName(options.preSnapshot);
    run.postSnapshot = FullPathOrName(options.postSnapshot);
    run.templatePath = options.templatePath;
    run.outputDir = options.outputDir;
    run.printOnly = options.mode == RunMode::DiffPrint;
    run.quiet = options.quiet;
    SetUpgradeFlags(pre, post, run.upgrade);
    ScanComRegistrations(run, post);
    GenerateProject(run, post, pre);
    // The project is complete but for these files; a script that drives the
    // capture must not take it for a good one. Reported even with -Quiet,
    // which silences the warning of each file.
    if (run.failedCopies == 0) return 0;
    PrintError(L"%u file(s) could not be copied\n", static_cast<unsigned>(run.failedCopies));
    return kExitIncompleteProject;
}

int DispatchMode(RunOptions& options) {
    switch (options.mode) {
    case RunMode::Scan: return RunScanMode(options);
    case RunMode::Print: return RunPrintMode(options);
    case RunMode::SuggestName: return RunSuggestNameMode(options);
    case RunMode::SuggestProject: return RunSuggestProjectMode(options);
    case RunMode::Diff:
    case RunMode::DiffPrint: return RunDiffMode(options);
    }
    return 0;
}

void WaitForKey() {
    for (int poll = 0; poll < 6000; ++poll) {
        if (_kbhit()) {
            _getwch();
            return;
        }
        Sleep(100);
    }
}

}  // namespace

bool IsNativeInstallLine(int argc, const wchar_t* const argv[], bool& printLog) {
    printLog = false;
    if (argc < 3 || CompareStringOrdinal(argv[2], -1, L"-installnative", -1, TRUE) != CSTR_EQUAL) return false;
    printLog = argc == 4 && CompareStringOrdinal(argv[3], -1, L"-printlog", -1, TRUE) == CSTR_EQUAL;
    return true;
}

Str PackageIniProbeMessage(const Str& outputDir, const Str& packageIni) {
    Str message;
    if (outputDir.EndsWith(L' '))
        message.Format(L"%ls has trailing space", outputDir.c_str());
    else
        message.Format(L"Could not open %ls for writing", packageIni.c_str());
    return message;
}

int ReportFatal(const Str& message, bool setupCapture) {
    StopProgressThread();
    // A -SetupCapture line that failed before its mode started still gets the
    // terse error line.
    if (setupCapture) SetTerseOutput(true);
    PrintError(L"%ls\n", message.c_str());
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) && GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) {
        static const wchar_t kPrompt[] = L"Press any key to exit\n";
        WriteErr(kPrompt, wcslen(kPrompt));
        WaitForKey();
    }
    return 1;
}

int RunScancap(int argc, wchar_t** argv) {
    CoInitialize(nullptr);
    InitFolderMacros();

    bool printLog = false;
    if (IsNativeInstallLine(argc, argv, printLog)) return RunNativeInstall(Str(argv[1]), printLog);

    InitConsoleLock();
    // Alive until exit: the exclusion list it holds serves every mode.
    RunOptions options;
    int exitCode;
    try {
        ParseCommandLine(argc, argv, options);
        if (options.setupCapture) SetTerseOutput(true);
        exitCode = DispatchMode(options);
    } catch (const Str& message) {
        exitCode = ReportFatal(message, options.setupCapture);
    }
    DeleteConsoleLock();
    return exitCode;
}

}  // namespace scancap
