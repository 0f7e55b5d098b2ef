#include "app/command_line.h"

#include "support/branding.h"
#include "support/console.h"
#include "support/fatal.h"
#include "support/handles.h"

#include <cstdlib>
#include <cwchar>
#include <memory>

namespace scancap {

const wchar_t kUsageFormat[] =
    L"Error processing command-line arguments: %ls\n"
    L"Usage:\n"
    L"scancap.exe PreScanFileName.snapshot [BaseDir1]...[BaseDirN] [BaseReg1]...[BaseRegN]\n"
    L"scancap.exe PreScanFileName.snapshot PostScanFileName.snapshot OutDir [-Config ConfigFileName]\n"
    L"scancap.exe PreScanFileName.snapshot -Print\n"
    L"scancap.exe PreScanFileName.snapshot -SuggestName PostScanFileName.snapshot\n"
    L"scancap.exe PreScanFileName.snapshot -Diff PostScanFileName.snapshot OutDir [-Config ConfigFileName] [-Quiet]\n"
    L"scancap.exe PreScanFileName.snapshot -DiffPrint PostScanFileName.snapshot [-Config ConfigFileName] [-Quiet]\n"
    L"scancap.exe PreScanFileName.snapshot -Config ConfigFileName [BaseDir1]...[BaseDirN] [BaseReg1]...[BaseRegN]\n"
    L"scancap.exe PreScanFileName.snapshot -SuggestProject PostScanFileName.snapshot OutputTemplate.ini\n"
    L"scancap.exe OutputTemplate.ini -GenerateProject OutDir [-Config ConfigFileName]\n"
    L"scancap.exe CaptureFolderPath -installnative [-printlog]\n"
    L"  see help manual for examples\n";

namespace {

constexpr DWORD kFullPathChars = 1024;
constexpr DWORD kProfileChars = 1024;

bool Is(const wchar_t* argument, const wchar_t* keyword) {
    return CompareStringOrdinal(argument, -1, keyword, -1, TRUE) == CSTR_EQUAL;
}

// A whole decimal number from 0 to 2 (as strtol reads it: nothing may be left over).
bool ParseIeSelection(const wchar_t* text, int32_t& value) {
    wchar_t* end = nullptr;
    long number = wcstol(text, &end, 10);
    if (*end != L'\0' || number < 0 || number > 2) return false;
    value = static_cast<int32_t>(number);
    return true;
}

Str FullPath(const wchar_t* path) {
    wchar_t buffer[kFullPathChars];
    DWORD n = GetFullPathNameW(path, kFullPathChars, buffer, nullptr);
    if (n == 0 || n >= kFullPathChars) return Str();
    return Str(buffer, n);
}

Str ReadBuildOption(const Str& overviewFile, const wchar_t* key) {
    wchar_t buffer[kProfileChars];
    DWORD n = GetPrivateProfileStringW(L"BuildOptions", key, L"", buffer, kProfileChars, overviewFile.c_str());
    return Str(buffer, n);
}

void ParseGenerateProject(int argc, const wchar_t* const argv[], RunOptions& options) {
    options.templatePath = FullPath(argv[1]);
    options.preSnapshot = ReadBuildOption(options.templatePath, L"OriginalSnapshot");
    if (options.preSnapshot.IsEmpty())
        Fatal(L"%ls does not have entry [BuildOptions]->OriginalSnapshot", options.templatePath.c_str());
    options.postSnapshot = ReadBuildOption(options.templatePath, L"DestinationSnapshot");
    if (options.postSnapshot.IsEmpty())
        Fatal(L"%ls does not have entry [BuildOptions]->DestinationSnapshot", options.templatePath.c_str());
    options.mode = RunMode::Diff;
    if (argc < 4) Fatal(L"Expected OutputDirectory following -diff PostScanFileName.snapshot");
    options.outputDir = argv[3];
    // Only the one argument after the output directory is examined.
    if (argc > 4) {
        if (!Is(argv[4], L"-SetupCapture")) Fatal(L"Unexpected argument specified for -GenerateProject");
        options.setupCapture = true;
    }
}

void ParseSuggestProject(int argc, const wchar_t* const argv[], RunOptions& options) {
    if (argc < 5) Fatal(L"Expected [PostScanFileName.snapshot] [ProjectOverview.ini] after -SuggestProject");
    options.mode = RunMode::SuggestProject;
    options.postSnapshot = argv[3];
    options.overviewFile = argv[4];
    for (int i = 5; i < argc; ++i) {
        if (Is(argv[i], L"-SetupCapture")) {
            options.setupCapture = true;
        } else if (Is(argv[i], L"-IESelection")) {
            if (i + 1 >= argc || !ParseIeSelection(argv[i + 1], options.ieSelection))
                Fatal(L"-IESelection should be followed by a number 0-2");
            ++i;
        } else {
            Fatal(L"Too many arguments specified after -SuggestProject");
        }
    }
}

void ParseDiff(int argc, const wchar_t* const argv[], RunOptions& options, RunMode mode) {
    options.mode = mode;
    if (argc < 4) Fatal(L"Expected NewEnvironment.snapshot Filename after -diff/-diffprint");
    options.postSnapshot = argv[3];
    int next = 4;
    if (mode == RunMode::Diff) {
        if (argc < 5) Fatal(L"Expected OutputDirectory following -diff snapshot2");
        options.outputDir = argv[4];
        next = 5;
    }
    for (int i = next; i < argc; ++i) {
        if (Is(argv[i], L"-Config")) {
            if (i + 1 >= argc) Fatal(L"Expected ConfigFilename after -Config");
            options.configFile = argv[i + 1];
            if (i + 2 < argc) Fatal(L"Too many arguments specified for -Diff/-DiffPrint");
            ++i;
        } else if (Is(argv[i], L"-Quiet")) {
            options.quiet = true;
        } else if (Is(argv[i], L"-SetupCapture")) {
            options.setupCapture = true;
        } else {
            Fatal(L"Too many arguments specified after -Diff/-DiffPrint, expected -Config, -Quiet, no parameters: "
                  L"found %ls",
                  argv[i]);
        }
    }
}

void ParseScanForm(int argc, const wchar_t* const argv[], RunOptions& options) {
    options.mode = RunMode::Scan;
    for (int i = 2; i < argc; ++i) {
        if (Is(argv[i], L"-Config")) {
            if (i + 1 >= argc) Fatal(L"Expected ConfigFilename after -Config");
            options.configFile = argv[++i];
        } else if (Is(argv[i], L"-SetupCapture")) {
            options.setupCapture = true;
        } else if (wcscmp(argv[i], L"-") == 0) {
            Fatal(L"Unknown parameter or incorrect syntax");
        } else {
            options.bases.emplace_back(argv[i]);
        }
    }
}

void ParseKeywords(int argc, const wchar_t* const argv[], RunOptions& options) {
    if (argc < 2) Fatal(L"Expected Snapshot capture filename as first parameter");
    options.preSnapshot = argv[1];
    if (argc == 2) {
        options.mode = RunMode::Scan;
        return;
    }
    const wchar_t* keyword = argv[2];
    if (Is(keyword, L"-GenerateProject")) {
        ParseGenerateProject(argc, argv, options);
    } else if (Is(keyword, L"-Print")) {
        options.mode = RunMode::Print;
        if (argc > 3) Fatal(L"Too many arguments specified for -Print");
    } else if (Is(keyword, L"-SuggestName")) {
        if (argc < 4) Fatal(L"Expected PostScanFileName.snapshot Filename after -SuggestName");
        options.postSnapshot = argv[3];
        options.mode = RunMode::SuggestName;
        if (argc > 4) Fatal(L"Too many arguments specified after -SuggestName PostScanFileName.snapshot");
    } else if (Is(keyword, L"-SuggestProject")) {
        ParseSuggestProject(argc, argv, options);
    } else if (Is(keyword, L"-Diff")) {
        ParseDiff(argc, argv, options, RunMode::Diff);
    } else if (Is(keyword, L"-DiffPrint")) {
        ParseDiff(argc, argv, options, RunMode::DiffPrint);
    } else {
        ParseScanForm(argc, argv, options);
    }
}

}  // namespace

bool HasVersionArgument(int argc, const wchar_t* const argv[]) {
    for (int i = argc - 1; i >= 1; --i) {
        if (Is(argv[i], L"-Version")) return true;
    }
    return false;
}

void ParseArguments(int argc, const wchar_t* const argv[], RunOptions& options) {
    try {
        ParseKeywords(argc, argv, options);
    } catch (const Str& message) {
        Fatal(kUsageFormat, message.c_str());
    }
    if (options.bases.empty()) {
        options.bases.emplace_back(L"c:\\");
        options.bases.emplace_back(L"HKEY_LOCAL_MACHINE");
        options.bases.emplace_back(L"HKEY_USERS");
    }
}

void LoadConfiguration(RunOptions& options) {
    options.excludeList = CreateExcludeList();
    ExcludeList& list = *options.excludeList;
    if (options.configFile.IsEmpty()) {
        Str log;
        if (!list.FindAndLoad(L"Snapshot.ini", log)) Fatal(L"Error: %ls", log.c_str());
    } else {
        list.LoadListFile(options.configFile.c_str());
    }
    list.AddRegistryIgnore(L"HKEY_LOCAL_MACHINE\\FS");
}

void CaptureCurrentUserHive(RunOptions& options, const Str& userKey, const Str& classesKey) {
    bool found = false;
    for (const Str& base : options.bases) {
        const bool allUsers = Is(base.c_str(), L"HKEY_USERS");
        if (allUsers || base.EqualsNoCase(userKey)) {
            options.excludeList->AddRegistryIgnore(userKey.c_str());
            found = true;
        }
        if (allUsers || base.EqualsNoCase(classesKey)) {
            options.excludeList->AddRegistryIgnore(classesKey.c_str());
            found = true;
        }
    }
    if (!found) return;
    for (const Str& base : options.bases) {
        if (base == Str(L"HKEY_CURRENT_USER")) return;
    }
    options.bases.emplace_back(L"HKEY_CURRENT_USER");
}

const Str& CurrentUserSidString() {
    static const Str sid = [] {
        Str text;
        KernelHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return text;
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        if (size == 0) return text;
        std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
        if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) return text;
        text.AppendSid(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid);
        return text;
    }();
    return sid;
}

void ParseCommandLine(int argc, const wchar_t* const argv[], RunOptions& options) {
    if (HasVersionArgument(argc, argv)) {
        // Narrow text written as is, so a redirected stream gets exactly these bytes.
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kVersionText, sizeof(kVersionText) - 1, &written, nullptr);
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, nullptr);
        std::exit(0);
    }
    ParseArguments(argc, argv, options);
    // Warnings of the configuration loading already obey -Quiet.
    SetQuiet(options.quiet);

    Str userKey(L"HKEY_USERS\\");
    userKey += CurrentUserSidString();
    Str classesKey = userKey;
    classesKey += L"_Classes";

    if (options.mode != RunMode::SuggestName && !options.setupCapture) {
        Str product = LoadBrandingString(kBrandingProductName);
        PrintPlain(L"%ls Scancap Tool Version %hs, Built %hs\n", product.c_str(), kVersionText, kBuildDateText);
    }
    LoadConfiguration(options);
    CaptureCurrentUserHive(options, userKey, classesKey);
}

}  // namespace scancap
