// The synthetic key VirtualLocalAccounts: one REG_SZ value per local user
// account, named after the user and holding the account's security
// identifier, so a snapshot carries the user identities of its machine.
#pragma once

#include "snapshot/store.h"
#include "support/str.h"

#include <vector>

namespace scancap {

struct LocalAccount {
    Str userName;
    Str sid;  // "S-1-5-21-..."
};

// The local computer's normal user accounts whose identifier could be found,
// in enumeration order.
std::vector<LocalAccount> EnumerateLocalAccounts();

// Inserts the key, with one value per account, under
// "HKEY_LOCAL_MACHINE\Software\Halvern, Inc.\Ostrel" (missing keys on that
// path are created).
void InsertVirtualLocalAccounts(SnapshotStore& store, const std::vector<LocalAccount>& accounts);

// Both of the above: what the scan of HKEY_LOCAL_MACHINE adds.
void AddVirtualLocalAccounts(SnapshotStore& store);

}  // namespace scancap
