#include "support/branding.h"

#include <cstring>
#include <memory>
#include <new>

namespace scancap {
namespace {

HMODULE g_module = nullptr;
bool g_searched = false;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Characters of `path` that ".." may never remove: "C:\" or "\\server\share\".
size_t RootLength(const Str& path) {
    size_t n = path.Length();
    if (n >= 3 && path[1] == L':' && IsSeparator(path[2])) return 3;
    if (n >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t separators = 0;
        for (size_t i = 2; i < n; ++i) {
            if (IsSeparator(path[i]) && ++separators == 2) return i + 1;
        }
        return n;
    }
    return 0;
}

}  // namespace

bool JoinRelativePath(const Str& dir, const wchar_t* relative, Str& out) {
    if (IsSeparator(relative[0])) return false;
    out = dir;
    if (!out.IsEmpty() && !IsSeparator(out[out.Length() - 1])) out += L'\\';
    const size_t root = RootLength(out);
    const size_t length = wcslen(relative);
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && !IsSeparator(relative[end])) ++end;
        const size_t count = end - start;
        const wchar_t* part = relative + start;
        if (count == 0 || (count == 1 && part[0] == L'.')) {
            // empty or "." component: nothing to add
        } else if (count == 2 && part[0] == L'.' && part[1] == L'.') {
            // `out` ends with a separator here; cut after the one before it.
            ptrdiff_t cut = -1;
            for (size_t i = out.IsEmpty() ? 0 : out.Length() - 1; i > 0; --i) {
                if (IsSeparator(out[i - 1])) {
                    cut = static_cast<ptrdiff_t>(i);
                    break;
                }
            }
            if (cut >= 0 && static_cast<size_t>(cut) >= root) out.SetLength(static_cast<size_t>(cut));
        } else {
            out.Append(part, count);
            if (end < length) out += L'\\';
        }
        start = end + 1;
    }
    return out.Length() < MAX_PATH;
}

Module FindBrandingModule(const Str& programDir, Str* foundPath) {
    static const wchar_t* const kCandidates[] = {
        L"Branding.dll",
        L"..\\modules\\Branding.dll",
        L"..\\..\\modules\\Branding.dll",
        L"..\\..\\..\\modules\\Branding.dll",
    };
    Str path;
    for (const wchar_t* candidate : kCandidates) {
        if (!JoinRelativePath(programDir, candidate, path)) continue;
        // As a data file: no code of the module runs, only its resources are read.
        Module module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (module) {
            if (foundPath) *foundPath = path;
            return module;
        }
    }
    return Module();
}

bool LoadBrandingModule() {
    if (!g_searched) {
        g_searched = true;
        wchar_t program[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            Str dir(program, n);
            ptrdiff_t slash = dir.FindLast(L'\\');
            dir.SetLength(slash >= 0 ? static_cast<size_t>(slash) + 1 : 0);
            // Loaded for the rest of the process.
            g_module = FindBrandingModule(dir).release();
        }
    }
    if (!g_module) SetLastError(ERROR_MOD_NOT_FOUND);
    return g_module != nullptr;
}

Str BrandingString(HMODULE module, UINT id) {
    Str text;
    text.LoadResourceString(module, id);
    return text;
}

Str BrandingText(HMODULE module, UINT id) {
    Str text;
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), L"TEXT");
    if (!info) return text;
    DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return text;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[size + 1]);
    if (!copy) return text;
    std::memcpy(copy.get(), bytes, size);
    copy[size] = '\0';
    text.AssignNarrow(copy.get(), strlen(copy.get()));
    return text;
}

Str LoadBrandingString(UINT id) { return LoadBrandingModule() ? BrandingString(g_module, id) : Str(); }

Str LoadBrandingText(UINT id) { return LoadBrandingModule() ? BrandingText(g_module, id) : Str(); }

}  // namespace scancap
