// The parsed command line, shared by the driver, the scanners and the
// project writers.
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

// The process-wide options.
RunOptions& Options();

// Browser-upgrade flags, set by the driver from the two snapshots.
struct UpgradeFlags {
    bool ieUpgrade6To7 = false;
    bool ieUpgradeTo7To9 = false;
    bool ieUpgradeTo10 = false;
    bool ieUpgradeTo11 = false;
};
UpgradeFlags& BrowserUpgrade();

// Set when a native install line ends with "-printlog".
bool& NativeInstallLog();

}  // namespace scancap
