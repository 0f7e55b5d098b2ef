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

// The drives of the post snapshot that a package may virtualize: fixed
// drives, and every removable, fixed, CD-ROM and RAM drive, each as
// "Drive=c, Serial=0123abcd, Type=FIXED" joined by "; ".
struct DriveLists {
    Str fixedDrives;
    Str allDrives;
};
DriveLists DriveLines(const SnapshotStore& post);

// Processor cores of this machine; 0 when the system cannot say.
uint32_t ProcessorCoreCount();
// Is this machine a virtual machine with the "Halvern Tools" guest tools?
bool IsHalvernVirtualMachine();

// The "RegisteredOrganization" of this machine, "Unknown" when it has none.
Str RegisteredOrganization();
// This machine's name; empty when the system cannot say.
Str ComputerName();

// The version record of the running system.
struct SystemVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t suiteMask = 0;
    uint32_t productType = 0;
    Str servicePack;
    uint32_t PlatformVersion() const { return (major << 8) | minor; }
};
SystemVersion RunningSystemVersion();
// 64 on a 64-bit system, else 32.
int SystemArchitecture();

// The machine-fact groups of the overview's [BuildOptions] section, each
// beginning with an empty line, appended to `text` in the overview's order.
void WriteLocaleLines(Str& text);
void WriteWow64Lines(const SnapshotStore& post, const UpgradeFlags& flags, Str& text);
void WriteAltArchitectureLines(Str& text, bool bothKinds);
void WriteDotNetLines(Str& text);
void WriteQualityReportingLines(Str& text);
void WriteDdeLines(Str& text, int32_t ieSelection);

}  // namespace scancap
