#include "project/templates.h"

#include "project/overrides.h"
#include "support/fatal.h"
#include "support/handles.h"
#include "support/messages.h"
#include "support/name_encoding.h"

#include <cwchar>
#include <cwctype>
#include <vector>

extern "C" NTSYSAPI NTSTATUS NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW info);

namespace scancap {

namespace {

bool FileExists(const Str& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The running program's folder with its trailing "\".
Str ProgramFolder() {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length >= MAX_PATH) length = 0;
    Str folder(buffer, length);
    ptrdiff_t slash = folder.FindLast(L'\\');
    folder.SetLength(slash < 0 ? 0 : size_t(slash) + 1);
    return folder;
}

// The whole value, however long; false when the variable is not set or
// empty.
bool ReadEnvironmentVariable(const wchar_t* name, Str& value) {
    value.Clear();
    for (;;) {
        DWORD size = static_cast<DWORD>(value.Capacity() - 1);
        DWORD length = GetEnvironmentVariableW(name, value.Data(), size);
        if (length == 0) {
            value.Clear();
            return false;
        }
        if (length < size) {
            value.SetLength(length);
            return true;
        }
        value.Reserve(length, true);
    }
}

bool IsWindows2000() {
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (RtlGetVersion(&info) != 0) return false;
    return info.dwMajorVersion == 5 && info.dwMinorVersion == 0;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == 0xA0 || c == 0x3000;
}

struct Line {
    const wchar_t* text;
    size_t length;
};

// Trimmed, non-empty lines of the text.
std::vector<Line> SplitLines(const Str& text) {
    std::vector<Line> lines;
    const wchar_t* p = text.c_str();
    size_t n = text.Length();
    size_t i = 0;
    while (i < n) {
        size_t start = i;
        while (i < n && text[i] != L'\r' && text[i] != L'\n') ++i;
        size_t end = i;
        if (i < n) ++i;
        while (start < end && IsBlank(p[start])) ++start;
        while (end > start && IsBlank(p[end - 1])) --end;
        if (end > start) lines.push_back({p + start, end - start});
    }
    return lines;
}

bool IsHeader(const Line& line, const wchar_t* section) {
    size_t n = std::wcslen(section);
    return line.length == n + 2 && line.text[0] == L'[' && line.text[n + 1] == L']' &&
           CompareStringOrdinal(line.text + 1, static_cast<int>(n), section, static_cast<int>(n), TRUE) ==
               CSTR_EQUAL;
}

// The lines of the first section of that name, comments left out.
std::vector<Line> SectionLines(const std::vector<Line>& lines, const wchar_t* section) {
    std::vector<Line> result;
    size_t i = 0;
    while (i < lines.size() && !IsHeader(lines[i], section)) ++i;
    if (i == lines.size()) return result;
    for (++i; i < lines.size() && lines[i].text[0] != L'['; ++i) {
        if (lines[i].text[0] != L'#') result.push_back(lines[i]);
    }
    return result;
}

// "flags;path" or "path": the flags (0 without a ";") and the path part.
uint32_t SplitFlags(const Line& line, Str& rest) {
    Str whole(line.text, line.length);
    ptrdiff_t semicolon = whole.Find(L';');
    if (semicolon < 0) {
        rest = whole;
        return 0;
    }
    rest = whole.Mid(size_t(semicolon) + 1);
    return static_cast<uint32_t>(std::wcstol(whole.c_str(), nullptr, 10));
}

void ApplySettings(ProjectRun& run, const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        Str whole(line.text, line.length);
        ptrdiff_t equals = whole.Find(L'=');
        if (equals < 0) continue;
        PackageSetting(run, whole.Left(size_t(equals))) = whole.Mid(size_t(equals) + 1);
    }
}

void ConvertUtf16(const uint8_t* bytes, size_t size, bool bigEndian, Str& out) {
    size_t units = size / 2;
    out.Reserve(units, true);
    out.SetLength(0);
    wchar_t* p = out.Data();
    for (size_t i = 0; i < units; ++i) {
        uint8_t lo = bigEndian ? bytes[2 * i + 1] : bytes[2 * i];
        uint8_t hi = bigEndian ? bytes[2 * i] : bytes[2 * i + 1];
        p[i] = static_cast<wchar_t>(lo | (hi << 8));
    }
    out.SetLength(units);
}

bool ConvertMultiByte(const uint8_t* bytes, size_t size, UINT codePage, Str& out) {
    out.SetLength(0);
    if (size == 0) return true;
    if (size > 0x7FFFFFFF) return false;
    const char* text = reinterpret_cast<const char*>(bytes);
    int units = MultiByteToWideChar(codePage, 0, text, static_cast<int>(size), nullptr, 0);
    if (units <= 0) return false;
    out.Reserve(size_t(units), true);
    int done = MultiByteToWideChar(codePage, 0, text, static_cast<int>(size), out.Data(), units);
    if (done <= 0) return false;
    out.SetLength(size_t(done));
    return true;
}

}  // namespace

