#include "support/str.h"

#include "common/testing.h"
#include "support/fatal.h"
#include "support/messages.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <memory>
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

constexpr DWORD kMarker = 0xdeadbeef;

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

TEST(StrConstruct, EmptyIsInlineWithCapacity64) {
    Str s;
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_EQ(s.Capacity(), 64u);
    EXPECT_EQ(s.StorageKind(), Str::Storage::Inline);
    EXPECT_EQ(s.CodePage(), 0u);
    EXPECT_FALSE(s.IsNull());
    ExpectTerminated(s, __LINE__);
}

TEST(StrConstruct, FromPointerLengthAndNull) {
    Str a(L"hello world", 5);
    EXPECT_EQ(W(a), L"hello");
    ExpectTerminated(a, __LINE__);

    Str b(L"abc");
    EXPECT_EQ(W(b), L"abc");

    Str null(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(null.IsNull());
    EXPECT_EQ(null.Length(), 0u);

    // A null pointer with an explicit length is an empty, non-null text.
    Str empty(static_cast<const wchar_t*>(nullptr), 0);
    EXPECT_FALSE(empty.IsNull());

    // A null text comes back to life on the next change.
    null.Append(L"x");
    EXPECT_EQ(W(null), L"x");
    ExpectTerminated(null, __LINE__);
}

TEST(StrConstruct, FromNarrowWithCodePage) {
    Str ascii("plain text", static_cast<size_t>(-1));
    EXPECT_EQ(W(ascii), L"plain text");

    const char utf8[] = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
    Str cyr(utf8, sizeof(utf8) - 1, CP_UTF8);
    EXPECT_EQ(W(cyr), L"\u041F\u0440\u0438\u0432\u0435\u0442");
    EXPECT_EQ(cyr.CodePage(), static_cast<UINT>(CP_UTF8));

    // A narrow copy round-trips through the same code page and is cached.
    EXPECT_STREQ(cyr.Narrow(), utf8);
    EXPECT_EQ(cyr.NarrowLength(), sizeof(utf8) - 1);
    EXPECT_EQ(cyr.Narrow(), cyr.Narrow());
    // Every change drops the cached copy.
    cyr.Append(L"!");
    EXPECT_STREQ(cyr.Narrow(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82!");

    // A long narrow text lands in a grown buffer in one piece.
    std::string longText(1000, 'q');
    Str big(longText.data(), longText.size());
    EXPECT_EQ(big.Length(), 1000u);
    EXPECT_EQ(big.Capacity(), 1170u);
    EXPECT_EQ(big[999], L'q');
    ExpectTerminated(big, __LINE__);

    Str s;
    s.SetCodePage(CP_UTF8);
    s.AssignNarrow(utf8, 2);
    EXPECT_EQ(W(s), L"\u041F");
}

TEST(StrConstruct, CopyOwnsItsBuffer) {
    Str a = Repeat(L'a', 500);
    Str b(a);
    EXPECT_NE(a.c_str(), b.c_str());
    EXPECT_EQ(W(a), W(b));
    b.Data()[0] = L'b';
    EXPECT_EQ(a[0], L'a');

    Str c;
    c = a;
    EXPECT_NE(c.c_str(), a.c_str());
    EXPECT_TRUE(c == a);

    Str moved(static_cast<Str&&>(c));
    EXPECT_EQ(moved.Length(), 500u);
    EXPECT_EQ(c.Length(), 0u);
    ExpectTerminated(c, __LINE__);

    a = a;  // self-assignment keeps the text
    EXPECT_EQ(a.Length(), 500u);
}

TEST(StrGrowth, CapacitySteps) {
    Str s = Repeat(L'x', 60);
    EXPECT_EQ(s.Capacity(), 64u);
    EXPECT_EQ(s.StorageKind(), Str::Storage::Inline);
    s.Append(L"0123456789");
    EXPECT_EQ(s.Length(), 70u);
    EXPECT_EQ(s.Capacity(), 390u);
    EXPECT_EQ(W(s), std::wstring(60, L'x') + L"0123456789");
    ExpectTerminated(s, __LINE__);

    // 62 units plus the terminator fit inline; 63 do not.
    EXPECT_EQ(Repeat(L'a', 62).Capacity(), 64u);
    EXPECT_EQ(Repeat(L'a', 63).Capacity(), 390u);
    EXPECT_EQ(Repeat(L'a', 388).Capacity(), 390u);
    EXPECT_EQ(Repeat(L'a', 389).Capacity(), 780u);
    // Below 2048 the step stays 390, even past 2048 units of capacity.
    EXPECT_EQ(Repeat(L'a', 2000).Capacity(), 2340u);
    EXPECT_EQ(Repeat(L'a', 2045).Capacity(), 2340u);
    EXPECT_EQ(Repeat(L'a', 2046).Capacity(), 2048u);
    EXPECT_EQ(Repeat(L'a', 2047).Capacity(), 4096u);
    EXPECT_EQ(Repeat(L'a', 524285).Capacity(), 524288u);
    EXPECT_EQ(Repeat(L'a', 524286).Capacity(), 524288u);
    EXPECT_EQ(Repeat(L'a', 524287).Capacity(), 1048576u);
    Str huge = Repeat(L'a', 1048575);
    EXPECT_EQ(huge.Capacity(), 1572864u);
    EXPECT_EQ(huge.StorageKind(), Str::Storage::Heap);
    ExpectTerminated(huge, __LINE__);
}

TEST(StrGrowth, AssignCountsOnlyTheNewText) {
    Str s = Repeat(L'x', 60);
    s.Assign(std::wstring(70, L'y').c_str());
    EXPECT_EQ(s.Capacity(), 390u);
    // A shorter assignment keeps the buffer it has.
    const wchar_t* before = s.c_str();
    s.Assign(L"short");
    EXPECT_EQ(s.c_str(), before);
    EXPECT_EQ(s.Capacity(), 390u);
    EXPECT_EQ(W(s), L"short");
    ExpectTerminated(s, __LINE__);
}

TEST(StrGrowth, AppendFromOwnText) {
    Str s = Repeat(L'a', 40);
    s.Append(L"bc");
    s.Append(s.c_str(), s.Length());  // grows out of the inline buffer
    EXPECT_EQ(s.Length(), 84u);
    EXPECT_EQ(W(s), std::wstring(40, L'a') + L"bc" + std::wstring(40, L'a') + L"bc");
    s.Append(s.c_str() + 1, 3);  // in place
    EXPECT_EQ(W(s.Right(3)), L"aaa");

    Str t(L"abcdef");
    t.Assign(t.c_str() + 2);  // overlapping in place
    EXPECT_EQ(W(t), L"cdef");
}

TEST(StrGrowth, ReserveAndSetLength) {
    Str s(L"keep");
    s.Reserve(1000);
    EXPECT_EQ(s.Capacity(), 1170u);
    EXPECT_EQ(W(s), L"keep");
    s.Reserve(3000, true);
    EXPECT_EQ(s.Capacity(), 4096u);
    EXPECT_EQ(s.Length(), 0u);
    ExpectTerminated(s, __LINE__);

    wchar_t* d = s.Data();
    for (int i = 0; i < 10; ++i) d[i] = L'0' + i;
    s.SetLength(10);
    EXPECT_EQ(W(s), L"0123456789");
    s.SetLength(4);
    EXPECT_EQ(W(s), L"0123");
    ExpectTerminated(s, __LINE__);
    s.SetLength(100000);
    EXPECT_EQ(s.Length(), 4094u);
    ExpectTerminated(s, __LINE__);
}

TEST(StrPool, OnlyStackObjectsUseThePool) {
    int start = Str::FreePoolSlots();
    {
        Str local = Repeat(L'p', 100);
        EXPECT_EQ(local.Capacity(), 390u);
        EXPECT_EQ(local.StorageKind(), Str::Storage::Pool);
        EXPECT_EQ(Str::FreePoolSlots(), start - 1);

        auto onHeap = std::make_unique<Str>();
        onHeap->Append(L'p', 100);
        EXPECT_EQ(onHeap->Capacity(), 390u);
        EXPECT_EQ(onHeap->StorageKind(), Str::Storage::Heap);

        // Moving a pool text into a heap object copies it out of the pool.
        std::vector<Str> list;
        list.push_back(static_cast<Str&&>(local));
        EXPECT_EQ(list[0].StorageKind(), Str::Storage::Heap);
        EXPECT_EQ(list[0].Length(), 100u);

        // Other capacities never use the pool.
        Str bigger = Repeat(L'p', 400);
        EXPECT_EQ(bigger.StorageKind(), Str::Storage::Heap);
    }
    EXPECT_EQ(Str::FreePoolSlots(), start);
}

TEST(StrPool, ExhaustedPoolFallsBackToHeapAndRefills) {
    int start = Str::FreePoolSlots();
    ASSERT_EQ(start, 21);
    {
        Str many[25];
        for (Str& s : many) s.Append(L'z', 200);
        int pool = 0;
        for (Str& s : many) {
            if (s.StorageKind() == Str::Storage::Pool) ++pool;
            EXPECT_EQ(s.Length(), 200u);
        }
        EXPECT_EQ(pool, 21);
        EXPECT_EQ(Str::FreePoolSlots(), 0);
        // Slots do not overlap.
        for (size_t i = 0; i < 25; ++i) many[i].Data()[0] = L'A' + static_cast<wchar_t>(i);
        for (size_t i = 0; i < 25; ++i) EXPECT_EQ(many[i][0], L'A' + static_cast<wchar_t>(i));
    }
    EXPECT_EQ(Str::FreePoolSlots(), start);
}

// Grows a Str that lies more than 1 MiB above the current stack pointer.
__attribute__((noinline)) void AppendFarBelow(Str* s) {
    volatile char pad[1200000];
    pad[0] = 1;
    s->Append(L'f', 100);
    pad[sizeof(pad) - 1] = pad[0];
}

TEST(StrPool, StackWindowIsOneMebibyte) {
    Str distant;
    AppendFarBelow(&distant);
    EXPECT_EQ(distant.Capacity(), 390u);
    EXPECT_EQ(distant.StorageKind(), Str::Storage::Heap);

    // Another thread's own stack qualifies as well.
    Str::Storage seen = Str::Storage::Inline;
    std::thread([&] {
        Str local;
        local.Append(L't', 100);
        seen = local.StorageKind();
    }).join();
    EXPECT_EQ(seen, Str::Storage::Pool);
    EXPECT_EQ(Str::FreePoolSlots(), 21);
}

TEST(StrPool, ShortAndPathSizedTextsStayOffTheHeap) {
    long before = g_allocations.load();
    {
        Str s(L"01234567890123456789012345678901234567890123456789012345678901");
        EXPECT_EQ(s.Length(), 62u);
        s.Format(L"%ls", L"formatted");
        s.AppendFormat(L" %d", 5);
        Str path(L"C:\\Program Files\\");
        path.Append(L'x', 300);
        path.Format(L"%ls\\%ls", path.c_str(), L"sub");
        path.AppendFormat(L"\\%ls", L"file.txt");
        EXPECT_EQ(path.StorageKind(), Str::Storage::Pool);
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
    mine.Append(L"never");
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

TEST(StrFormat, ReplacesAndAppends) {
    Str s(L"old text");
    s.Format(L"%d-%ls-%hs-%04X", 42, L"wide", "narrow", 0xab);
    EXPECT_EQ(W(s), L"42-wide-narrow-00AB");
    ExpectTerminated(s, __LINE__);
    s.AppendFormat(L"[%ls]", L"x");
    EXPECT_EQ(W(s), L"42-wide-narrow-00AB[x]");

    std::wstring longArg(3000, L'L');
    s.Format(L"<%ls>", longArg.c_str());
    EXPECT_EQ(s.Length(), 3002u);
    EXPECT_EQ(s.Capacity(), 4096u);
    ExpectTerminated(s, __LINE__);
    s.Format(L"%d", 7);  // the whole text is replaced: back to the inline buffer
    EXPECT_EQ(W(s), L"7");
    EXPECT_EQ(s.Capacity(), 64u);

    s.AppendFormat(L"%ls", longArg.c_str());
    EXPECT_EQ(s.Length(), 3001u);
    EXPECT_EQ(s[3000], L'L');
    ExpectTerminated(s, __LINE__);
}

TEST(StrFormat, ArgumentsMayPointIntoTheTarget) {
    Str s(L"abc");
    s.Format(L"%ls+%ls", s.c_str(), s.c_str());
    EXPECT_EQ(W(s), L"abc+abc");

    s.AppendFormat(L"|%ls", s.c_str());
    EXPECT_EQ(W(s), L"abc+abc|abc+abc");

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
}

TEST(StrFormat, NegativeCountLeavesTextUnchanged) {
    // A result longer than INT_MAX units cannot be counted: the printf
    // family reports -1.
    const wchar_t* tooLong = L"%2147483647d%2147483647d";
    Str t(L"unchanged");
    t.Format(tooLong, 1, 2);
    EXPECT_EQ(W(t), L"unchanged");
    t.AppendFormat(tooLong, 1, 2);
    EXPECT_EQ(W(t), L"unchanged");
    Str p = Repeat(L'p', 100);
    p.Format(tooLong, 1, 2);
    EXPECT_EQ(W(p), std::wstring(100, L'p'));
    ExpectTerminated(p, __LINE__);
}

TEST(StrCompare, ShorterFirstThenContent) {
    Str B(L"B"), aa(L"aa"), ab(L"ab"), a0b(L"a0b");
    EXPECT_LT(Str::Compare(B, aa, true), 0);
    EXPECT_GT(Str::Compare(aa, B, true), 0);
    EXPECT_LT(Str::Compare(B, aa, false), 0);
    EXPECT_LT(Str::Compare(ab, a0b, false), 0);
    EXPECT_LT(Str::Compare(ab, a0b, true), 0);

    EXPECT_EQ(Str::Compare(Str(L"HeLLo"), Str(L"hello"), true), 0);
    EXPECT_LT(Str::Compare(Str(L"HELLO"), Str(L"hello"), false), 0);
    EXPECT_LT(Str::Compare(Str(L"abc"), Str(L"abd"), true), 0);
    EXPECT_GT(Str::Compare(Str(L"ABD"), Str(L"abc"), true), 0);
    // Beyond ASCII: Cyrillic and Greek letters compare without case.
    EXPECT_EQ(Str::Compare(Str(L"\u043F\u0440\u0438\u0432\u0435\u0442"),
                           Str(L"\u041F\u0420\u0418\u0412\u0415\u0422"), true),
              0);
    EXPECT_EQ(Str::Compare(Str(L"\u03C3"), Str(L"\u03A3"), true), 0);

    Str null(static_cast<const wchar_t*>(nullptr)), null2(static_cast<const wchar_t*>(nullptr)),
        empty(L"");
    EXPECT_EQ(Str::Compare(null, null2, true), 0);
    EXPECT_LT(Str::Compare(null, empty, false), 0);
    EXPECT_GT(Str::Compare(empty, null, true), 0);

    // The map order is the same rule.
    std::map<Str, int> m{{Str(L"zz"), 1}, {Str(L"aaa"), 2}, {Str(L"b"), 3}};
    std::vector<std::wstring> order;
    for (auto& [k, v] : m) order.push_back(W(k));
    EXPECT_EQ(order, (std::vector<std::wstring>{L"b", L"zz", L"aaa"}));
}

TEST(StrCompare, LongTextsCompareAcrossChunks) {
    Str a = Repeat(L'a', 70000), b = Repeat(L'A', 70000);
    EXPECT_EQ(Str::Compare(a, b, true), 0);
    b.Data()[69999] = L'B';
    EXPECT_LT(Str::Compare(a, b, true), 0);
    a.Data()[40000] = L'c';
    EXPECT_GT(Str::Compare(a, b, true), 0);
}

TEST(StrSearch, FindAndSlices) {
    Str s(L"C:\\dir\\sub\\file.txt");
    EXPECT_EQ(s.Find(L"\\"), 2);
    EXPECT_EQ(s.Find(L'\\', 3), 6);
    EXPECT_EQ(s.Find(L"sub"), 7);
    EXPECT_EQ(s.Find(L"SUB"), -1);
    EXPECT_EQ(s.Find(L"txt", 17), -1);
    EXPECT_EQ(s.Find(L"txt", 16), 16);
    EXPECT_EQ(s.Find(L'x', 100), -1);
    EXPECT_EQ(s.Find(L"x", 100), -1);
    EXPECT_EQ(s.FindLast(L'\\'), 10);
    EXPECT_EQ(s.FindLast(L'?'), -1);

    EXPECT_EQ(W(s.Left(2)), L"C:");
    EXPECT_EQ(W(s.Left(500)), W(s));
    EXPECT_EQ(W(s.Right(3)), L"txt");
    EXPECT_EQ(W(s.Right(500)), W(s));
    EXPECT_EQ(W(s.Mid(3, 3)), L"dir");
    EXPECT_EQ(W(s.Mid(11)), L"file.txt");
    EXPECT_EQ(W(s.Mid(18, 10)), L"t");
    EXPECT_EQ(W(s.Mid(50, 10)), L"");
    ExpectTerminated(s.Left(2), __LINE__);
}

TEST(StrEdit, TrimUpperRepeat) {
    Str s(L"\"\"quoted\"\"\"");
    s.Trim(L'"');
    EXPECT_EQ(W(s), L"quoted");
    ExpectTerminated(s, __LINE__);
    Str all(L"////");
    all.Trim(L'/');
    EXPECT_EQ(W(all), L"");

    Str u(L"abc\u00e9\u0431\u03c3xyz1");
    u.MakeUpper();
    EXPECT_EQ(W(u), L"ABC\u00c9\u0411\u03a3XYZ1");

    Str longUpper = Repeat(L'q', 70000);
    longUpper.MakeUpper();
    EXPECT_EQ(W(longUpper), std::wstring(70000, L'Q'));

    Str r(L"x");
    r.Append(L'-', 3).Append(L'!', 0);
    EXPECT_EQ(W(r), L"x---");
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

TEST(StrProfile, ReadsValuesOfAnyLength) {
    TempDir dir;
    Str ini = dir / L"test.ini";
    std::string longValue(5000, 'v');
    longValue += "end";
    testing::WriteFileBytes(ini, "[Section]\r\nShort=abc\r\nLong=" + longValue +
                                     "\r\nEmpty=\r\n[Other]\r\nK1=1\r\nK2=2\r\n");
    Str s;
    EXPECT_TRUE(s.ReadProfileString(L"Section", L"Short", L"", ini.c_str()));
    EXPECT_EQ(W(s), L"abc");

    Str l;
    EXPECT_TRUE(l.ReadProfileString(L"Section", L"Long", L"", ini.c_str()));
    EXPECT_EQ(l.Length(), 5003u);
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
}

TEST(StrProfile, ListsOfKeys) {
    TempDir dir;
    Str ini = dir / L"list.ini";
    std::string body = "[Keys]\r\n";
    for (int i = 0; i < 40; ++i) body += "Key" + std::to_string(100 + i) + "=x\r\n";
    testing::WriteFileBytes(ini, body);
    Str keys;
    EXPECT_TRUE(keys.ReadProfileString(L"Keys", nullptr, L"", ini.c_str()));
    // 40 names of 6 units, each with its zero.
    EXPECT_EQ(keys.Length(), 40u * 7);
    EXPECT_EQ(std::wstring(keys.c_str()), L"Key100");
    EXPECT_EQ(std::wstring(keys.c_str() + 39 * 7), L"Key139");
}

TEST(StrLastError, EveryOperationKeepsIt) {
    TempDir dir;
    Str ini = dir / L"none.ini";
    SetLastError(kMarker);
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
    EXPECT_EQ(GetLastError(), kMarker);
}

}  // namespace
}  // namespace scancap
