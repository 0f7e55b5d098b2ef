// Facts about the capture machine, taken from the snapshots or from the live
// machine, for the project overview and the generation run.
#pragma once

#include "snapshot/store.h"

namespace scancap {

// Did the capture upgrade the browser? Compares the "Version" of the
// Internet Explorer key in `pre` with the "svcVersion" (else "Version") in
// `post`: false unless both are set and differ. With `fromPrefix`, the pre
// version must begin with it and the post version with `toPrefix` (two
// characters each); with a null `fromPrefix` only the post version is tested.
// Case is ignored throughout.
bool IEUpgradeTest(const SnapshotStore& pre, const SnapshotStore& post, const wchar_t* fromPrefix,
                   const wchar_t* toPrefix);

// What the capture did to the browser; steers the file and key rules of a
// generation run and the overview's Wow64 line.
struct UpgradeFlags {
    bool ieUpgrade6To7 = false;
    bool ieUpgradeTo7To9 = false;
    bool ieUpgradeTo10 = false;
    bool ieUpgradeTo11 = false;
};

// Sets all four flags from the pair of snapshots.
void SetUpgradeFlags(const SnapshotStore& pre, const SnapshotStore& post, UpgradeFlags& flags);

}  // namespace scancap
