#include "project/installer_components.h"

#include "msi/installed_product.h"
#include "project/overrides.h"
#include "support/guid_forms.h"
#include "support/name_encoding.h"
#include "support/win.h"

#include <msi.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace scancap {
namespace {

constexpr wchar_t kUserData[] =
    L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
// The product under which Windows Installer registers permanent components.
constexpr wchar_t kNoProduct[] = L"00000000000000000000000000000000";

class RunOverrides : public InstallerOverrides {
public:
    explicit RunOverrides(ProjectRun& run) : run_(run) {}
    void File(const Str& path) override { SetFileOverride(run_, path, 0); }
    void Key(const Str& keyPath) override { SetKeyOverride(run_, keyPath, 0); }

private:
    ProjectRun& run_;
};

struct NamedKey {
    uint32_t offset;
    NameView name;
};

// The subkeys of a key sorted by name, case ignored: the two stores'
// component lists are merged in that order.
std::vector<NamedKey> SortedSubkeys(const SnapshotStore& store, uint32_t keyOffset) {
    std::vector<NamedKey> keys;
    RegKeyRecord key;
    if (!keyOffset || !store.ReadKey(keyOffset, key)) return keys;
    uint32_t count = store.SubkeyCount(keyOffset, key);
    keys.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t sub = store.Subkey(keyOffset, key, i);
        RegKeyRecord record;
        if (sub && store.ReadKey(sub, record)) keys.push_back({sub, store.Name(record.nameOffset)});
    }
    std::sort(keys.begin(), keys.end(), [](const NamedKey& a, const NamedKey& b) {
        return CompareNamesUpcase(a.name.text, a.name.length, b.name.text, b.name.length) < 0;
    });
    return keys;
}

bool StartsWith(const Str& text, const wchar_t* prefix) {
    size_t length = std::wcslen(prefix);
    return text.Length() >= length && std::wcsncmp(text.c_str(), prefix, length) == 0;
}

class ComponentAnalysis {
public:
    ComponentAnalysis(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre)
        : run_(run), post_(post), pre_(pre) {}

    void User(uint32_t postComponents, uint32_t preComponents) {
        std::vector<NamedKey> after = SortedSubkeys(post_, postComponents);
        std::vector<NamedKey> before = SortedSubkeys(pre_, preComponents);
        size_t j = 0;
        for (const NamedKey& component : after) {
            int order = 1;
            while (j < before.size() &&
                   (order = CompareNamesUpcase(component.name.text, component.name.length, before[j].name.text,
                                               before[j].name.length)) > 0)
                ++j;
            if (j < before.size() && order == 0) {
                AddedProducts(component, before[j].offset);
            } else {
                NewComponent(component.offset);
            }
        }
    }

    std::vector<InstalledProduct> products;  // in the order first met

private:
    // Values of a component key: one per product, named by the packed product
    // code, holding the component's key path.
    template <typename Visit>
    void ForEachProduct(uint32_t componentOffset, Visit visit) {
        RegKeyRecord component;
        if (!post_.ReadKey(componentOffset, component)) return;
        uint32_t count = post_.ValueCount(component);
        for (uint32_t i = 0; i < count; ++i) {
            RegValueRecord value;
            if (!post_.ReadValue(post_.ValueAt(component, i), value)) continue;
            NameView name = post_.Name(value.nameOffset);
            product_.Assign(name.text, name.length);
            if (!ReadStringData(post_, value, keyPath_)) keyPath_.Clear();
            visit();
        }
    }

    // A component that was registered before: the products that the capture
    // added to it and that Windows Installer reports installed locally.
    void AddedProducts(const NamedKey& component, uint32_t preComponent) {
        Str componentCode(component.name.text, component.name.length);
        Str componentGuid, productGuid;
        PackedCodeToGuid(componentCode, componentGuid);
        ForEachProduct(component.offset, [&] {
            if (pre_.FindValue(preComponent, product_.c_str()) || product_ == Str(kNoProduct)) return;
            PackedCodeToGuid(product_, productGuid);
            if (MsiGetComponentPathW(productGuid.c_str(), componentGuid.c_str(), nullptr, nullptr) !=
                INSTALLSTATE_LOCAL)
                return;
            auto entry = std::find_if(products.begin(), products.end(),
                                      [&](const InstalledProduct& p) { return p.productCode == product_; });
            if (entry == products.end()) entry = products.insert(products.end(), InstalledProduct{product_, {}});
            entry->components.emplace(componentCode, keyPath_);
        });
    }

