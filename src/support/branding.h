// The branding module: a resource-only DLL that lies beside the program (or in
// a "modules" folder above it) and carries the product name, the sample flag
// and the build-script template. A missing module is no error; every read
// then gives an empty text.
#pragma once

#include "support/handles.h"
#include "support/str.h"

namespace scancap {

constexpr UINT kBrandingProductName = 12000;  // string: product name of the banner
constexpr UINT kBrandingSampleFlag = 12001;   // string: "1" enables the overview samples
constexpr UINT kBrandingBuildTemplate = 12102;  // TEXT resource: build.bat template

// Loads the module on the first call (searching from the program's folder);
// later calls return that result. False sets the last error to
// ERROR_MOD_NOT_FOUND.
bool LoadBrandingModule();

// String-table entry `id`; empty when the module or the entry is missing.
Str LoadBrandingString(UINT id);
// "TEXT" resource `id` converted from 8-bit text; empty when missing.
Str LoadBrandingText(UINT id);

// The search behind LoadBrandingModule, from a folder that ends with "\":
// "Branding.dll" there, then in "..\modules", "..\..\modules" and
// "..\..\..\modules". Loads the first it finds as a data file and returns it
// (empty when none loads); `foundPath` receives its path.
Module FindBrandingModule(const Str& programDir, Str* foundPath = nullptr);

// The reads behind LoadBrandingString and LoadBrandingText, from `module`.
Str BrandingString(HMODULE module, UINT id);
Str BrandingText(HMODULE module, UINT id);

// Joins `relative` to `dir` component by component: "." is dropped, ".."
// removes the last component (never the root), a `relative` that begins with
// "\" or "/" is refused. False also when the result does not fit in MAX_PATH.
bool JoinRelativePath(const Str& dir, const wchar_t* relative, Str& out);

}  // namespace scancap
