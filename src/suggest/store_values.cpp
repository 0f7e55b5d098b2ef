#include "suggest/store_values.h"

namespace scancap {

bool SameFileState(const FileEntry& a, const FileEntry& b) {
    return FileTimeValue(a.creationTime) == FileTimeValue(b.creationTime) &&
           FileTimeValue(a.lastWriteTime) == FileTimeValue(b.lastWriteTime) && a.sizeHigh == b.sizeHigh &&
           a.sizeLow == b.sizeLow;
}

}  // namespace scancap
