#include "project/registry_text.h"

#include "project/com_analysis.h"
#include "project/overrides.h"
#include "support/console.h"
#include "support/fatal.h"
#include "support/handles.h"
#include "support/name_encoding.h"

#include <cstring>
#include <cwchar>

namespace scancap {

namespace {

constexpr uint32_t kIsolationWriteCopy = 1;
constexpr uint32_t kIsolationFull = 3;

constexpr wchar_t kServicesPrefix[] = L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr size_t kServicesPrefixLength = 53;
static_assert(sizeof(kServicesPrefix) / sizeof(wchar_t) - 1 == kServicesPrefixLength);

constexpr wchar_t kHexDigits[] = L"0123456789abcdef";

const wchar_t* TypeName(uint32_t type) {
    static const wchar_t* const names[] = {
        L"REG_NONE",          L"REG_SZ",
        L"REG_EXPAND_SZ",     L"REG_BINARY",
        L"REG_DWORD",         L"REG_DWORD_BIG_ENDIAN",
        L"REG_LINK",          L"REG_MULTI_SZ",
        L"REG_RESOURCE_LIST", L"REG_FULL_RESOURCE_DESCRIPTOR",
        L"REG_RESOURCE_REQUIREMENTS_LIST", L"REG_QWORD",
    };
    return type < 12 ? names[type] : nullptr;
}

// Str grows in fixed steps; the file text of a large hive and the body of a
// key with large values grow by doubling instead, so that building them stays
// linear.
void EnsureRoom(Str& text, size_t extra) {
    size_t needed = text.Length() + extra + 2;
    if (needed > text.Capacity()) {
        size_t doubled = text.Capacity() * 2;
        text.Reserve(needed > doubled ? needed : doubled);
    }
}

bool IsStringType(uint32_t type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

void AppendHexByte(Str& out, uint8_t b) {
    const wchar_t escaped[3] = {L'#', kHexDigits[b >> 4], kHexDigits[b & 15]};
    out.Append(escaped, 3);
}

// The escaping every name and data text gets on its way into the file: the
// characters that would break the line format become "#xx".
void AppendOuterEscaped(Str& out, const wchar_t* text, size_t length) {
    size_t runStart = 0;
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = text[i];
        if (c == L'#' || c == L'\r' || c == L'\t' || c == L'\n' || c == 0) {
            if (i > runStart) out.Append(text + runStart, i - runStart);
            AppendHexByte(out, static_cast<uint8_t>(c));
            runStart = i + 1;
        }
    }
    if (length > runStart) out.Append(text + runStart, length - runStart);
}

// ASCII-only case-insensitive prefix test.
bool StartsWithNoCase(const wchar_t* text, size_t length, const wchar_t* prefix, size_t prefixLength) {
    if (length < prefixLength) return false;
    for (size_t i = 0; i < prefixLength; ++i) {
        wchar_t a = text[i], b = prefix[i];
        if (a >= L'a' && a <= L'z') a = static_cast<wchar_t>(a - 32);
        if (b >= L'a' && b <= L'z') b = static_cast<wchar_t>(b - 32);
        if (a != b) return false;
    }
    return true;
}

bool EqualsNoCase(const wchar_t* text, size_t length, const wchar_t* other) {
    size_t otherLength = std::wcslen(other);
    return length == otherLength && StartsWithNoCase(text, length, other, otherLength);
}

// Scratch buffers reused for every value, so that the walk allocates only
// when a buffer has to grow.
struct ValueScratch {
    Str encoded;
    Str units;
};

void AppendValueEntryWith(Str& body, const SnapshotStore& store, const RegValueRecord& value,
                          ValueScratch& scratch) {
    NameView name = store.Name(value.nameOffset);
    wchar_t marker = L'=';
    const wchar_t* nameText = name.text;
    size_t nameLength = name.length;
    if (EncodeMachinePath(name.text, name.length, scratch.encoded, &ValueNameEscapes)) {
        marker = L'~';
        nameText = scratch.encoded.c_str();
        nameLength = scratch.encoded.Length();
    }
    // Outer escaping at most triples a text.
    EnsureRoom(body, 3 * nameLength + 40);
    body.Append(L"  Value", 7);
    body.Append(marker, 1);
    AppendOuterEscaped(body, nameText, nameLength);
    body.Append(L"\r\n  ", 4);

    const wchar_t* typeName = TypeName(value.type);
    if (typeName) {
        body.Append(typeName);
    } else {
        body.AppendFormat(L"%d", static_cast<int>(value.type));
    }

    const uint8_t* data = value.dataLength ? store.DataAt(value.dataOffset, value.dataLength) : nullptr;
    uint32_t dataLength = data ? value.dataLength : 0;
    if (!IsStringType(value.type)) {
        EnsureRoom(body, 3 * size_t(dataLength) + 3);
        body.Append(L'=', 1);
        for (uint32_t i = 0; i < dataLength; ++i) AppendHexByte(body, data[i]);
        body.Append(L"\r\n", 2);
        return;
    }

    // String data: copied out of the arena, where it may lie at an odd
    // offset, as whole code units (an odd last byte is dropped).
    size_t unitCount = dataLength / 2;
    scratch.units.Reserve(unitCount, true);
    scratch.units.SetLength(0);
    if (unitCount) {
        std::memcpy(scratch.units.Data(), data, unitCount * 2);
        scratch.units.SetLength(unitCount);
    }
    const wchar_t* units = scratch.units.c_str();
    // Data that starts with NUL (the empty string) stays literal; otherwise
    // the escaped terminator alone already makes the encoded form.
    if (unitCount && units[0] != 0 &&
        EncodeMachinePath(units, unitCount, scratch.encoded, &ValueDataEscapes)) {
        EnsureRoom(body, 3 * scratch.encoded.Length() + 3);
        body.Append(L'~', 1);
        AppendOuterEscaped(body, scratch.encoded.c_str(), scratch.encoded.Length());
    } else {
        EnsureRoom(body, 3 * unitCount + 3);
        body.Append(L'=', 1);
        AppendOuterEscaped(body, units, unitCount);
    }
    body.Append(L"\r\n", 2);
}

class RegistryPass {
public:
    RegistryPass(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre)
        : run_(run), post_(post), pre_(pre), exclude_(*run.excludeList), upgrade_(run.upgrade) {}

