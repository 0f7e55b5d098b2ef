#include "suggest/machine_facts.h"

#include "common/testing.h"
#include "suggest/ie_store.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace scancap {
namespace {

using testing::BuildIeStore;
using testing::StoreBuilder;
using testing::Utf8;
using Values = std::vector<std::pair<const wchar_t*, const wchar_t*>>;

struct Query {
    const wchar_t* from;  // null: only the post version is tested
    const wchar_t* to;
    bool upgraded;
};

TEST(IEUpgradeTestTest, VersionRulesAndPrefixes) {
    const struct {
        Values pre;
        Values post;
        std::vector<Query> queries;
        bool preHasKey = true;
    } rows[] = {
        {{{L"Version", L"6.0.2900.5512"}}, {{L"Version", L"7.0.5730.13"}},
         {{L"6.", L"7.", true}, {nullptr, L"7.", true}, {L"5.", L"6.", false}, {L"6.", L"8.", false},
          {nullptr, L"10.", false}}},
        // The post "svcVersion" wins over "Version".
        {{{L"Version", L"9.11.9600.17031"}}, {{L"Version", L"9.11.9600.17843"}, {L"svcVersion", L"11.0.9600.17843"}},
         {{nullptr, L"11.", true}, {nullptr, L"9.", false}, {nullptr, L"1.", false}}},
        // The pre store is read from "Version" only: equal to the post "svcVersion", no upgrade.
        {{{L"svcVersion", L"10.0.1"}, {L"Version", L"11.0.5"}}, {{L"svcVersion", L"11.0.5"}}, {{nullptr, L"11.", false}}},
        // Versions equal but for case are no upgrade.
        {{{L"Version", L"11.0.9600.abc"}}, {{L"Version", L"11.0.9600.ABC"}},
         {{nullptr, L"11.", false}, {L"11", L"11", false}}},
        // A missing key, a missing value, or an empty "svcVersion" hiding "Version": no version, no upgrade.
        {{{L"Version", L"8.0.6001"}}, {{L"Version", L"10.0.9200"}}, {{nullptr, L"10.", false}}, false},
        {{{L"Build", L"8.0"}}, {{L"Version", L"10.0.9200"}}, {{nullptr, L"10.", false}}},
        {{{L"Version", L"10.0.9200"}}, {}, {{nullptr, L"10.", false}}},
        {{{L"Version", L"8.0.6001"}}, {{L"svcVersion", L""}, {L"Version", L"10.0.9200"}}, {{nullptr, L"10.", false}}},
        // Prefixes ignore case.
        {{{L"Version", L"x.1"}}, {{L"Version", L"y.2"}}, {{L"X.", L"Y.", true}, {L"X.", L"Y.3", false}}},
    };
    for (const auto& r : rows) {
        SnapshotStore pre, post;
        BuildIeStore(pre, r.pre, r.preHasKey);
        BuildIeStore(post, r.post);
        for (const Query& q : r.queries) {
            EXPECT_EQ(IEUpgradeTest(pre, post, q.from, q.to), q.upgraded)
                << "row " << (&r - rows) << ": " << (q.from ? Utf8(q.from) : "null") << " -> " << Utf8(q.to);
        }
    }
}

// Points the store's "Version" value at other data.
void RedirectVersionData(SnapshotStore& store, uint32_t dataOffset, uint32_t dataLength) {
    uint32_t key = store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer");
    ASSERT_NE(key, 0u);
    uint32_t value = store.FindValue(key, L"Version");
    ASSERT_NE(value, 0u);
    StoreBuilder b(store);
    b.Poke(value + offsetof(RegValueRecord, dataOffset), dataOffset);
    b.Poke(value + offsetof(RegValueRecord, dataLength), dataLength);
}

TEST(IEUpgradeTestTest, StringDataEndsAtTheFirstZeroAndStaysInTheArena) {
    SnapshotStore pre, post;
    BuildIeStore(pre, {{L"Version", L"6.0"}});
    BuildIeStore(post, {{L"Version", L"10.0"}});
    static const wchar_t kData[] = L"7.0\0" L"10.0";
    RedirectVersionData(post, post.AllocateBytes(kData, sizeof(kData)), sizeof(kData));
    EXPECT_TRUE(IEUpgradeTest(pre, post, L"6.", L"7."));
    EXPECT_FALSE(IEUpgradeTest(pre, post, nullptr, L"10."));

    // Data that runs past the end of the arena is no version.
    SnapshotStore damaged;
    BuildIeStore(damaged, {{L"Version", L"7.0"}});
    RedirectVersionData(damaged, damaged.Used() - 2, 8);
    EXPECT_FALSE(IEUpgradeTest(pre, damaged, nullptr, L"7."));
}

TEST(UpgradeFlagsTest, EachFlagFromThePairOfVersions) {
    const struct {
        const wchar_t* pre;
        const wchar_t* post;
        const char* flags;  // 6To7, 7To9, To10, To11
    } cases[] = {
        {L"6.0.2900", L"7.0.5730", "1100"}, {L"5.0", L"7.0", "0100"},           {L"6.0", L"8.0.6001", "0100"},
        {L"8.0", L"9.0.8112", "0100"},      {L"9.0", L"10.0.9200", "0010"},     {L"9.11.9600", L"11.0.9600", "0001"},
        {L"11.0.9600", L"11.0.9600", "0000"}, {L"11.0", L"6.0", "0000"},
    };
    for (const auto& c : cases) {
        SnapshotStore pre, post;
        testing::BuildIeStore(pre, {{L"Version", c.pre}});
        testing::BuildIeStore(post, {{L"svcVersion", c.post}, {L"Version", L"0.0"}});
        UpgradeFlags flags{true, true, true, true};
        SetUpgradeFlags(pre, post, flags);
        std::string got{char('0' + flags.ieUpgrade6To7), char('0' + flags.ieUpgradeTo7To9),
                        char('0' + flags.ieUpgradeTo10), char('0' + flags.ieUpgradeTo11)};
        EXPECT_EQ(got, c.flags) << Utf8(c.pre) << " -> " << Utf8(c.post);
    }
}

}  // namespace
}  // namespace scancap
