#include "project/build_script.h"

#include "support/branding.h"
#include "support/fatal.h"
#include "support/handles.h"
#include "support/name_encoding.h"

namespace scancap {

Str InstallationDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetEnvironmentVariableW(L"VX_ORIGIN", buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
        if (length >= MAX_PATH) length = 0;
    }
    Str directory(buffer, length);
    ptrdiff_t slash = directory.FindLast(L'\\');
    if (slash >= 0) directory.SetLength(size_t(slash));
    return directory;
}

Str ComposeBuildScript(const Str& templateText, const Str& installDir) {
    Str script;
    DecodeProjectPath(templateText, script);

    static constexpr wchar_t kInstallDir[] = L"%INSTALLDIR%";
    constexpr size_t kInstallDirLength = 12;
    // Each replacement is followed by a new search from the start, so that a
    // macro formed by the inserted text and its neighbours is replaced too.
    // Nothing before at - 11 can have changed, so the search resumes there.
    // Some directories never let that end (one that holds the macro itself,
    // or one that keeps forming it with its neighbours); for those, and once
    // the replacements outnumber the characters of the text, the search goes
    // on after the inserted text instead, which always ends.
    const bool selfReferring = installDir.Find(kInstallDir) >= 0;
    const size_t budget = script.Length();
    size_t replacements = 0;
    size_t from = 0;
    for (ptrdiff_t at; (at = script.Find(kInstallDir, from)) >= 0;) {
        Str rest = script.Mid(size_t(at) + kInstallDirLength);
        script.SetLength(size_t(at));
        script.Append(installDir);
        if (selfReferring || ++replacements > budget) {
            from = script.Length();
        } else {
            from = size_t(at) > kInstallDirLength - 1 ? size_t(at) - (kInstallDirLength - 1) : 0;
        }
        script.Append(rest);
    }

    static constexpr wchar_t kTargetDir[] = L"TARGET_DIR=";
    ptrdiff_t target = script.Find(kTargetDir);
    if (target < 0) Fatal(L"Could not locate TARGET_DIR");
    size_t insertAt = size_t(target) + 11;
    Str rest = script.Mid(insertAt);
    script.SetLength(insertAt);
    script.Append(L"%PROJECT_DIR%\\bin\r\n");
    script.Append(rest);
    return script;
}

void WriteBuildScript(const Str& outputDir) {
    Str templateText = LoadBrandingText(kBrandingBuildTemplate);
    if (templateText.IsEmpty()) Fatal(L"Could not load build script template");
    WriteBuildScriptText(outputDir, templateText);
}

void WriteBuildScriptText(const Str& outputDir, const Str& templateText) {
    Str script = ComposeBuildScript(templateText, InstallationDirectory());

    Str path;
    path.Format(L"%ls\\build.bat", outputDir.c_str());
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) Fatal(L"Could not create build script, error %u", static_cast<unsigned>(GetLastError()));
    const char* bytes = script.Narrow();
    size_t length = script.NarrowLength();
    DWORD written = 0;
    if (bytes && length) WriteFile(file.get(), bytes, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace scancap