    void WriteRoot(uint32_t rootOffset, const Str& outputDir, const std::vector<Str>& newPathDirectories);

private:
    void VisitKey(uint32_t keyOffset, const RegKeyRecord& key, uint32_t inheritedIsolation,
                  bool inheritedForced, int depth);
    void WarnKernelService(const RegKeyRecord& key);
    void AppendLeftovers();
    void AppendVirtualPath(const std::vector<Str>& newPathDirectories);
    void AppendPackageSettings();

    ProjectRun& run_;
    const SnapshotStore& post_;
    const SnapshotStore& pre_;
    ExcludeList& exclude_;
    const UpgradeFlags& upgrade_;

    Str hive_;
    Str text_;      // the whole file, built in memory
    Str fullPath_;  // the key being visited; extended and cut back by the walk
    Str upper_;
    Str body_;
    Str valueName_;
    ValueScratch scratch_;
};

void RegistryPass::WriteRoot(uint32_t rootOffset, const Str& outputDir,
                             const std::vector<Str>& newPathDirectories) {
    RegKeyRecord root;
    if (!post_.ReadKey(rootOffset, root)) return;
    NameView rootName = post_.Name(root.nameOffset);
    size_t hiveLength = 0;
    while (hiveLength < rootName.length && rootName.text[hiveLength] != L'\\') ++hiveLength;
    hive_.Assign(rootName.text, hiveLength);
    if (!hive_.EqualsNoCase(Str(L"HKEY_CURRENT_USER")) && !hive_.EqualsNoCase(Str(L"HKEY_LOCAL_MACHINE")) &&
        !hive_.EqualsNoCase(Str(L"HKEY_USERS"))) {
        Fatal(L"Unknown registry base subkey %ls", hive_.c_str());
    }

    text_.Clear();
    fullPath_ = hive_;
    if (hiveLength + 1 < rootName.length) {
        fullPath_.Append(L'\\', 1);
        fullPath_.Append(rootName.text + hiveLength + 1, rootName.length - hiveLength - 1);
    }
    VisitKey(rootOffset, root, kIsolationWriteCopy, false, 0);

    AppendLeftovers();
    bool machineHive = hive_.EqualsNoCase(Str(L"HKEY_LOCAL_MACHINE"));
    if (machineHive && !newPathDirectories.empty()) AppendVirtualPath(newPathDirectories);

    if (upgrade_.ieUpgrade6To7) {
        PackageSetting(run_, Str(L"SystemOverrides")) =
            L"REG_SZ~%SystemSystem%\\browseui.dll;%SystemSystem%\\browselc.dll;%SystemSystem%\\shdocvw.dll;"
            L"%SystemSystem%\\shlwapi.dll;%SystemSystem%\\shell32.dll#2300";
        PackageSetting(run_, Str(L"IE7DisableProtectedMode")) = L"REG_DWORD=#01#00#00#00";
    }
    if (upgrade_.ieUpgradeTo7To9) {
        PackageSetting(run_, Str(L"IEIgnoreUserMessage705")) = L"REG_DWORD=#01#00#00#00";
    }
    if (machineHive && !run_.packageSettings.empty()) AppendPackageSettings();

    Str fileName;
    fileName.Format(L"%ls\\%ls.txt", outputDir.c_str(), hive_.c_str());
    FileHandle file(CreateFileW(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fatal(L"Unable to create file %ls", fileName.c_str());
    static const uint8_t bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file.get(), bom, 2, &written, nullptr);
    // One WriteFile moves at most 4 GiB; a text that large goes in pieces.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text_.c_str());
    uint64_t remaining = uint64_t(text_.Length()) * 2;
    while (remaining) {
        DWORD chunk = remaining > 0x40000000 ? 0x40000000 : static_cast<DWORD>(remaining);
        if (!WriteFile(file.get(), bytes, chunk, &written, nullptr) || written == 0) break;
        bytes += written;
        remaining -= written;
    }
}

void RegistryPass::VisitKey(uint32_t keyOffset, const RegKeyRecord& key, uint32_t inheritedIsolation,
                            bool inheritedForced, int depth) {
    if (depth >= kMaxTreeDepth) return;
    bool forced = inheritedForced;
    bool forceChildren = inheritedForced;
    uint32_t isolation = inheritedIsolation;

    upper_ = fullPath_;
    upper_.MakeUpper();
    auto entry = run_.includedKeys.find(upper_);
    bool listed = entry != run_.includedKeys.end();
    uint32_t flags = listed ? entry->second : 0;
    if (listed) {
        forced = true;
        forceChildren = (flags & kKeySubkeys) != 0;
    } else if (!forced && exclude_.IsRegistryKeyIgnored(fullPath_.c_str())) {
        return;
    }
    // The scanner already left the list's values out; they are dropped here
    // too because the list of this run may name values that snapshots taken
    // with an earlier list still hold. A forced key keeps them, as it keeps
    // an ignored key.
    const bool someValuesIgnored = !forced && exclude_.HasIgnoredValues(fullPath_.c_str());

    // A replaced COM server brings its registration keys along even when
    // the installer wrote them back unchanged.
    if (!forced && run_.changedComServers >= 1 && IsChangedComKey(run_, post_, fullPath_)) {
        forced = true;
        isolation = kIsolationFull;
    }
    if (!forced && upgrade_.ieUpgrade6To7 && exclude_.IsIE6To7UpgradeRegistryLocation(fullPath_.c_str())) {
        forced = true;
        isolation = kIsolationFull;
    }

    uint32_t preKey = pre_.FindKeyByPath(fullPath_.c_str());
    RegKeyRecord preRecord{};
    bool inPre = preKey != 0 && pre_.ReadKey(preKey, preRecord);
    if (!inPre && !exclude_.IsForcedWriteCopy(fullPath_.c_str())) isolation = kIsolationFull;

    bool newService = isolation == kIsolationFull &&
                      StartsWithNoCase(fullPath_.c_str(), fullPath_.Length(), kServicesPrefix,
                                       kServicesPrefixLength) &&
                      fullPath_.Find(L'\\', kServicesPrefixLength) < 0;

    body_.Clear();
    uint32_t valueCount = post_.ValueCount(key);
    for (uint32_t i = 0; i < valueCount; ++i) {
        RegValueRecord value;
        if (!post_.ReadValue(post_.ValueAt(key, i), value)) continue;
        if (someValuesIgnored) {
            NameView name = post_.Name(value.nameOffset);
            if (exclude_.IsRegistryValueIgnored(fullPath_.c_str(), name.text, name.length)) continue;
        }
        if (inPre && !forced) {
            NameView name = post_.Name(value.nameOffset);
            valueName_.Assign(name.text, name.length);
            RegValueRecord preValue;
            uint32_t preValueOffset = pre_.FindValue(preKey, valueName_.c_str());
            if (preValueOffset && pre_.ReadValue(preValueOffset, preValue) && preValue.type == value.type &&
                preValue.dataLength == value.dataLength) {
                const uint8_t* a = value.dataLength ? post_.DataAt(value.dataOffset, value.dataLength) : nullptr;
                const uint8_t* b = value.dataLength ? pre_.DataAt(preValue.dataOffset, preValue.dataLength) : nullptr;
                if (value.dataLength == 0 || (a && b && std::memcmp(a, b, value.dataLength) == 0)) continue;
            }
        }
        AppendValueEntryWith(body_, post_, value, scratch_);
    }
    if (newService) WarnKernelService(key);

    if (listed) isolation = (flags & kKeyWriteCopy) ? kIsolationWriteCopy : kIsolationFull;

    if (!inPre || !body_.IsEmpty() || forced) {
        if (flags & kKeyDeleted) {
            // Deleted keys always come from the table and keep its spelling.
            AppendDeletedKey(text_, entry->first);
        } else {
            AppendKeyEntry(text_, isolation, fullPath_, body_);
        }
    }

    if (!(flags & kKeyDeleted)) {
        size_t pathLength = fullPath_.Length();
        uint32_t subkeyCount = post_.SubkeyCount(keyOffset, key);
        for (uint32_t i = 0; i < subkeyCount; ++i) {
            uint32_t subOffset = post_.Subkey(keyOffset, key, i);
            RegKeyRecord sub;
            if (!subOffset || !post_.ReadKey(subOffset, sub)) continue;
            NameView name = post_.Name(sub.nameOffset);
            fullPath_.Append(L'\\', 1);
            fullPath_.Append(name.text, name.length);
            VisitKey(subOffset, sub, isolation, forceChildren, depth + 1);
            fullPath_.SetLength(pathLength);
        }
    }

    // The walk has consumed this override; what stays in the table is
    // written as a leftover.
    if (listed) run_.includedKeys.erase(entry);
}

void RegistryPass::WarnKernelService(const RegKeyRecord& key) {
    uint32_t valueCount = post_.ValueCount(key);
    bool kernel = false;
    for (uint32_t i = 0; i < valueCount && !kernel; ++i) {
        RegValueRecord value;
        if (!post_.ReadValue(post_.ValueAt(key, i), value)) continue;
        NameView name = post_.Name(value.nameOffset);
        if (value.type != REG_DWORD || !EqualsNoCase(name.text, name.length, L"Type")) continue;
        const uint8_t* data = value.dataLength ? post_.DataAt(value.dataOffset, value.dataLength) : nullptr;
        // Only user-mode processes (own or shared) are supported.
        if (data && data[0] != 0x10 && data[0] != 0x20) kernel = true;
    }
    if (!kernel) return;

    Str displayName;
    bool found = false;
    for (uint32_t i = 0; i < valueCount && !found; ++i) {
        RegValueRecord value;
        if (!post_.ReadValue(post_.ValueAt(key, i), value)) continue;
        NameView name = post_.Name(value.nameOffset);
        if (value.type != REG_SZ || !EqualsNoCase(name.text, name.length, L"DisplayName")) continue;
        const uint8_t* data = value.dataLength ? post_.DataAt(value.dataOffset, value.dataLength) : nullptr;
        size_t units = data ? value.dataLength / 2 : 0;
        displayName.Reserve(units, true);
        displayName.SetLength(0);
        if (units) {
            std::memcpy(displayName.Data(), data, units * 2);
            displayName.SetLength(units);
        }
        found = true;
    }
    if (!found) displayName.Assign(fullPath_.c_str() + kServicesPrefixLength);
    PrintWarning(L"A new kernelmode component \"%ls\" was installed, this is not supported by Ostrel\n",
                 displayName.c_str());
}

void RegistryPass::AppendLeftovers() {
    for (const auto& [path, flags] : run_.includedKeys) {
        if (!StartsWithNoCase(path.c_str(), path.Length(), hive_.c_str(), hive_.Length())) continue;
        if (flags & kKeyDeleted) {
            AppendDeletedKey(text_, path);
        } else if (flags & kKeyLeftover) {
            text_.Append(IsolationName((flags & kKeyWriteCopy) ? kIsolationWriteCopy : kIsolationFull));
            text_.Append(L' ', 1);
            text_.Append(path);
            text_.Append(L"\r\n\r\n", 4);
        }
    }
}

void RegistryPass::AppendVirtualPath(const std::vector<Str>& newPathDirectories) {
    Str joined;
    for (size_t i = 0; i < newPathDirectories.size(); ++i) {
        if (i) joined.Append(L';', 1);
        joined.Append(newPathDirectories[i]);
    }
    text_.Append(L"isolation_writecopy HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                 L"Environment\r\n  Value=VirtualPath\r\n  REG_SZ");
    Str encoded;
    if (EncodeMachinePath(joined, encoded, &ValueDataEscapes)) {
        text_.Append(L'~', 1);
        text_.Append(encoded);
    } else {
        text_.Append(L'=', 1);
        text_.Append(joined);
        text_.Append(L"#00", 3);
    }
    text_.Append(L"\r\n\r\n", 4);
}

void RegistryPass::AppendPackageSettings() {
    text_.Append(L"isolation_full HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern, Inc.\\Ostrel\\PackageSettings\r\n");
    for (const auto& [name, value] : run_.packageSettings) {
        text_.Append(L"  Value=", 8);
        text_.Append(name);
        text_.Append(L"\r\n  ", 4);
        text_.Append(value);
        text_.Append(L"\r\n", 2);
    }
    text_.Append(L"\r\n", 2);
}

}  // namespace

const wchar_t* IsolationName(uint32_t mode) {
    switch (mode) {
    case 1: return L"isolation_writecopy";
    case 2: return L"isolation_merged";
    case 3: return L"isolation_full";
    default: return L"isolation_unknown";
    }
}

void AppendKeyEntry(Str& text, uint32_t isolationMode, const Str& fullPath, const Str& body) {
    EnsureRoom(text, fullPath.Length() + body.Length() + 32);
    text.Append(IsolationName(isolationMode));
    text.Append(L' ', 1);
    text.Append(fullPath);
    text.Append(L"\r\n", 2);
    text.Append(body);
    text.Append(L"\r\n", 2);
}

void AppendDeletedKey(Str& text, const Str& fullPath) {
    EnsureRoom(text, fullPath.Length() + 16);
    text.Append(L"deleted ", 8);
    text.Append(fullPath);
    text.Append(L"\r\n\r\n", 4);
}

void AppendValueEntry(Str& body, const SnapshotStore& store, const RegValueRecord& value) {
    ValueScratch scratch;
    AppendValueEntryWith(body, store, value, scratch);
}

void WriteRegistryFiles(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre,
                        const std::vector<Str>& newPathDirectories) {
    RegistryPass pass(run, post, pre);
    uint32_t rootCount = post.RegistryRootCount();
    for (uint32_t i = 0; i < rootCount; ++i) {
        pass.WriteRoot(post.RegistryRoot(i), run.outputDir, newPathDirectories);
    }
}

}  // namespace scancap
