#include "project/overrides.h"

#include <cwchar>

namespace scancap {

void SetFileOverride(ProjectRun& run, const Str& path, uint32_t flags) {
    Str upper(path);
    upper.MakeUpper();
    // The C runtime is never forced into a package: the virtual environment
    // always takes the system's own copy.
    ptrdiff_t slash = upper.FindLast(L'\\');
    const wchar_t* fileName = upper.c_str() + (slash + 1);
    if (std::wcscmp(fileName, L"MSVCRT.DLL") == 0) return;
    run.includedFiles[upper] = flags;
}

void SetKeyOverride(ProjectRun& run, const Str& keyPath, uint32_t flags) {
    Str upper(keyPath);
    upper.MakeUpper();
    run.includedKeys[upper] = flags;
}

Str& PackageSetting(ProjectRun& run, const Str& name) { return run.packageSettings[name]; }

bool HasTemplateName(const std::vector<Str>& names, const Str& name) {
    for (const Str& n : names) {
        if (n.EqualsNoCase(name)) return true;
    }
    return false;
}

}  // namespace scancap
