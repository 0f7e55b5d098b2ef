// The images of an icon location: an icon group inside a program or
// library, or an icon file.
#pragma once

#include <cstdint>
#include <vector>

namespace scancap {

// Appends the width of every image of `iconFile` to `widths` (256 for an
// image whose width byte is 0, as icon directories write it). For a program
// or library, `groupId` -1 lists the first icon group found; any other value
// lists the group whose integer identifier is its low 16 bits. For an icon
// file the identifier does not matter.
void ListIconImages(const wchar_t* iconFile, int32_t groupId, std::vector<uint32_t>& widths);

}  // namespace scancap
