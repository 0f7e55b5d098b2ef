// Reading the UTF-16LE text files of a project (registry text files, the
// support report) through a read-only mapping, line by line.
#pragma once

#include "support/handles.h"
#include "support/str.h"

#include <cstddef>

namespace scancap {

// A whole file mapped read-only.
struct MappedFile {
    FileHandle file;
    KernelHandle mapping;
    MappedView view;
    size_t size = 0;

    const BYTE* Bytes() const { return static_cast<const BYTE*>(view.get()); }
};

enum class MapResult { Mapped, Empty, Failed };

// Opens `path` for reading (others may read too) and maps it. A failure
// prints its "ERROR: ..." line on standard output and gives Failed; an empty
// file gives Empty without a message.
MapResult MapTextFile(const Str& path, MappedFile& out);

// Splits UTF-16LE bytes into lines at each CR LF pair; a CR or LF on its own
// stays in its line. The code units are read byte by byte, so the bytes need
// no alignment, and an odd last byte is ignored.
class Utf16Lines {
public:
    Utf16Lines(const BYTE* data, size_t size) : data_(data), units_(size / 2) {}
    // The next line, without its CR LF, into `line`; false at the end.
    bool Next(Str& line);

private:
    wchar_t Unit(size_t i) const { return static_cast<wchar_t>(data_[2 * i] | (data_[2 * i + 1] << 8)); }

    const BYTE* data_;
    size_t units_;
    size_t next_ = 0;
};

}  // namespace scancap
