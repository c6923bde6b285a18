#include "platform/SecretServiceKeychain.h"

#include <libsecret/secret.h>

namespace platform {

namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {
        "app.tovrin.Secret",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
}

}  // namespace

std::optional<std::string> SecretServiceKeychain::get(const std::string& service, const std::string& account) {
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(schema(), nullptr, &error, "service", service.c_str(),
                                                            "account", account.c_str(), nullptr);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    if (!value) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::string out(bytes ? bytes : "", bytes ? length : 0);
    secret_value_unref(value);
    return out;
}

bool SecretServiceKeychain::set(const std::string& service, const std::string& account, const std::string& data) {
    GError* error = nullptr;
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "application/octet-stream");
    const std::string label = service + " " + account;
    const gboolean ok = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value,
                                                          nullptr, &error, "service", service.c_str(), "account",
                                                          account.c_str(), nullptr);
    secret_value_unref(value);
    if (error) {
        g_error_free(error);
        return false;
    }
    return ok;
}

bool SecretServiceKeychain::remove(const std::string& service, const std::string& account) {
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(),
                               nullptr);
    if (error) {
        g_error_free(error);
        return false;
    }
    return true;
}

}  // namespace platform
