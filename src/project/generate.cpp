#include "project/generate.h"

#include "project/file_tree.h"
#include "project/installer_components.h"
#include "project/overrides.h"
#include "project/package_ini.h"
#include "project/path_analysis.h"
#include "project/registry_text.h"
#include "project/templates.h"
#include "report/machine_overview.h"
#include "support/console.h"

#include <cwchar>
#include <string>
#include <vector>

namespace scancap {

void LoadOverviewTemplates(ProjectRun& run, const Str& overviewFile) {
    // The section-name list comes back as NUL-separated names ending in an
    // empty one; a result of size - 2 means the buffer was too small.
    std::wstring names(4096, L'\0');
    for (;;) {
        DWORD length = GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()),
                                                      overviewFile.c_str());
        if (length + 2 < names.size()) {
            names.resize(length);
            break;
        }
        names.assign(names.size() * 2, L'\0');
    }
    std::vector<Str>& loaded = run.templateNames;
    Str listed;
    Str name;
    Str disabled;
    for (size_t start = 0; start < names.size();) {
        const wchar_t* section = names.c_str() + start;
        size_t length = std::wcslen(section);
        start += length + 1;
        if (length == 0) continue;
        listed.ReadProfileString(section, L"Template", L"", overviewFile.c_str());
        if (listed.IsEmpty()) continue;
        disabled.ReadProfileString(section, L"Disabled", L"0", overviewFile.c_str());
        if (!(disabled == Str(L"0"))) continue;
        // The overview's [BuildOptions] names every template of the capture
        // on one line, separated by ";"; an entry section names one.
        for (size_t from = 0; from <= listed.Length();) {
            ptrdiff_t end = listed.Find(L';', from);
            size_t stop = end < 0 ? listed.Length() : static_cast<size_t>(end);
            name = listed.Mid(from, stop - from);
            name.Trim(L' ');
            from = stop + 1;
            if (name.IsEmpty() || HasTemplateName(loaded, name)) continue;
            LoadTemplate(run, name);
            loaded.push_back(name);
        }
    }
}

void GenerateProject(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre) {
    if (!run.templatePath.IsEmpty()) LoadOverviewTemplates(run, run.templatePath);

    std::vector<Str> newPathDirectories = AnalyseEnvironmentPath(post, pre);
    AnalyseSharedDlls(run, post, pre);
    AnalyseInstallerComponents(run, post, pre);

    RunFilePass(run, post, pre);

    WriteCaptureMachineOverview(run.outputDir);

    PrintPlain(L"Saving registry...\n");
    WriteRegistryFiles(run, post, pre, newPathDirectories);

    if (!run.printOnly) WritePackageSettings(run.outputDir, run.templatePath, run.templateNames);
}

}  // namespace scancap
