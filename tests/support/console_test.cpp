#include "support/console.h"

#include "common/testing.h"
#include "support/fatal.h"
#include "support/handles.h"
#include "support/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

long AllocationCount();  // every allocation of this test program so far

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;

// Points one standard handle at a fresh file for the lifetime of the object,
// then hands back the bytes written to it.
class CapturedStream {
public:
    CapturedStream(DWORD which, const TempDir& dir, const wchar_t* name) : which_(which), path_(dir / name) {
        fflush(stdout);
        fflush(stderr);
        file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(static_cast<bool>(file_));
        saved_ = GetStdHandle(which_);
        SetStdHandle(which_, file_.get());
    }
    ~CapturedStream() { Restore(); }

    std::string Bytes() {
        Restore();
        return testing::ReadFileBytes(path_);
    }

private:
    void Restore() {
        if (file_) {
            SetStdHandle(which_, saved_);
            file_.reset();
        }
    }

    DWORD which_;
    Str path_;
    FileHandle file_;
    HANDLE saved_ = nullptr;
};

// Captures both streams and restores the process-wide printer modes.
class ConsoleTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetTerseOutput(false);
        SetQuiet(false);
    }
    TempDir dir_;
    CapturedStream out_{STD_OUTPUT_HANDLE, dir_, L"out.txt"};
    CapturedStream err_{STD_ERROR_HANDLE, dir_, L"err.txt"};
};

std::string U16(const std::u16string& s) { return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2); }

const wchar_t kCyrillic[] = L"\u041F\u0440\u0438\u0432\u0435\u0442";  // Привет
const char kCyrillicUtf8[] = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
const wchar_t kCjk[] = L"\u6587\u4EF6";  // 文件
const char kCjkUtf8[] = "\xE6\x96\x87\xE4\xBB\xB6";
const wchar_t kClef[] = L"\U0001D11E";  // outside the BMP
const char kClefUtf8[] = "\xF0\x9D\x84\x9E";

TEST_F(ConsoleTest, Utf8LinesWithPrefixesAndTheLastErrorKept) {
    SetLastError(0xdeadbeef);
    PrintPlain(L"Scanning %ls, %d files\n", kCyrillic, 3);
    PrintPlain(L"%ls|%ls\n", kCjk, kClef);
    PrintWarning(L"Could not copy %ls\n", L"C:\\x");
    PrintError(L"%ls\n", L"Bad thing");
    SetQuiet(true);
    PrintWarning(L"hidden\n");
    PrintPlain(L"shown");
    PrintError(L"failed\n");
    SetCurrentScanPath(L"C:\\x");
    CurrentScanPath();
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(out_.Bytes(), std::string("Scanning ") + kCyrillicUtf8 + ", 3 files\n" + kCjkUtf8 + "|" + kClefUtf8 +
                                "\nWarning: Could not copy C:\\x\nshown");
    EXPECT_EQ(err_.Bytes(), "\nError: Bad thing\n\nError: failed\n");
}

TEST_F(ConsoleTest, TerseModeWritesRawUtf16) {
    SetTerseOutput(true);
    PrintPlain(L"> %ls\n", kCyrillic);
    PrintWarning(L"%ls %ls\n", kCjk, kClef);
    PrintError(L"%ls\n", L"stop");
    EXPECT_EQ(out_.Bytes(), U16(u"I > \u041F\u0440\u0438\u0432\u0435\u0442\nW \u6587\u4EF6 \U0001D11E\n"));
    EXPECT_EQ(err_.Bytes(), U16(u"\nE stop\n"));
}

TEST_F(ConsoleTest, LongLinesArriveWhole) {
    // Long enough to span several conversion chunks, with a surrogate pair
    // on every chunk boundary that a naive split would cut.
    std::wstring text;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        text += L"\u4EF6\U0001D11Ea";
        expected += std::string(kCjkUtf8 + 3) + kClefUtf8 + "a";
    }
    WriteOut(text.c_str(), text.size());
    PrintPlain(L"%ls", text.c_str());
    EXPECT_EQ(out_.Bytes(), expected + expected);
}

