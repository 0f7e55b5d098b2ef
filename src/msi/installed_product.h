// Reads the package that Windows Installer keeps for an installed product and
// names the machine files and registry keys of the product's components, so
// that a capture carries them even when the installer left them unchanged.
#pragma once

#include "support/str.h"

#include <map>

namespace scancap {

// A product that a capture installed, as the component registrations name it.
struct InstalledProduct {
    Str productCode;                // packed
    std::map<Str, Str> components;  // packed component code -> the component's key path
};

// Receives what the reader finds: machine file paths and full registry key
// paths (hive name first).
class InstallerOverrides {
public:
    virtual ~InstallerOverrides() = default;
    virtual void File(const Str& path) = 0;
    virtual void Key(const Str& keyPath) = 0;
};

// Names the files and registry keys of every component of the product. A
// component that the package does not hold is named by its key path. A
// failure ends the product with the warning "While scanning Windows
// Installer info: ..."; what was named before it stands.
void ReadInstalledProduct(InstallerOverrides& overrides, const InstalledProduct& product);

// Windows Installer writes a registry key path as "RR:\key", the second
// digit naming the root. IsRegistryKeyPath: has keyPath that form?
// RegistryKeyFromKeyPath: the full key path of one, false when keyPath has
// not the form or names no known root.
bool IsRegistryKeyPath(const Str& keyPath);
bool RegistryKeyFromKeyPath(const Str& keyPath, Str& key);

// The directory name that a Directory row's DefaultDir gives below its
// parent: the target part (before ":"), its long name (after "|").
Str DirectoryNameOf(const Str& defaultDir);
// Target with its first "[name]" replaced by the map's text for the name
// (nothing when the name is absent; an unclosed reference runs to the end).
Str SubstituteFirstReference(const Str& target, const std::map<Str, Str>& directories);

}  // namespace scancap
