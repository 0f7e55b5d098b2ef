#include "msi/installed_product.h"

#include "msi/msi_database.h"
#include "support/console.h"
#include "support/guid_forms.h"
#include "support/name_encoding.h"

namespace scancap {
namespace {

// The installer's folder properties and the folder macros they stand for;
// the second macro, where there is one, for a per-user install.
struct FolderProperty {
    const wchar_t* property;
    const wchar_t* allUsers;
    const wchar_t* perUser;
};
constexpr FolderProperty kFolderProperties[] = {
    {L"AdminToolsFolder", L"%AdminTools%", nullptr},
    {L"AppDataFolder", L"%AppData%", nullptr},
    {L"CommonAppDataFolder", L"%Common AppData%", nullptr},
    {L"CommonFilesFolder", L"%Program Files Common%", nullptr},
    {L"DesktopFolder", L"%Common Desktop%", L"%Desktop%"},
    {L"FavoritesFolder", L"%Favorites%", nullptr},
    {L"FontsFolder", L"%Fonts%", nullptr},
    {L"LocalAppDataFolder", L"%Local AppData%", nullptr},
    {L"MyPicturesFolder", L"%My Pictures%", nullptr},
    {L"PersonalFolder", L"%Personal%", nullptr},
    {L"ProgramFilesFolder", L"%ProgramFilesDir%", nullptr},
    {L"ProgramFiles64Folder", L"%ProgramFilesDir(x64)%", nullptr},
    {L"ProgramMenuFolder", L"%Common Programs%", L"%Programs%"},
    {L"SendToFolder", L"%SendTo%", nullptr},
    {L"StartMenuFolder", L"%Common StartMenu%", L"%StartMenu%"},
    {L"StartupFolder", L"%Common Startup%", L"%Startup%"},
    {L"SystemFolder", L"%SystemSystem%", nullptr},
    {L"TempFolder", L"%Temp%", nullptr},
    {L"TemplateFolder", L"%Templates%", nullptr},
    {L"WindowsFolder", L"%SystemRoot%", nullptr},
};

constexpr const wchar_t* kRegistryRoots[] = {L"HKEY_CLASSES_ROOT", L"HKEY_CURRENT_USER", L"HKEY_LOCAL_MACHINE",
                                             L"HKEY_USERS"};

constexpr wchar_t kAllUsersQuery[] = L"SELECT `Value` FROM `Property` WHERE `Property` = 'ALLUSERS'";
constexpr wchar_t kPropertyQuery[] = L"SELECT `Property`, `Value` FROM `Property`";
constexpr wchar_t kSetDirectoryQuery[] = L"SELECT `Source`, `Target` FROM `CustomAction` WHERE `Type` = 51";
constexpr wchar_t kComponentQuery[] = L"SELECT `Component`, `Directory_` FROM `Component` WHERE `ComponentId` = ?";
constexpr wchar_t kDirectoryQuery[] =
    L"SELECT `Directory_Parent`, `DefaultDir` FROM `Directory` WHERE `Directory` = ?";
constexpr wchar_t kFileQuery[] = L"SELECT `FileName` FROM `File` WHERE `Component_` = ?";
constexpr wchar_t kRegistryQuery[] = L"SELECT `Root`, `Key` FROM `Registry` WHERE `Component_` = ?";

// A Directory table whose parents run in a circle would never end; no real
// install folder is nearly this deep.
constexpr int kMaxDirectoryDepth = 256;

// One query with one text parameter, executed.
void RunQuery(const MSIDatabase& database, const wchar_t* sql, const Str& parameter, MSIView& view) {
    database.OpenView(sql, view);
    MSIRecord record;
    record.Create(1);
    record.SetString(1, parameter.c_str());
    view.Execute(&record);
}

class ProductReader {
public:
    explicit ProductReader(InstallerOverrides& overrides) : overrides_(overrides) {}

    void Read(const InstalledProduct& product) {
        Str code;
        PackedCodeToGuid(product.productCode, code);
        database_.OpenInstalledProduct(code.c_str());
        SeedDirectories();
        for (const auto& [packedComponent, keyPath] : product.components) {
            PackedCodeToGuid(packedComponent, code);
            if (ReadComponent(code)) continue;
            // A component the package does not describe is known only by
            // its key path.
            Str name;
            if (RegistryKeyFromKeyPath(keyPath, name)) {
                overrides_.Key(name);
            } else {
                DecodeProjectPath(keyPath, name);
                overrides_.File(name);
            }
        }
        database_.Close();
    }

private:
    void SeedDirectories() {
        bool perMachine = false;
        MSIView view;
        MSIRecord row;
        Str name, value;
        database_.OpenView(kAllUsersQuery, view);
        view.Execute();
        if (view.Fetch(row)) {
            row.GetString(1, value);
            perMachine = value != Str(L"0");
        }
        for (const FolderProperty& folder : kFolderProperties) {
            const wchar_t* macro = !perMachine && folder.perUser ? folder.perUser : folder.allUsers;
            if (DecodeProjectPath(Str(macro), value)) directories_.emplace(Str(folder.property), value);
        }
        database_.OpenView(kPropertyQuery, view);
        view.Execute();
        while (view.Fetch(row)) {
            row.GetString(1, name);
            row.GetString(2, directories_[name]);
        }
        if (!database_.TableExists(L"CustomAction")) return;
        // Directories that a custom action sets from other properties.
        database_.OpenView(kSetDirectoryQuery, view);
        view.Execute();
        while (view.Fetch(row)) {
            row.GetString(1, name);
            row.GetString(2, value);
            directories_[name] = SubstituteFirstReference(value, directories_);
        }
    }

