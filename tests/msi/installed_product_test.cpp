#include "msi/installed_product.h"

#include "common/testing.h"

#include <gtest/gtest.h>

namespace scancap {
namespace {

using testing::Utf8;

TEST(InstalledProductTest, DirectoryNames) {
    const struct {
        const wchar_t* defaultDir;
        const char* name;
    } cases[] = {
        {L"short|My Application:source", "My Application"},
        {L"APP:src|Source Dir", "APP"},
        {L".", "."},
        {L"SourceDir", "SourceDir"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8(DirectoryNameOf(Str(c.defaultDir))), c.name) << c.name;
}

TEST(InstalledProductTest, FirstBracketReference) {
    const std::map<Str, Str> directories{{Str(L"ProgramFilesFolder"), Str(L"C:\\PF")},
                                         {Str(L"ACMEROOT"), Str(L"C:\\Acme\\")}};
    const struct {
        const wchar_t* target;
        const char* result;
    } cases[] = {
        {L"[ProgramFilesFolder]Acme\\", "C:\\PFAcme\\"},
        {L"x[ACMEROOT]Tools[ACMEROOT]", "xC:\\Acme\\Tools[ACMEROOT]"},
        {L"[acmeroot]Tools", "Tools"},
        {L"a[ACMEROOT", "aC:\\Acme\\"},
        {L"plain", "plain"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8(SubstituteFirstReference(Str(c.target), directories)), c.result) << c.result;
    }
}

TEST(InstalledProductTest, RegistryKeyPaths) {
    const struct {
        const wchar_t* keyPath;
        bool registryForm;
        const char* key;  // null: no key
    } cases[] = {
        {L"02:\\SOFTWARE\\Acme\\", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme"},
        {L"21:\\Software\\Acme\\Version", true, "HKEY_CURRENT_USER\\Software\\Acme\\Version"},
        {L"04:\\SOFTWARE\\Acme", true, nullptr},
        {L"02:\\", false, nullptr},
        {L"C:\\Acme\\a.txt", false, nullptr},
        {L"C?\\Acme\\a.txt", false, nullptr},
    };
    for (const auto& c : cases) {
        Str key;
        EXPECT_EQ(IsRegistryKeyPath(Str(c.keyPath)), c.registryForm) << Utf8(c.keyPath);
        EXPECT_EQ(RegistryKeyFromKeyPath(Str(c.keyPath), key), c.key != nullptr) << Utf8(c.keyPath);
        EXPECT_EQ(Utf8(key), c.key ? c.key : "");
    }
}

}  // namespace
}  // namespace scancap
