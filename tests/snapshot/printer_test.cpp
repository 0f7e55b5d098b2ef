#include "snapshot/printer.h"

#include "common/testing.h"
#include "snapshot/store_builder.h"
#include "support/console.h"
#include "support/handles.h"

#include <gtest/gtest.h>

#include <string>

namespace scancap {
namespace {

using testing::ReadFileBytes;
using testing::StoreBuilder;
using testing::TempDir;

// Standard output goes to a file for the duration of one listing; redirected
// output is UTF-8.
class StdoutToFile {
public:
    explicit StdoutToFile(const Str& path)
        : file_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)),
          saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
        SetStdHandle(STD_OUTPUT_HANDLE, file_.get());
    }
    ~StdoutToFile() { SetStdHandle(STD_OUTPUT_HANDLE, saved_); }

private:
    FileHandle file_;
    HANDLE saved_;
};

std::string Listing(const SnapshotStore& store) {
    SetTerseOutput(false);
    TempDir dir;
    Str out = dir / L"listing.txt";
    {
        StdoutToFile redirect(out);
        PrintSnapshot(store);
    }
    return ReadFileBytes(out);
}

TEST(PrintSnapshot, FilesKeysValuesThenDrives) {
    SnapshotStore empty;
    EXPECT_EQ(Listing(empty), "");
    StoreBuilder(empty).Begin(0, 0);
    EXPECT_EQ(Listing(empty), "");

    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(3, 2);

    // Files depth first; a root without children prints nothing.
    b.Dir(b.DirectoryRoot(0), L"c:\\");
    uint32_t top = b.Children(b.DirectoryRoot(0), 5);
    b.File(StoreBuilder::At(top, 0), L"boot.ini", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    b.Dir(StoreBuilder::At(top, 1), L"Program Files");
    uint32_t app = StoreBuilder::At(b.Children(StoreBuilder::At(top, 1), 1), 0);
    b.Dir(app, L"App");
    b.File(StoreBuilder::At(b.Children(app, 1), 0), L"app.exe");
    b.File(StoreBuilder::At(top, 2), L"Junction", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    b.Dir(StoreBuilder::At(top, 3), L"Windows");
    b.File(StoreBuilder::At(top, 4), L"\x00e4rger.txt");
    b.Dir(b.DirectoryRoot(1), L"D:\\Data");
    b.File(StoreBuilder::At(b.Children(b.DirectoryRoot(1), 1), 0), L"readme.txt");
    b.Dir(b.DirectoryRoot(2), L"e:\\");

    // A key's values come before its subkeys. Text stops at the stored length
    // (odd, embedded or missing terminator), not at the name allocated behind it.
    struct ValueRow { const wchar_t* name; uint32_t type; const void* data; uint32_t length; const char* line; };
    const ValueRow rows[] = {
        {L"", REG_SZ, L"default", 16, "  Value \tData default\n"},
        {L"Empty", REG_SZ, "", 0, "  Value Empty\n"},
        {L"Terminator only", REG_SZ, L"", 2, "  Value Terminator only\tData \n"},
        {L"Dword", REG_DWORD, "\x2a\0\0\0", 4, "  Value Dword\tData 0x0000002a\n"},
        {L"Wide dword", REG_DWORD, "\x01\x02\x03\x04\x05\x06\x07\x08", 8,
         "  Value Wide dword\tInvalid data size 8 for REG_DWORD\n"},
        {L"No dword", REG_DWORD, "", 0, "  Value No dword\tInvalid data size 0 for REG_DWORD\n"},
        {L"Bin", REG_BINARY, "\x01\x02\x03", 3, "  Value Bin\t Data Type 3\n"},
        {L"Multi", REG_MULTI_SZ, "", 0, "  Value Multi\n"},
        {L"Expand", REG_EXPAND_SZ, L"%x%", 8, "  Value Expand\t Data Type 2\n"},
        {L"Embedded", REG_SZ, L"ab\0cd", 12, "  Value Embedded\tData ab\n"},
        {L"Odd", REG_SZ, L"abc", 7, "  Value Odd\tData abc\n"},
        {L"Qword", REG_QWORD, "\x01\0\0\0\0\0\0\0", 8, "  Value Qword\t Data Type 11\n"},
        {L"NoTerm", REG_SZ, L"abc", 6, "  Value NoTerm\tData abc\n"},
    };
    uint32_t hklm = b.RegistryRoot(0);
    b.Key(hklm, L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(hklm, uint32_t(std::size(rows)));
    std::string valueLines;
    for (uint32_t i = 0; i < std::size(rows); ++i) {
        b.Value(values, i, rows[i].name, rows[i].type, rows[i].data, rows[i].length);
        valueLines += rows[i].line;
    }
    uint32_t keys = b.Subkeys(hklm, 3);
    uint32_t software = StoreBuilder::SubkeyAt(keys, 0);
    b.Key(software, L"SOFTWARE");
    uint32_t vendor = StoreBuilder::SubkeyAt(b.Subkeys(software, 1), 0);
    b.Key(vendor, L"Vendor");
    b.DwordValue(b.Values(vendor, 1), 0, L"Version", 0xdeadbeef);
    b.Key(StoreBuilder::SubkeyAt(keys, 1), L"SYSTEM");
    // A subtree that failed during the scan is left zeroed: its name reads
    // from the start of the arena (here the directory root count, 3).
    store.Write(StoreBuilder::SubkeyAt(keys, 2), RegKeyRecord{});
    uint32_t user = b.RegistryRoot(1);
    b.Key(user, L"HKEY_USERS\\S-1-5-18");
    b.Key(StoreBuilder::SubkeyAt(b.Subkeys(user, 1), 0), L"Environment");

    b.Drive(L'c', 0x1234, 0x2f, L"NTFS", DRIVE_FIXED);
    b.Drive(L'd', 0xabcdef01, 0, L"", DRIVE_CDROM);

    EXPECT_EQ(Listing(store),
              "File c:\\boot.ini\n"
              "Dir c:\\Program Files\n"
              "Dir c:\\Program Files\\App\n"
              "File c:\\Program Files\\App\\app.exe\n"
              "Dir c:\\Junction\n"
              "Dir c:\\Windows\n"
              "File c:\\\xc3\xa4rger.txt\n"
              "File D:\\Data\\readme.txt\n"
              "Subkey HKEY_LOCAL_MACHINE\n" +
              valueLines +
              "Subkey HKEY_LOCAL_MACHINE\\SOFTWARE\n"
              "Subkey HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\n"
              "  Value Version\tData 0xdeadbeef\n"
              "Subkey HKEY_LOCAL_MACHINE\\SYSTEM\n"
              "Subkey HKEY_LOCAL_MACHINE\\\x03\n"
              "Subkey HKEY_USERS\\S-1-5-18\n"
              "Subkey HKEY_USERS\\S-1-5-18\\Environment\n"
              "Drive c, Serial=00001234 FSFlags=2f Filesystem=NTFS,Type=3\n"
              "Drive d, Serial=abcdef01 FSFlags=0 Filesystem=,Type=5\n");
}

// Damaged stores: records planted beyond Used() never appear, cycles are not
// followed, and a name without terminator stops at the end of the arena.
TEST(PrintSnapshot, DamagedStoreStaysInsideTheArena) {
    SnapshotStore store;
    StoreBuilder b(store);
    b.Begin(1, 1);
    uint32_t root = b.DirectoryRoot(0);
    b.Dir(root, L"c:\\");
    uint32_t top = b.Children(root, 3);
    uint32_t loop = StoreBuilder::At(top, 0);
    b.Dir(loop, L"loop");
    uint32_t distant = StoreBuilder::At(top, 1);
    b.Dir(distant, L"far");
    uint32_t last = StoreBuilder::At(top, 2);
    b.File(last, L"last");
    uint32_t key = b.RegistryRoot(0);
    b.Key(key, L"HKEY_LOCAL_MACHINE");
    uint32_t values = b.Values(key, 2);
    uint32_t sub = StoreBuilder::SubkeyAt(b.Subkeys(key, 1), 0);
    b.Key(sub, L"Sub");
    b.StringValue(values, 0, L"Text", L"text");
    b.DwordValue(values, 1, L"Dword", 1);
    uint32_t tailName = store.AllocateBytes(L"tail", 8);  // no terminator, last in the arena
    const uint32_t end = store.Used();
    uint32_t ghostEntries = store.Allocate(2 * sizeof(FileEntry));
    b.File(ghostEntries, L"ghost");
    b.File(ghostEntries + sizeof(FileEntry), L"ghost");
    uint32_t ghostKey = store.Allocate(sizeof(RegKeyRecord));
    b.Key(ghostKey, L"ghost");
    store.SetUsed(end);

    // "loop" lists the root array as its children; "far" lists records beyond
    // Used(); "last" is named by the unterminated "tail".
    auto patch = [&](uint32_t at, uint32_t count, uint32_t offset, uint32_t name) {
        FileEntry e = b.Entry(at);
        e.childCount = count;
        e.childOffset = offset;
        if (name) e.nameOffset = name;
        store.Write(at, e);
    };
    patch(loop, 1, kDirectoryRootsOffset, 0);
    patch(distant, 2, ghostEntries, 0);
    patch(last, 0, 0, tailName);
    // The root key is its own subkey's subkey; the value data lies beyond Used().
    RegKeyRecord k = b.KeyAt(sub);
    k.subkeyCount = 1;
    k.subkeyOffset = key;
    store.Write(sub, k);
    for (uint32_t i = 0; i < 2; ++i) {
        RegValueRecord v{};
        store.ReadValue(values + 16 * i, v);
        v.dataOffset = end - 2 + 2 * i;
        store.Write(values + 16 * i, v);
    }

    EXPECT_EQ(Listing(store),
              "Dir c:\\loop\n"
              "Dir c:\\far\n"
              "File c:\\tail\n"
              "Subkey HKEY_LOCAL_MACHINE\n"
              "  Value Text\n"
              "  Value Dword\tInvalid data size 0 for REG_DWORD\n"
              "Subkey HKEY_LOCAL_MACHINE\\Sub\n");

    // Header counts far beyond the arena: nothing at all.
    b.Poke(0, 0x40000000u);
    b.Poke(4, 0x40000000u);
    b.Poke(12, 0x40000000u);
    EXPECT_EQ(Listing(store), "");
}

}  // namespace
}  // namespace scancap
