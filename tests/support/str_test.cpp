#include "support/str.h"

#include "common/testing.h"
#include "support/fatal.h"
#include "support/messages.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

// Counts every allocation of the test program, so tests can tell whether an
// operation reached the heap. (g++ cannot see that the replaced operators
// pair malloc with free and warns at every inlined delete.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> g_allocations{0};
}
long AllocationCount() { return g_allocations.load(); }

void* operator new(size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace scancap {
namespace {

using testing::TempDir;
using testing::Utf8;

std::wstring W(const Str& s) { return std::wstring(s.c_str(), s.Length()); }

// Zero-termination contract: two zero units follow the text.
void ExpectTerminated(const Str& s, int line) {
    ASSERT_NE(s.c_str(), nullptr) << "line " << line;
    EXPECT_EQ(s.c_str()[s.Length()], L'\0') << "line " << line;
    EXPECT_EQ(s.c_str()[s.Length() + 1], L'\0') << "line " << line;
    EXPECT_LE(s.Length(), s.Capacity() - 2) << "line " << line;
}

Str Repeat(wchar_t c, size_t n) {
    Str s;
    s.Append(c, n);
    return s;
}

TEST(StrConstruct, NullEmptyAndNarrow) {
    Str empty;
    EXPECT_EQ(empty.Capacity(), 64u);
    EXPECT_EQ(empty.StorageKind(), Str::Storage::Inline);
    ExpectTerminated(empty, __LINE__);

    Str null(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(null.IsNull());
    // A null pointer with an explicit length is an empty, non-null text.
    EXPECT_FALSE(Str(static_cast<const wchar_t*>(nullptr), 0).IsNull());
    null.Append(L"x");  // a null text comes back to life on the next change
    EXPECT_EQ(W(null), L"x");
    ExpectTerminated(null, __LINE__);

    const char utf8[] = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
    Str cyr(utf8, sizeof(utf8) - 1, CP_UTF8);
    EXPECT_EQ(W(cyr), L"\u041F\u0440\u0438\u0432\u0435\u0442");
    // The narrow copy round-trips through the same code page, is cached, and
    // every change drops it.
    EXPECT_STREQ(cyr.Narrow(), utf8);
    EXPECT_EQ(cyr.NarrowLength(), sizeof(utf8) - 1);
    EXPECT_EQ(cyr.Narrow(), cyr.Narrow());
    cyr.Append(L"!");
    EXPECT_STREQ(cyr.Narrow(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82!");

    Str s;
    s.SetCodePage(CP_UTF8);
    s.AssignNarrow(utf8, 2);
    EXPECT_EQ(W(s), L"\u041F");
}

TEST(StrGrowth, CapacitySteps) {
    // 62 units plus the terminator fit inline; then steps of 390 below 2048
    // (even past 2048 units of capacity), powers of two up to 524288, then
    // steps of 524288.
    const struct {
        size_t length, capacity;
    } steps[] = {{62, 64},       {63, 390},       {388, 390},         {389, 780},
                 {2000, 2340},   {2045, 2340},    {2046, 2048},       {2047, 4096},
                 {524285, 524288}, {524286, 524288}, {524287, 1048576}, {1048575, 1572864}};
    for (const auto& step : steps) {
        Str s = Repeat(L'a', step.length);
        EXPECT_EQ(s.Capacity(), step.capacity) << step.length;
        ExpectTerminated(s, __LINE__);
    }
    EXPECT_EQ(Repeat(L'a', 1048575).StorageKind(), Str::Storage::Heap);

    Str s = Repeat(L'x', 60);
    s.Append(L"0123456789");
    EXPECT_EQ(s.Capacity(), 390u);
    EXPECT_EQ(W(s), std::wstring(60, L'x') + L"0123456789");

    // A shorter assignment keeps the buffer it has.
    const wchar_t* before = s.c_str();
    s.Assign(L"short");
    EXPECT_EQ(s.c_str(), before);
    EXPECT_EQ(W(s), L"short");

    s.Reserve(1000);
    EXPECT_EQ(s.Capacity(), 1170u);
    EXPECT_EQ(W(s), L"short");
    s.Reserve(3000, true);
    EXPECT_EQ(s.Capacity(), 4096u);
    EXPECT_EQ(s.Length(), 0u);
    for (int i = 0; i < 10; ++i) s.Data()[i] = L'0' + i;
    s.SetLength(10);
    EXPECT_EQ(W(s), L"0123456789");
    s.SetLength(100000);
    EXPECT_EQ(s.Length(), 4094u);
    ExpectTerminated(s, __LINE__);
}

TEST(StrGrowth, AppendFromOwnText) {
    Str s = Repeat(L'a', 40);
    s.Append(L"bc");
    s.Append(s.c_str(), s.Length());  // grows out of the inline buffer
    EXPECT_EQ(W(s), std::wstring(40, L'a') + L"bc" + std::wstring(40, L'a') + L"bc");
    s.Append(s.c_str() + 1, 3);  // in place
    EXPECT_EQ(W(s.Right(3)), L"aaa");

    Str t(L"abcdef");
    t.Assign(t.c_str() + 2);  // overlapping in place
    EXPECT_EQ(W(t), L"cdef");
}

// Grows a Str that lies more than 1 MiB above the current stack pointer.
__attribute__((noinline)) void AppendFarBelow(Str* s) {
    volatile char pad[1200000];
    pad[0] = 1;
    s->Append(L'f', 100);
    pad[sizeof(pad) - 1] = pad[0];
}

TEST(StrPool, TwentyOneSlotsForNearbyStackObjectsOnly) {
    ASSERT_EQ(Str::FreePoolSlots(), 21);
    {
        Str many[25];
        for (Str& s : many) s.Append(L'z', 200);
        int pool = 0;
        for (Str& s : many) pool += s.StorageKind() == Str::Storage::Pool;
        EXPECT_EQ(pool, 21);
        EXPECT_EQ(Str::FreePoolSlots(), 0);
        // Slots do not overlap.
        for (size_t i = 0; i < 25; ++i) many[i].Data()[0] = L'A' + static_cast<wchar_t>(i);
        for (size_t i = 0; i < 25; ++i) EXPECT_EQ(many[i][0], L'A' + static_cast<wchar_t>(i));
    }
    EXPECT_EQ(Str::FreePoolSlots(), 21);

    auto onHeap = std::make_unique<Str>();
    onHeap->Append(L'p', 100);
    EXPECT_EQ(onHeap->StorageKind(), Str::Storage::Heap);
    Str distant;
    AppendFarBelow(&distant);
    EXPECT_EQ(distant.Capacity(), 390u);
    EXPECT_EQ(distant.StorageKind(), Str::Storage::Heap);
    EXPECT_EQ(Repeat(L'p', 400).StorageKind(), Str::Storage::Heap);

    {
        // Moving a pool text into a heap object copies it out of the pool.
        Str local = Repeat(L'p', 100);
        EXPECT_EQ(local.StorageKind(), Str::Storage::Pool);
        std::vector<Str> list;
        list.push_back(static_cast<Str&&>(local));
        EXPECT_EQ(list[0].StorageKind(), Str::Storage::Heap);
    }
    EXPECT_EQ(Str::FreePoolSlots(), 21);

    // Another thread's own stack qualifies as well.
    Str::Storage seen = Str::Storage::Inline;
    std::thread([&] {
        Str mine;
        mine.Append(L't', 100);
        seen = mine.StorageKind();
    }).join();
    EXPECT_EQ(seen, Str::Storage::Pool);
    EXPECT_EQ(Str::FreePoolSlots(), 21);
}

TEST(StrPool, ShortAndPathSizedTextsStayOffTheHeap) {
    long before = g_allocations.load();
    {
        Str s(L"01234567890123456789012345678901234567890123456789012345678901");
        s.Format(L"%ls", L"formatted");
        s.AppendFormat(L" %d", 5);
        Str path(L"C:\\Program Files\\");
        path.Append(L'x', 300);
        path.Format(L"%ls\\%ls", path.c_str(), L"sub");
        path.AppendFormat(L"\\%ls", L"file.txt");
        Str copy(path);
        EXPECT_EQ(Str::Compare(copy, path, true), 0);
    }
    EXPECT_EQ(g_allocations.load(), before);
}

void ThrowFromDepth(int depth) {
    Str mine = Repeat(L'd', 150);
    Str other;
    other.Format(L"%ls-%d", mine.c_str(), depth);
    if (depth == 0) Fatal(L"deep failure %ls", other.Right(5).c_str());
    if (depth > 0) ThrowFromDepth(depth - 1);
}

TEST(StrPool, FatalThroughNestedFramesLeaksNoSlot) {
    int start = Str::FreePoolSlots();
    try {
        ThrowFromDepth(12);
        FAIL() << "Fatal returned";
    } catch (Str& e) {
        EXPECT_EQ(W(e), L"deep failure ddd-0");
        EXPECT_NE(e.StorageKind(), Str::Storage::Pool);
    }
    EXPECT_EQ(Str::FreePoolSlots(), start);
}

TEST(StrFormat, ReplacesAppendsAndReadsItsOwnText) {
    Str s(L"old text");
    s.Format(L"%d-%ls-%hs-%04X", 42, L"wide", "narrow", 0xab);
    EXPECT_EQ(W(s), L"42-wide-narrow-00AB");
    s.AppendFormat(L"[%ls]", L"x");
    EXPECT_EQ(W(s), L"42-wide-narrow-00AB[x]");

    std::wstring longArg(3000, L'L');
    s.Format(L"<%ls>", longArg.c_str());
    EXPECT_EQ(s.Length(), 3002u);
    EXPECT_EQ(s.Capacity(), 4096u);
    s.Format(L"%d", 7);  // the whole text is replaced: back to the inline buffer
    EXPECT_EQ(W(s), L"7");
    EXPECT_EQ(s.Capacity(), 64u);

    Str self(L"abc");
    self.Format(L"%ls+%ls", self.c_str(), self.c_str());
    self.AppendFormat(L"|%ls", self.c_str());
    EXPECT_EQ(W(self), L"abc+abc|abc+abc");

    Str pooled = Repeat(L'q', 100);
    pooled.Format(L"<%ls>", pooled.c_str());
    EXPECT_EQ(W(pooled), L"<" + std::wstring(100, L'q') + L">");
    pooled.AppendFormat(L"%ls%ls%ls%ls%ls%ls", pooled.c_str(), pooled.c_str(), pooled.c_str(),
                        pooled.c_str(), pooled.c_str(), pooled.c_str());
    EXPECT_EQ(pooled.Length(), 102u * 7);
    ExpectTerminated(pooled, __LINE__);

    Str big = Repeat(L'r', 600);
    big.AppendFormat(L"%ls", big.c_str());
    EXPECT_EQ(W(big), std::wstring(1200, L'r'));

    // A result longer than INT_MAX units cannot be counted (the printf
    // family reports -1): the text stays as it was.
    const wchar_t* tooLong = L"%2147483647d%2147483647d";
    Str t(L"unchanged");
    t.Format(tooLong, 1, 2);
    t.AppendFormat(tooLong, 1, 2);
    EXPECT_EQ(W(t), L"unchanged");
    Str p = Repeat(L'p', 100);
    p.Format(tooLong, 1, 2);
    EXPECT_EQ(W(p), std::wstring(100, L'p'));
    ExpectTerminated(p, __LINE__);
}

TEST(StrCompare, ShorterFirstThenContent) {
    const struct {
        const wchar_t *a, *b;
        bool ignoreCase;
        int sign;
    } rows[] = {
        {L"B", L"aa", true, -1}, {L"aa", L"B", true, 1}, {L"B", L"aa", false, -1}, {L"ab", L"a0b", false, -1},
        {L"ab", L"a0b", true, -1}, {L"HeLLo", L"hello", true, 0}, {L"HELLO", L"hello", false, -1},
        {L"abc", L"abd", true, -1}, {L"ABD", L"abc", true, 1}, {nullptr, nullptr, true, 0},
        {nullptr, L"", false, -1}, {L"", nullptr, true, 1},
        // Beyond ASCII: Cyrillic and Greek letters compare without case.
        {L"\u043F\u0440\u0438\u0432\u0435\u0442", L"\u041F\u0420\u0418\u0412\u0415\u0422", true, 0},
        {L"\u03C3", L"\u03A3", true, 0},
    };
    for (const auto& r : rows) {
        int c = Str::Compare(Str(r.a), Str(r.b), r.ignoreCase);
        EXPECT_EQ((c > 0) - (c < 0), r.sign) << Utf8(Str(r.a)) << " / " << Utf8(Str(r.b)) << " " << r.ignoreCase;
    }

    // The map order is the same rule.
    std::map<Str, int> m{{Str(L"zz"), 1}, {Str(L"aaa"), 2}, {Str(L"b"), 3}};
    std::vector<std::wstring> order;
    for (auto& [k, v] : m) order.push_back(W(k));
    EXPECT_EQ(order, (std::vector<std::wstring>{L"b", L"zz", L"aaa"}));

    // Long texts are compared in pieces; a difference in any piece counts.
    Str a = Repeat(L'a', 70000), b = Repeat(L'A', 70000);
    EXPECT_EQ(Str::Compare(a, b, true), 0);
    b.Data()[69999] = L'B';
    EXPECT_LT(Str::Compare(a, b, true), 0);
    a.Data()[40000] = L'c';
    EXPECT_GT(Str::Compare(a, b, true), 0);
}

TEST(StrEdit, FindSlicesTrimUpper) {
    Str s(L"C:\\dir\\sub\\file.txt");
    EXPECT_EQ(s.Find(L'\\', 3), 6);
    EXPECT_EQ(s.Find(L"SUB"), -1);
    EXPECT_EQ(s.Find(L"txt", 17), -1);
    EXPECT_EQ(s.Find(L"txt", 16), 16);
    EXPECT_EQ(s.Find(L'x', 100), -1);
    EXPECT_EQ(s.Find(L"x", 100), -1);
    EXPECT_EQ(s.FindLast(L'\\'), 10);
    EXPECT_EQ(W(s.Left(500)), W(s));
    EXPECT_EQ(W(s.Right(500)), W(s));
    EXPECT_EQ(W(s.Mid(3, 3)), L"dir");
    EXPECT_EQ(W(s.Mid(18, 10)), L"t");
    EXPECT_EQ(W(s.Mid(50, 10)), L"");
    ExpectTerminated(s.Left(2), __LINE__);

    Str q(L"\"\"quoted\"\"\"");
    q.Trim(L'"');
    EXPECT_EQ(W(q), L"quoted");
    Str all(L"////");
    all.Trim(L'/');
    EXPECT_EQ(W(all), L"");

    Str u(L"abc\u00e9\u0431\u03c3xyz1");
    u.MakeUpper();
    EXPECT_EQ(W(u), L"ABC\u00c9\u0411\u03a3XYZ1");
    Str longUpper = Repeat(L'q', 70000);
    longUpper.MakeUpper();
    EXPECT_EQ(W(longUpper), std::wstring(70000, L'Q'));
}

TEST(StrAppend, GuidAndSid) {
    const GUID g = {0x0123abcd, 0x4567, 0x89ef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
    Str s(L"clsid=");
    s.AppendGuid(g);
    EXPECT_EQ(W(s), L"clsid={0123ABCD-4567-89EF-0123-456789ABCDEF}");
    Str bare;
    bare.AppendGuid(g, false);
    EXPECT_EQ(W(bare), L"0123ABCD-4567-89EF-0123-456789ABCDEF");

    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1-2-3-1001", &sid));
    Str t(L"user ");
    t.AppendSid(sid);
    LocalFree(sid);
    EXPECT_EQ(W(t), L"user S-1-5-21-1-2-3-1001");
}

TEST(StrResource, LoadsFromTheStringTable) {
    Str s(L"previous");
    EXPECT_TRUE(s.LoadResourceString(nullptr, IDS_CANT_OPEN_TEMPLATE));
    EXPECT_EQ(W(s), L"Can't open template file");
    EXPECT_TRUE(s.LoadResourceString(GetModuleHandleW(nullptr), IDS_ERROR_READING_TEMPLATE));
    EXPECT_EQ(W(s), L"Error reading from template file");

    // Same block as the ids above, but an entry of length 0.
    EXPECT_FALSE(s.LoadResourceString(nullptr, IDS_CANT_OPEN_TEMPLATE - 1));
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_FALSE(s.IsNull());
    s.Assign(L"previous");
    // No block at all.
    EXPECT_FALSE(s.LoadResourceString(nullptr, 4000));
    EXPECT_EQ(s.Length(), 0u);
    ExpectTerminated(s, __LINE__);
}

TEST(StrProfile, ReadsValuesAndKeyListsOfAnyLength) {
    TempDir dir;
    Str ini = dir / L"test.ini";
    std::string longValue(5000, 'v');
    longValue += "end";
    testing::WriteFileBytes(ini, "[Section]\r\nLong=" + longValue + "\r\n");
    Str l;
    EXPECT_TRUE(l.ReadProfileString(L"Section", L"Long", L"", ini.c_str()));
    EXPECT_EQ(Utf8(l), longValue);
    ExpectTerminated(l, __LINE__);

    // Around the first buffer size (62 units): a value that fills it up to
    // the last unit looks the same as a truncated one and is read again.
    for (size_t n : {60, 61, 62, 63, 388, 389}) {
        std::string edge(n, 'e');
        edge.back() = 'z';
        testing::WriteFileBytes(ini, "[S]\r\nK=" + edge + "\r\n");
        Str e;
        EXPECT_TRUE(e.ReadProfileString(L"S", L"K", L"", ini.c_str()));
        EXPECT_EQ(Utf8(e), edge) << n;
    }

    Str d;
    EXPECT_FALSE(d.ReadProfileString(L"S", L"Missing", L"", ini.c_str()));
    EXPECT_EQ(d.Length(), 0u);
    EXPECT_TRUE(d.ReadProfileString(L"S", L"Missing", L"fallback", ini.c_str()));
    EXPECT_EQ(W(d), L"fallback");

    std::string body = "[Keys]\r\n";
    for (int i = 0; i < 40; ++i) body += "Key" + std::to_string(100 + i) + "=x\r\n";
    testing::WriteFileBytes(ini, body);
    Str keys;
    EXPECT_TRUE(keys.ReadProfileString(L"Keys", nullptr, L"", ini.c_str()));
    // 40 names of 6 units, each with its zero.
    EXPECT_EQ(keys.Length(), 40u * 7);
    EXPECT_EQ(std::wstring(keys.c_str() + 39 * 7), L"Key139");
}

TEST(StrLastError, EveryOperationKeepsIt) {
    TempDir dir;
    Str ini = dir / L"none.ini";
    SetLastError(0xdeadbeef);
    {
        Str s;
        s.Append(L'x', 1000);
        Str t = Repeat(L'y', 100);
        t.Format(L"%ls", s.c_str());
        t.AppendFormat(L"%d", 5);
        t.MakeUpper();
        EXPECT_EQ(Str::Compare(s, t, true), -1);
        t.LoadResourceString(nullptr, 4000);
        t.LoadResourceString(nullptr, IDS_CANT_OPEN_TEMPLATE);
        t.ReadProfileString(L"a", L"b", L"", ini.c_str());
        t.AppendGuid(GUID{});
        t.AppendSid(nullptr);
        Str n("narrow", 6);
        n.Narrow();
        Str moved(static_cast<Str&&>(t));
    }
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

}  // namespace
}  // namespace scancap