    // Results are not remembered: every directory walks the table again.
    Str ResolveDirectory(const Str& directory, int depth) {
        auto known = directories_.find(directory);
        if (known != directories_.end()) return known->second;
        Str path;
        if (depth >= kMaxDirectoryDepth) return path;
        MSIView view;
        MSIRecord row;
        RunQuery(database_, kDirectoryQuery, directory, view);
        if (!view.Fetch(row)) return path;
        Str parent, defaultDir;
        row.GetString(1, parent);
        row.GetString(2, defaultDir);
        if (!parent.IsEmpty()) path = ResolveDirectory(parent, depth + 1);
        Str name = DirectoryNameOf(defaultDir);
        if (name != Str(L".")) {
            path += L'\\';
            path += name;
        }
        return path;
    }

    // False when the package has no component of that code.
    bool ReadComponent(const Str& componentCode) {
        MSIView view;
        MSIRecord row;
        RunQuery(database_, kComponentQuery, componentCode, view);
        if (!view.Fetch(row)) return false;
        Str component, directory;
        row.GetString(1, component);
        row.GetString(2, directory);
        Str folder = ResolveDirectory(directory, 0);

        Str text, path;
        if (database_.TableExists(L"File")) {
            RunQuery(database_, kFileQuery, component, view);
            while (view.Fetch(row)) {
                row.GetString(1, text);
                ptrdiff_t bar = text.Find(L'|');
                path = folder;
                path += L'\\';
                path.Append(text.c_str() + (bar + 1), text.Length() - size_t(bar + 1));
                overrides_.File(path);
            }
        }
        if (database_.TableExists(L"Registry")) {
            RunQuery(database_, kRegistryQuery, component, view);
            while (view.Fetch(row)) {
                int root = row.GetInteger(1);
                row.GetString(2, text);
                path.Clear();
                if (root >= 0 && root < 4) {
                    path = kRegistryRoots[root];
                    path += L'\\';
                }
                path += text;
                overrides_.Key(path);
            }
        }
        return true;
    }

    InstallerOverrides& overrides_;
    MSIDatabase database_;
    std::map<Str, Str> directories_;  // directory or property name -> machine path
};

}  // namespace

void ReadInstalledProduct(InstallerOverrides& overrides, const InstalledProduct& product) {
    try {
        ProductReader(overrides).Read(product);
    } catch (const Str& message) {
        PrintWarning(L"While scanning Windows Installer info: %ls", message.c_str());
    }
}

bool IsRegistryKeyPath(const Str& keyPath) {
    return keyPath.Length() > 4 && keyPath[2] == L':' && keyPath[1] != L':';
}

bool RegistryKeyFromKeyPath(const Str& keyPath, Str& key) {
    if (!IsRegistryKeyPath(keyPath) || keyPath[1] < L'0' || keyPath[1] > L'3') return false;
    size_t length = keyPath.Length();
    if (keyPath.EndsWith(L'\\')) --length;
    key = kRegistryRoots[keyPath[1] - L'0'];
    key += L'\\';
    key.Append(keyPath.c_str() + 4, length - 4);
    return true;
}

Str DirectoryNameOf(const Str& defaultDir) {
    ptrdiff_t colon = defaultDir.Find(L':');
    Str target = colon < 0 ? defaultDir : defaultDir.Left(size_t(colon));
    ptrdiff_t bar = target.Find(L'|');
    return bar < 0 ? target : target.Mid(size_t(bar) + 1);
}

Str SubstituteFirstReference(const Str& target, const std::map<Str, Str>& directories) {
    ptrdiff_t open = target.Find(L'[');
    if (open < 0) return target;
    ptrdiff_t close = target.Find(L']', size_t(open) + 1);
    size_t nameStart = size_t(open) + 1;
    size_t nameEnd = close < 0 ? target.Length() : size_t(close);
    Str result = target.Left(size_t(open));
    auto known = directories.find(target.Mid(nameStart, nameEnd - nameStart));
    if (known != directories.end()) result += known->second;
    if (close >= 0) result.Append(target.c_str() + close + 1, target.Length() - size_t(close) - 1);
    return result;
}

}  // namespace scancap
