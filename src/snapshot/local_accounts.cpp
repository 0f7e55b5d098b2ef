#include "snapshot/local_accounts.h"

#include "support/handles.h"

#include <lm.h>
#include <sddl.h>

namespace scancap {

namespace {

constexpr wchar_t kParentPath[] = L"HKEY_LOCAL_MACHINE\\Software\\Halvern, Inc.\\Ostrel";
constexpr wchar_t kKeyName[] = L"VirtualLocalAccounts";

// Read once; while it could not be read, user names go unqualified.
const Str& ComputerName() {
    static Str name;
    if (name.IsEmpty()) {
        wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
        if (GetComputerNameW(buffer, &length)) name.Assign(buffer, length);
    }
    return name;
}

std::vector<Str> LocalUserNames() {
    std::vector<Str> names;
    DWORD resume = 0;
    for (;;) {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        NET_API_STATUS status =
            NetUserEnum(nullptr, 0, FILTER_NORMAL_ACCOUNT, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if ((status == NERR_Success || status == ERROR_MORE_DATA) && buffer) {
            const USER_INFO_0* users = reinterpret_cast<const USER_INFO_0*>(buffer);
            for (DWORD i = 0; i < read; ++i) names.emplace_back(users[i].usri0_name);
        }
        if (buffer) NetApiBufferFree(buffer);
        if (status != ERROR_MORE_DATA) break;
    }
    return names;
}

bool LookupSid(const Str& userName, Str& sidText) {
    Str qualified;
    if (!ComputerName().IsEmpty()) {
        qualified = ComputerName();
        qualified += L"\\";
    }
    qualified += userName;

    DWORD sidSize = 0, domainSize = 0;
    SID_NAME_USE use;
    if (LookupAccountNameW(nullptr, qualified.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use)) return false;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    std::vector<uint8_t> sid(sidSize ? sidSize : 1);
    std::vector<wchar_t> domain(domainSize ? domainSize : 1);
    if (!LookupAccountNameW(nullptr, qualified.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use))
        return false;
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid.data(), &text)) return false;
    LocalMem owner(text);
    sidText = text;
    return true;
}

}  // namespace

std::vector<LocalAccount> EnumerateLocalAccounts() {
    std::vector<LocalAccount> accounts;
    for (const Str& name : LocalUserNames()) {
        Str sid;
        if (LookupSid(name, sid)) accounts.push_back({name, sid});
    }
    return accounts;
}

void InsertVirtualLocalAccounts(SnapshotStore& store, const std::vector<LocalAccount>& accounts) {
    RegKeyRecord key{};
    key.nameOffset = store.AllocateName(kKeyName, std::size(kKeyName) - 1);
    key.valueCount = uint32_t(accounts.size());
    key.valueOffset = store.Allocate(key.valueCount * uint32_t(sizeof(RegValueRecord)));
    for (uint32_t i = 0; i < key.valueCount; ++i) {
        const LocalAccount& account = accounts[i];
        RegValueRecord value;
        value.nameOffset = store.AllocateName(account.userName.c_str(), account.userName.Length());
        value.type = REG_SZ;
        value.dataLength = uint32_t((account.sid.Length() + 1) * sizeof(wchar_t));
        value.dataOffset = store.AllocateBytes(account.sid.c_str(), value.dataLength);
        store.Write(key.valueOffset + i * uint32_t(sizeof(RegValueRecord)), value);
    }
    store.InsertKeyRecord(kParentPath, key);
}

void AddVirtualLocalAccounts(SnapshotStore& store) { InsertVirtualLocalAccounts(store, EnumerateLocalAccounts()); }

}  // namespace scancap
