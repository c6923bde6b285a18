// The keychain against a real gnome-keyring on a private D-Bus session.
#include "platform/secret/SecretServiceKeychain.h"
#include "support/DesktopTestMain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

TEST(SecretServiceKeychain, ALockedKeyringReadsAsNoItemAtOnceKeepsWritesAndOpensForTheNextCall) {
    // Long enough a wait that a read held up by an unlock prompt would show.
    platform::SecretServiceKeychain keychain(10);
    const std::string service = "app.tovrin.mac.secrets";
    ASSERT_TRUE(keychain.set("app.tovrin.mac", "refreshToken", "rt-kept"));
    ASSERT_TRUE(test::desktop().lockKeyring());
    struct Unlock {
        ~Unlock() { test::desktop().unlockKeyring(); }
    } unlockAtEnd;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(keychain.get("app.tovrin.mac", "refreshToken").has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the read waited for the keyring";

    // A key written now is not reported as stored, yet it is used in this run.
    EXPECT_FALSE(keychain.set(service, "groqApiKey", "gsk_while_locked"));
    EXPECT_EQ(keychain.get(service, "groqApiKey"), "gsk_while_locked");

    ASSERT_TRUE(test::desktop().unlockKeyring());
    EXPECT_EQ(keychain.get("app.tovrin.mac", "refreshToken"), "rt-kept") << "the next read after the unlock";
    // The kept write lands once the keyring is open.
    std::string out;
    for (int i = 0; i < 100 && out != "gsk_while_locked"; ++i) {
        out.clear();
        test::desktop().run({"secret-tool", "lookup", "service", service, "account", "groqApiKey"}, &out);
        if (out != "gsk_while_locked") {
            keychain.get(service, "groqApiKey");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_EQ(out, "gsk_while_locked");
    EXPECT_TRUE(keychain.remove(service, "groqApiKey"));
}

TEST(SecretServiceKeychain, TheBusGoingAwayLeavesTheProgramRunningAndABusThatReturnsIsUsedAgain) {
    platform::SecretServiceKeychain keychain;
    const std::string service = "app.tovrin.mac.secrets";
    ASSERT_TRUE(keychain.set("app.tovrin.mac", "refreshToken", "rt-before"));

    // GIO's shared connection would end this process here, as it ended the program.
    test::desktop().stopBus();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(keychain.get("app.tovrin.mac", "refreshToken").has_value());
    EXPECT_FALSE(keychain.set(service, "groqApiKey", "gsk_without_bus"));
    EXPECT_EQ(keychain.get(service, "groqApiKey"), "gsk_without_bus");

    ASSERT_TRUE(test::desktop().restartBus());
    EXPECT_EQ(keychain.get("app.tovrin.mac", "refreshToken"), "rt-before");
    // The write kept meanwhile lands on the new bus's keyring.
    std::string out;
    for (int i = 0; i < 100 && out != "gsk_without_bus"; ++i) {
        out.clear();
        test::desktop().run({"secret-tool", "lookup", "service", service, "account", "groqApiKey"}, &out);
        if (out != "gsk_without_bus") {
            keychain.get("app.tovrin.mac", "refreshToken");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_EQ(out, "gsk_without_bus");
    EXPECT_TRUE(keychain.remove(service, "groqApiKey"));
}

}  // namespace

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {.display = false, .keyring = true}); }
