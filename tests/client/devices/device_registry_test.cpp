#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/platform/defaults.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace brisalune
