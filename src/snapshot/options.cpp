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

}  // namespace scancap
