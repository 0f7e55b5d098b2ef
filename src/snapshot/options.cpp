#include "snapshot/options.h"

namespace scancap {

RunOptions& Options() {
    static RunOptions options;
    return options;
}

UpgradeFlags& BrowserUpgrade() {
    static UpgradeFlags flags;
    return flags;
}

bool& NativeInstallLog() {
    static bool printLog = false;
    return printLog;
}

}  // namespace scancap
