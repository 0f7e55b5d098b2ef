#include "suggest/machine_facts.h"

#include "suggest/ie_store.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace scancap {
namespace {

using testing::BuildIeStore;
using testing::StoreBuilder;

class IEUpgradeTestTest : public ::testing::Test {
protected:
    bool Upgraded(const wchar_t* from, const wchar_t* to) { return IEUpgradeTest(pre_, post_, from, to); }

    SnapshotStore pre_;
    SnapshotStore post_;
};

TEST_F(IEUpgradeTestTest, SixToSeven) {
    BuildIeStore(pre_, {{L"Version", L"6.0.2900.5512"}});
    BuildIeStore(post_, {{L"Version", L"7.0.5730.13"}});
    EXPECT_TRUE(Upgraded(L"6.", L"7."));
    EXPECT_TRUE(Upgraded(nullptr, L"7."));
    EXPECT_FALSE(Upgraded(L"5.", L"6."));
    EXPECT_FALSE(Upgraded(L"6.", L"8."));
    EXPECT_FALSE(Upgraded(nullptr, L"8."));
    EXPECT_FALSE(Upgraded(nullptr, L"10."));
}

TEST_F(IEUpgradeTestTest, PostServiceVersionWinsOverVersion) {
    BuildIeStore(pre_, {{L"Version", L"9.11.9600.17031"}});
    BuildIeStore(post_, {{L"Version", L"9.11.9600.17843"}, {L"svcVersion", L"11.0.9600.17843"}});
    EXPECT_TRUE(Upgraded(nullptr, L"11."));
    EXPECT_FALSE(Upgraded(nullptr, L"9."));
    EXPECT_FALSE(Upgraded(nullptr, L"1."));
}

TEST_F(IEUpgradeTestTest, PreStoreIsReadFromVersionOnly) {
    // The pre "Version" equals the post "svcVersion": no upgrade, whatever
    // the pre "svcVersion" says.
    BuildIeStore(pre_, {{L"svcVersion", L"10.0.1"}, {L"Version", L"11.0.5"}});
    BuildIeStore(post_, {{L"svcVersion", L"11.0.5"}});
    EXPECT_FALSE(Upgraded(nullptr, L"11."));
}

TEST_F(IEUpgradeTestTest, EqualVersionsIgnoringCaseAreNoUpgrade) {
    BuildIeStore(pre_, {{L"Version", L"11.0.9600.abc"}});
    BuildIeStore(post_, {{L"Version", L"11.0.9600.ABC"}});
    EXPECT_FALSE(Upgraded(nullptr, L"11."));
    EXPECT_FALSE(Upgraded(L"11", L"11"));
}

TEST_F(IEUpgradeTestTest, AMissingVersionIsNoUpgrade) {
    BuildIeStore(pre_, {{L"Version", L"8.0.6001"}}, /*withKey=*/false);
    BuildIeStore(post_, {{L"Version", L"10.0.9200"}});
    EXPECT_FALSE(Upgraded(nullptr, L"10."));

    SnapshotStore preWithoutValue, emptyPost;
    BuildIeStore(preWithoutValue, {{L"Build", L"8.0"}});
    EXPECT_FALSE(IEUpgradeTest(preWithoutValue, post_, nullptr, L"10."));
    BuildIeStore(emptyPost, {});
    EXPECT_FALSE(IEUpgradeTest(post_, emptyPost, nullptr, L"10."));
}

TEST_F(IEUpgradeTestTest, AnEmptyServiceVersionHidesVersion) {
    BuildIeStore(pre_, {{L"Version", L"8.0.6001"}});
    BuildIeStore(post_, {{L"svcVersion", L""}, {L"Version", L"10.0.9200"}});
    EXPECT_FALSE(Upgraded(nullptr, L"10."));
}

TEST_F(IEUpgradeTestTest, PrefixesIgnoreCase) {
    BuildIeStore(pre_, {{L"Version", L"x.1"}});
    BuildIeStore(post_, {{L"Version", L"y.2"}});
    EXPECT_TRUE(Upgraded(L"X.", L"Y."));
    EXPECT_FALSE(Upgraded(L"X.", L"Y.3"));
}

// Points the post store's "Version" value at other data.
void RedirectVersionData(SnapshotStore& store, uint32_t dataOffset, uint32_t dataLength) {
    uint32_t key = store.FindKeyByPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer");
    ASSERT_NE(key, 0u);
    uint32_t value = store.FindValue(key, L"Version");
    ASSERT_NE(value, 0u);
    StoreBuilder b(store);
    b.Poke(value + offsetof(RegValueRecord, dataOffset), dataOffset);
    b.Poke(value + offsetof(RegValueRecord, dataLength), dataLength);
}

TEST_F(IEUpgradeTestTest, StringDataEndsAtTheFirstZero) {
    BuildIeStore(pre_, {{L"Version", L"6.0"}});
    BuildIeStore(post_, {{L"Version", L"10.0"}});
    static const wchar_t kData[] = L"7.0\0" L"10.0";
    RedirectVersionData(post_, post_.AllocateBytes(kData, sizeof(kData)), sizeof(kData));
    EXPECT_TRUE(Upgraded(L"6.", L"7."));
    EXPECT_FALSE(Upgraded(nullptr, L"10."));
}

TEST_F(IEUpgradeTestTest, DataOutsideTheArenaIsNoVersion) {
    BuildIeStore(pre_, {{L"Version", L"6.0"}});
    BuildIeStore(post_, {{L"Version", L"7.0"}});
    RedirectVersionData(post_, post_.Used() - 2, 8);
    EXPECT_FALSE(Upgraded(nullptr, L"7."));
}

}  // namespace
}  // namespace scancap
