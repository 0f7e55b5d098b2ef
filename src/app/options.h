// The parsed command line of one run. The driver owns the one instance and
// hands each mode the parts it needs.
#pragma once

#include "support/exclude_list.h"
#include "support/str.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace scancap {

enum class RunMode : int32_t {
    Scan = 0,
    Diff = 1,
    DiffPrint = 2,
    Print = 3,
    SuggestName = 4,
    SuggestProject = 5,
};

struct RunOptions {
    std::unique_ptr<ExcludeList> excludeList;  // made while the configuration loads
    Str preSnapshot;
    Str postSnapshot;
    Str outputDir;
    Str configFile;
    Str overviewFile;
    Str templatePath;
    std::vector<Str> bases;
    bool quiet = false;
    bool setupCapture = false;
    int32_t ieSelection = -1;
    RunMode mode = RunMode::Scan;
};

}  // namespace scancap
