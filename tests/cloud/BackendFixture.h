// A fresh account client against a fresh loopback account service for every test.
#pragma once

#include "cloud/BackendClient.h"
#include "cloud/BackendError.h"
#include "support/FakeAccountService.h"
#include "support/TaskWait.h"
#include "support/TestEnvironment.h"

#include <QHostAddress>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

class BackendFixture : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        service = std::make_unique<test::FakeAccountService>();
        test::fakes().defaults.setString("backendURL", service->baseURL());
        client = std::make_unique<BackendClient>();
        QObject::connect(client.get(), &BackendClient::changed, client.get(), [this] { ++changes; });
    }
    void TearDown() override {
        client.reset();
        service.reset();
    }

    static constexpr const char* kEmail = "ann@example.com";
    static constexpr const char* kPassword = "correct horse";

    void signIn(std::int64_t credits = 100) {
        service->addAccount(kEmail, kPassword, credits);
        test::await(client->login(kEmail, kPassword));
        ASSERT_TRUE(client->isLoggedIn());
    }
    std::optional<std::string> storedToken() {
        return test::fakes().keychain.get("app.tovrin.mac", "refreshToken");
    }
    void storeToken(const std::string& token) { test::fakes().keychain.set("app.tovrin.mac", "refreshToken", token); }

    // A base URL on a loopback port where nothing listens.
    static std::string unreachableBase() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const auto port = probe.serverPort();
        probe.close();
        return "http://127.0.0.1:" + std::to_string(port) + "/api";
    }

    // The BackendError the task ends with (fails the test when it ends otherwise).
    template <typename T>
    BackendError backendError(platform::Task<T> task) {
        try {
            test::await(std::move(task));
        } catch (const BackendError& e) {
            return e;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "expected a BackendError, got: " << e.what();
            return BackendError("?", e.what());
        }
        ADD_FAILURE() << "expected a BackendError, the call succeeded";
        return BackendError("?", "succeeded");
    }

    std::unique_ptr<test::FakeAccountService> service;
    std::unique_ptr<BackendClient> client;
    int changes = 0;
};