Str FindTemplateFile(const Str& name) { return FindTemplateFile(name, ProgramFolder()); }

Str FindTemplateFile(const Str& name, const Str& programFolder) {
    Str candidate;
    Str folder;
    if (ReadEnvironmentVariable(L"VX_ORIGIN", folder)) {
        size_t cut = 0;
        for (size_t i = 0; i < folder.Length(); ++i) {
            if (folder[i] == L'\\' || folder[i] == L'/') cut = i + 1;
        }
        folder.SetLength(cut);
        candidate.Format(L"%ls%ls.template.txt", folder.c_str(), name.c_str());
        if (FileExists(candidate)) return candidate;
    }
    candidate.Format(L"%lsTemplates\\%ls.template.txt", programFolder.c_str(), name.c_str());
    if (FileExists(candidate)) return candidate;
    candidate.Format(L"%ls%ls.template.txt", programFolder.c_str(), name.c_str());
    if (FileExists(candidate)) return candidate;
    Fatal(L"Can't find template file %ls", name.c_str());
}

bool DecodeTemplateText(const uint8_t* bytes, size_t size, Str& out) {
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        ConvertUtf16(bytes + 2, size - 2, false, out);
        return true;
    }
    if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        ConvertUtf16(bytes + 2, size - 2, true, out);
        return true;
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return ConvertMultiByte(bytes + 3, size - 3, CP_UTF8, out);
    }
    if (size >= 2 && bytes[0] == '[' && bytes[1] == 0) {
        ConvertUtf16(bytes, size, false, out);
        return true;
    }
    if (size >= 2 && bytes[0] == 0 && bytes[1] == '[') {
        ConvertUtf16(bytes, size, true, out);
        return true;
    }
    if (size % 2 == 0 && size > 0) {
        // Mostly-ASCII UTF-16 has a zero in every other byte: the high bytes
        // come first in big-endian text, second in little-endian text.
        size_t threshold = (8 * size + 10) / 20;
        size_t evenZeros = 0, oddZeros = 0;
        for (size_t i = 0; i < size; i += 2) {
            if (bytes[i] == 0) ++evenZeros;
            if (bytes[i + 1] == 0) ++oddZeros;
        }
        if (evenZeros >= threshold) {
            ConvertUtf16(bytes, size, true, out);
            return true;
        }
        if (oddZeros >= threshold) {
            ConvertUtf16(bytes, size, false, out);
            return true;
        }
    }
    return ConvertMultiByte(bytes, size, CP_ACP, out);
}

void ApplyTemplateText(ProjectRun& run, const Str& text) {
    std::vector<Line> lines = SplitLines(text);
    Str path;
    Str machinePath;

    for (const Line& line : SectionLines(lines, L"IncludeFiles")) {
        uint32_t flags = SplitFlags(line, path);
        DecodeProjectPath(path, machinePath);
        SetFileOverride(run, machinePath, flags);
    }
    for (const Line& line : SectionLines(lines, L"ExcludeFiles")) {
        SplitFlags(line, path);
        DecodeProjectPath(path, machinePath);
        if (run.excludeList) run.excludeList->AddFileIgnore(machinePath.c_str());
    }
    for (const Line& line : SectionLines(lines, L"IncludeKeys")) {
        uint32_t flags = SplitFlags(line, path);
        SetKeyOverride(run, path, flags);
    }
    ApplySettings(run, SectionLines(lines, L"PackageSettings"));
    if (IsWindows2000()) ApplySettings(run, SectionLines(lines, L"PackageSettingsW2K"));
}

void LoadTemplate(ProjectRun& run, const Str& name) {
    Str path = FindTemplateFile(name);
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) FatalResourceWithSystemError(IDS_CANT_OPEN_TEMPLATE);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) FatalResourceWithSystemError(IDS_ERROR_READING_TEMPLATE);
    if (size.QuadPart >= 0x100000000LL) Fatal(L"Template file is too large");

    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) {
        if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
            FatalResourceWithSystemError(IDS_ERROR_READING_TEMPLATE);
        }
        if (read != bytes.size()) {
            SetLastError(ERROR_HANDLE_EOF);
            FatalResourceWithSystemError(IDS_ERROR_READING_TEMPLATE);
        }
    }
    file.reset();

    Str text;
    if (!DecodeTemplateText(bytes.data(), bytes.size(), text)) Fatal(L"Can't convert template to Unicode");
    bytes = {};
    ApplyTemplateText(run, text);
}

}  // namespace scancap
