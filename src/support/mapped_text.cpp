#include "support/mapped_text.h"

#include "support/console.h"

namespace scancap {

MapResult MapTextFile(const Str& path, MappedFile& out) {
    out = MappedFile();
    out.file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.file) {
        PrintPlain(L"ERROR: File %ls could not be opened\n", path.c_str());
        return MapResult::Failed;
    }
    // An empty file cannot be mapped, so the size is asked first.
    LARGE_INTEGER size{};
    const bool sized = GetFileSizeEx(out.file.get(), &size);
    if (sized && size.QuadPart == 0) return MapResult::Empty;
    if (sized) out.mapping.reset(CreateFileMappingW(out.file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!out.mapping) {
        PrintPlain(L"ERROR: File mapping for file %ls failed\n", path.c_str());
        return MapResult::Failed;
    }
    out.view.reset(MapViewOfFile(out.mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!out.view) {
        PrintPlain(L"ERROR: MapViewOfFile for file %ls failed\n", path.c_str());
        return MapResult::Failed;
    }
    out.size = static_cast<size_t>(size.QuadPart);
    return MapResult::Mapped;
}

bool Utf16Lines::Next(Str& line) {
    if (next_ >= units_) return false;
    size_t end = next_;
    while (end < units_ && !(Unit(end) == L'\r' && end + 1 < units_ && Unit(end + 1) == L'\n')) ++end;
    const size_t length = end - next_;
    line.Reserve(length, true);
    wchar_t* text = line.Data();
    for (size_t i = 0; i < length; ++i) text[i] = Unit(next_ + i);
    line.SetLength(length);
    next_ = end < units_ ? end + 2 : end;
    return true;
}

}  // namespace scancap
