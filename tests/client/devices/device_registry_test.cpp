#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/platform/defaults.hpp>

#include <support/child_process.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using platform::Defaults;
using platform::DefaultsValue;
using testkit::TempDir;

class DeviceRegistries : public ::testing::TestWithParam<bool> {
protected:
    TempDir dir;
    std::unique_ptr<DeviceRegistryStoring> registry =
        GetParam() ? std::unique_ptr<DeviceRegistryStoring>(new DeviceRegistry(DeviceRegistry::inFile(dir / "d.json")))
                   : std::make_unique<MemoryDeviceRegistry>();
};

TEST_P(DeviceRegistries, KeepsTheNewestTwentyTokensOnceEachWhateverTheirCase) {
    for (int i = 1; i <= 21; ++i) registry->rememberToken("tok" + std::to_string(i), "acc");
    auto tokens = registry->tokens("acc");
    ASSERT_EQ(tokens.size(), 20u);
    EXPECT_EQ(tokens.front(), "tok2");
    EXPECT_EQ(tokens.back(), "tok21");

    registry->rememberToken("TOK5", "acc");
    tokens = registry->tokens("acc");
    EXPECT_EQ(tokens.size(), 20u);
    EXPECT_EQ(tokens.back(), "TOK5");
    EXPECT_EQ(std::count(tokens.begin(), tokens.end(), "tok5"), 0);
    EXPECT_TRUE(registry->tokens("other").empty());

    registry->recordRegistration("tok2", "acc", false);  // recording remembers too
    EXPECT_EQ(registry->tokens("acc").back(), "tok2");
}

TEST_P(DeviceRegistries, NeedsRegistrationUnlessTheSameTokenAndFlagAreRecorded) {
    EXPECT_TRUE(registry->needsRegistration("ab", "acc", false, false));
    registry->recordRegistration("ab", "acc", false);
    EXPECT_FALSE(registry->needsRegistration("ab", "acc", false, false));
    EXPECT_TRUE(registry->needsRegistration("ab", "acc", false, true));   // forced
    EXPECT_TRUE(registry->needsRegistration("AB", "acc", false, false));  // letter case counts here
    EXPECT_TRUE(registry->needsRegistration("ab", "acc", true, false));   // the flag changed
    EXPECT_TRUE(registry->needsRegistration("ab", "other", false, false));
    EXPECT_EQ(registry->enrolment("acc"), DeviceEnrolment::enrolled);

    registry->markUnregistered("acc");
    EXPECT_TRUE(registry->needsRegistration("ab", "acc", false, false));
    registry->recordRegistration("ab", "acc", true);  // a recording overwrites the mark
    EXPECT_EQ(registry->enrolment("acc"), DeviceEnrolment::enrolled);
}

TEST_P(DeviceRegistries, TheMarkAndTheClearDropRegistrationsButNotTokens) {
    registry->recordRegistration("ab", "acc", false);
    registry->recordRegistration("cd", "other", false);
    registry->markUnregistered("acc");
    EXPECT_EQ(registry->enrolment("acc"), DeviceEnrolment::unregistered);
    EXPECT_EQ(registry->enrolment("other"), DeviceEnrolment::never);
    EXPECT_EQ(registry->tokens("other"), std::vector<std::string>{"cd"});

    registry->clearLedger();
    EXPECT_EQ(registry->enrolment("acc"), DeviceEnrolment::never);
    EXPECT_EQ(registry->tokens("acc"), std::vector<std::string>{"ab"});

    registry->forgetToken("AB", "acc");
    EXPECT_TRUE(registry->tokens("acc").empty());
    registry->forgetToken("ab", "nobody");
    EXPECT_EQ(registry->tokens("other"), std::vector<std::string>{"cd"});
}

INSTANTIATE_TEST_SUITE_P(, DeviceRegistries, ::testing::Bool(), [](const auto& param) {
    return param.param ? "Defaults" : "Memory";
});

TEST(DeviceRegistryDefaults, WronglyTypedStoredValuesReadAsEmptyUntilTheNextWrite) {
    TempDir dir;
    Defaults defaults(dir / "d.json");
    defaults.set(DeviceRegistry::legacyKey, true);
    defaults.set(DeviceRegistry::ledgerKey, DefaultsValue::Map{{"acc", "ab|false"}, {"bad", std::int64_t{3}}});
    defaults.set(DeviceRegistry::tokensKey, DefaultsValue::Map{{"acc", DefaultsValue::List{"ab", 7}}});

    DeviceRegistry registry = DeviceRegistry::inFile(dir / "d.json");
    EXPECT_FALSE(defaults.value(DeviceRegistry::legacyKey));
    EXPECT_EQ(registry.enrolment("acc"), DeviceEnrolment::never);
    EXPECT_TRUE(registry.needsRegistration("ab", "acc", false, false));
    EXPECT_TRUE(registry.tokens("acc").empty());

    registry.recordRegistration("cd", "other", true);
    EXPECT_EQ(defaults.value(DeviceRegistry::ledgerKey), DefaultsValue(DefaultsValue::Map{{"other", "cd|true"}}));
    EXPECT_EQ(
        defaults.value(DeviceRegistry::tokensKey),
        DefaultsValue(DefaultsValue::Map{{"other", DefaultsValue::List{"cd"}}}));

    registry.clearLedger();
    EXPECT_FALSE(defaults.value(DeviceRegistry::ledgerKey));
}

constexpr const char* raceFileVariable = "BRISALUNE_DEVICE_RACE_FILE";
constexpr const char* racePrefixVariable = "BRISALUNE_DEVICE_RACE_PREFIX";
constexpr int racedAccounts = 100;

TEST(DeviceRegistryRaceChild, Job) {
    const char* file = std::getenv(raceFileVariable);
    if (!file) GTEST_SKIP() << "run by DeviceRegistryDefaults in a child process";
    DeviceRegistry registry = DeviceRegistry::inFile(file);
    for (int i = 0; i < racedAccounts; ++i)
        registry.recordRegistration("tok", std::getenv(racePrefixVariable) + std::to_string(i), false);
}

TEST(DeviceRegistryDefaults, TwoProcessesRecordingAtOnceLoseNoRegistration) {
    // Two app instances on one home folder each keep what they registered.
    TempDir dir;
    const auto child = [&](const char* prefix) {
        return std::make_unique<testkit::ChildProcess>(
            "DeviceRegistryRaceChild.*",
            std::vector<std::string>{
                std::string(raceFileVariable) + "=" + (dir / "d.json").string(),
                std::string(racePrefixVariable) + "=" + prefix});
    };
    auto first = child("x-"), second = child("y-");
    ASSERT_TRUE(first->succeeded());
    ASSERT_TRUE(second->succeeded());
    const DeviceRegistry registry = DeviceRegistry::inFile(dir / "d.json");
    int enrolled = 0;
    for (const char* prefix : {"x-", "y-"}) {
        for (int i = 0; i < racedAccounts; ++i)
            enrolled += registry.enrolment(prefix + std::to_string(i)) == DeviceEnrolment::enrolled;
    }
    EXPECT_EQ(enrolled, 2 * racedAccounts);
}

}  // namespace
}  // namespace brisalune
