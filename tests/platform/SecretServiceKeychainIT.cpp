// The keychain against a real gnome-keyring on a private D-Bus session.
#include "platform/SecretServiceKeychain.h"
#include "support/DesktopTestMain.h"

#include <gtest/gtest.h>

namespace {

TEST(SecretServiceKeychain, StoresReplacesAndRemovesItems) {
    platform::SecretServiceKeychain keychain;
    const std::string service = "app.tovrin.mac.secrets";
    EXPECT_FALSE(keychain.get(service, "groqApiKey").has_value());

    ASSERT_TRUE(keychain.set(service, "groqApiKey", "gsk_first"));
    EXPECT_EQ(keychain.get(service, "groqApiKey"), "gsk_first");
    ASSERT_TRUE(keychain.set(service, "groqApiKey", "gsk_second"));
    EXPECT_EQ(keychain.get(service, "groqApiKey"), "gsk_second");

    // Items are told apart by service and account.
    ASSERT_TRUE(keychain.set("app.tovrin.mac", "refreshToken", "rt-1"));
    EXPECT_EQ(keychain.get("app.tovrin.mac", "refreshToken"), "rt-1");
    EXPECT_FALSE(keychain.get(service, "refreshToken").has_value());

    // Another client sees the same item.
    std::string out;
    EXPECT_EQ(test::desktop().run({"secret-tool", "lookup", "service", service, "account", "groqApiKey"}, &out), 0);
    EXPECT_EQ(out, "gsk_second");

    EXPECT_TRUE(keychain.remove(service, "groqApiKey"));
    EXPECT_FALSE(keychain.get(service, "groqApiKey").has_value());
    EXPECT_TRUE(keychain.remove(service, "groqApiKey"));
}

TEST(SecretServiceKeychain, KeepsBinaryAndUnicodeDataExactly) {
    platform::SecretServiceKeychain keychain;
    const std::string data = std::string("ключ\0\x01\xff", 11);
    ASSERT_TRUE(keychain.set("app.tovrin.test", "blob", data));
    EXPECT_EQ(keychain.get("app.tovrin.test", "blob"), data);
}

}  // namespace

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {.display = false, .keyring = true}); }