    // A component the capture registered: its key path, when the machine had
    // it unchanged, is forced.
    void NewComponent(uint32_t componentOffset) {
        ForEachProduct(componentOffset, [&] {
            // Visual C++ runtime components are left to the machine.
            if (keyPath_.Find(L"VC") >= 0) return;
            if (IsRegistryKeyPath(keyPath_)) {
                if (RegistryKeyFromKeyPath(keyPath_, path_) && UnchangedKey(path_) && !Listed(run_.includedKeys))
                    SetKeyOverride(run_, path_, kKeyWriteCopy);
                return;
            }
            path_ = keyPath_;
            if (path_.Length() >= 2 && path_[1] == L'?') path_.Data()[1] = L':';
            EncodeMachinePath(path_, encoded_, nullptr);
            if (StartsWith(encoded_, L"%SystemRoot%") || StartsWith(encoded_, L"%SystemSystem%")) return;
            // A folder's key path ends in a separator, which no walked path has.
            if (path_.Length() > 3 && path_.EndsWith(L'\\')) path_.SetLength(path_.Length() - 1);
            if (UnchangedFile(path_) && !Listed(run_.includedFiles)) SetFileOverride(run_, path_, kFileWriteCopy);
        });
    }

    bool Listed(const std::map<Str, uint32_t>& table) {
        upper_ = path_;
        upper_.MakeUpper();
        return table.count(upper_) != 0;
    }

    // Both stores hold the key with the same values, byte for byte.
    bool UnchangedKey(const Str& keyPath) const {
        uint32_t postKey = post_.FindKeyByPath(keyPath.c_str());
        uint32_t preKey = pre_.FindKeyByPath(keyPath.c_str());
        RegKeyRecord after, before;
        if (!postKey || !preKey || !post_.ReadKey(postKey, after) || !pre_.ReadKey(preKey, before)) return false;
        uint32_t count = post_.ValueCount(after);
        if (count != pre_.ValueCount(before)) return false;
        Str name;
        for (uint32_t i = 0; i < count; ++i) {
            RegValueRecord value, old;
            if (!post_.ReadValue(post_.ValueAt(after, i), value)) return false;
            NameView valueName = post_.Name(value.nameOffset);
            name.Assign(valueName.text, valueName.length);
            uint32_t oldOffset = pre_.FindValue(preKey, name.c_str());
            if (!oldOffset || !pre_.ReadValue(oldOffset, old) || old.type != value.type ||
                old.dataLength != value.dataLength)
                return false;
            const uint8_t* a = post_.DataAt(value.dataOffset, value.dataLength);
            const uint8_t* b = pre_.DataAt(old.dataOffset, old.dataLength);
            if (!a || !b || std::memcmp(a, b, value.dataLength) != 0) return false;
        }
        return true;
    }

    bool UnchangedFile(const Str& path) const {
        FileEntry after, before;
        if (!post_.FindFileEntry(path.c_str(), after) || !pre_.FindFileEntry(path.c_str(), before)) return false;
        auto same = [](const FILETIME& a, const FILETIME& b) {
            return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
        };
        if (!same(after.lastWriteTime, before.lastWriteTime)) return false;
        if (after.attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
        return same(after.creationTime, before.creationTime) && after.sizeHigh == before.sizeHigh &&
               after.sizeLow == before.sizeLow;
    }

    ProjectRun& run_;
    const SnapshotStore& post_;
    const SnapshotStore& pre_;
    Str product_;  // of the value being visited
    Str keyPath_;
    Str path_;
    Str encoded_;
    Str upper_;
};

}  // namespace

void AnalyseInstallerComponents(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre) {
    uint32_t postUsers = post.FindKeyByPath(kUserData);
    uint32_t preUsers = pre.FindKeyByPath(kUserData);
    RegKeyRecord users;
    if (!postUsers || !preUsers || !post.ReadKey(postUsers, users)) return;
    ComponentAnalysis analysis(run, post, pre);
    uint32_t count = post.SubkeyCount(postUsers, users);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t user = post.Subkey(postUsers, users, i);
        RegKeyRecord record;
        if (!user || !post.ReadKey(user, record)) continue;
        NameView name = post.Name(record.nameOffset);
        Str sameUser(name.text, name.length);
        sameUser += L"\\Components";
        uint32_t components = post.FindSubkey(user, L"Components");
        if (components) analysis.User(components, pre.FindSubkey(preUsers, sameUser.c_str()));
    }
    RunOverrides overrides(run);
    for (const InstalledProduct& product : analysis.products) ReadInstalledProduct(overrides, product);
}

}  // namespace scancap