TEST_F(ConsoleTest, PathLinesDoNotAllocate) {
    // A listing prints one line per entry; paths longer than a pool slot
    // (388 units) must not cost a heap allocation per line either.
    std::wstring path = L"c:\\";
    while (path.size() < 3000) path += L"directory with a long name\\";
    std::string expected, expectedErr;
    long allocations = 0;
    for (size_t length : {10u, 389u, 3000u}) {
        std::wstring shown = path.substr(0, length);
        long before = AllocationCount();
        PrintPlain(L"Dir %ls\n", shown.c_str());
        PrintWarning(L"%ls\n", shown.c_str());
        PrintError(L"%ls\n", shown.c_str());
        allocations += AllocationCount() - before;
        std::string utf8 = Utf8(shown.c_str(), shown.size());
        expected += "Dir " + utf8 + "\nWarning: " + utf8 + "\n";
        expectedErr += "\nError: " + utf8 + "\n";
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(out_.Bytes(), expected);
    EXPECT_EQ(err_.Bytes(), expectedErr);

    SetTerseOutput(true);
    CapturedStream terse(STD_OUTPUT_HANDLE, dir_, L"terse.txt");
    long before = AllocationCount();
    PrintPlain(L"> %ls\n", path.c_str());
    EXPECT_EQ(AllocationCount() - before, 0);
    EXPECT_EQ(terse.Bytes(), U16(u"I > " + std::u16string(path.begin(), path.end()) + u"\n"));
}

TEST(ConsoleScanPath, SetAndReadUnderTheLock) {
    InitConsoleLock();
    SetCurrentScanPath(L"HKEY_LOCAL_MACHINE\\Software\\Classes", 18);
    EXPECT_EQ(Utf8(CurrentScanPath()), "HKEY_LOCAL_MACHINE");

    // A reader never sees a half-written path.
    Str a, b;
    a.Append(L'a', 700);
    b.Append(L'b', 300);
    SetCurrentScanPath(a.c_str(), a.Length());
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            SetCurrentScanPath(a.c_str(), a.Length());
            SetCurrentScanPath(b.c_str(), b.Length());
        }
    });
    int torn = 0;
    for (int i = 0; i < 2000; ++i) {
        Str seen = CurrentScanPath();
        if (!(seen == a) && !(seen == b)) ++torn;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
    {
        // The lock is recursive: a scanner that holds it may still set the path.
        ConsoleLockGuard guard;
        SetCurrentScanPath(L"nested");
    }
    EXPECT_EQ(Utf8(CurrentScanPath()), "nested");
    DeleteConsoleLock();
    // Made again on demand after deletion.
    SetCurrentScanPath(L"again");
    EXPECT_EQ(Utf8(CurrentScanPath()), "again");
}

TEST(ConsoleScanPath, GrownPathIsReused) {
    Str longest;
    longest.Append(L'p', 3000);
    SetCurrentScanPath(longest.c_str(), longest.Length());
    // Replacing the path with texts no longer than the first one never
    // allocates: the scanners call this for every directory and key.
    Str other;
    other.Reserve(3000);
    long allocations = 0;
    for (size_t n = 1; n <= 3000; n += 7) {
        other.Assign(longest.c_str(), n);
        other.Data()[0] = static_cast<wchar_t>(L'a' + n % 26);
        long before = AllocationCount();
        SetCurrentScanPath(other.c_str(), other.Length());
        allocations += AllocationCount() - before;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(CurrentScanPath().Length(), 2997u);
    EXPECT_EQ(CurrentScanPath()[0], L'a' + 2997 % 26);
}

// The message a Fatal form throws.
template <typename F>
std::string Thrown(F fatal) {
    try {
        fatal();
    } catch (Str& e) {
        return Utf8(e);
    }
    return "<returned>";
}

TEST(Fatal, ThreeFormsAndTheSystemMessage) {
    EXPECT_EQ(Thrown([] { Fatal(L"Could not open %ls for writing", L"C:\\snap.bin"); }),
              "Could not open C:\\snap.bin for writing");
    EXPECT_EQ(Thrown([] { FatalResource(IDS_ERROR_READING_TEMPLATE); }), "Error reading from template file");
    Str system = SystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_GT(system.Length(), 0u);
    EXPECT_EQ(Thrown([] {
                  SetLastError(ERROR_FILE_NOT_FOUND);
                  FatalResourceWithSystemError(IDS_CANT_OPEN_TEMPLATE);
              }),
              "Can't open template file: " + Utf8(system));

    Str m = SystemMessage(ERROR_ACCESS_DENIED);
    ASSERT_GT(m.Length(), 0u);
    EXPECT_EQ(m.Find(L'\n'), -1);
    EXPECT_NE(m[m.Length() - 1], L'\r');
    EXPECT_EQ(SystemMessage(0x7fffabcd).Length(), 0u);
}

}  // namespace
}  // namespace scancap
