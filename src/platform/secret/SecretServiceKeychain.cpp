#include "platform/secret/SecretServiceKeychain.h"

#include <libsecret/secret.h>
// After GLib's headers, which use "signals" as a name: Qt defines it as a keyword.
#include "platform/Log.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

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

using Key = std::pair<std::string, std::string>;  // service, account

GHashTable* attributesOf(const Key& key) {
    return secret_attributes_build(schema(), "service", key.first.c_str(), "account", key.second.c_str(), nullptr);
}

void clear(GError*& error) {
    if (error) g_error_free(error);
    error = nullptr;
}

std::chrono::steady_clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

struct SecretServiceKeychain::Worker {
    // Shared by the callers and the thread, under `mutex`.
    std::mutex mutex;
    std::condition_variable changed;
    struct Write {
        std::optional<std::string> data;  // nullopt: remove the item
        uint64_t generation = 0;
        bool failed = false;  // tried and refused; tried again when asked to
    };
    bool toldNoService = false;                         // the first failed opening is logged, not every one
    std::map<Key, Write> unsaved;                      // writes not yet known to be in the service
    std::map<Key, std::pair<uint64_t, bool>> outcome;  // per item: the last write that finished, and whether it landed
    uint64_t generation = 0;
    int queued = 0;         // jobs posted and not yet done
    bool stalled = false;   // a caller stopped waiting for a queued job; ends when the queue is empty
    bool finished = false;  // the thread has ended

    // The thread's own.
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    GDBusConnection* bus = nullptr;
    SecretService* service = nullptr;
    bool storing = false;  // an asynchronous store is under way

    ~Worker() {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    void run() {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        dropService();
        g_main_context_pop_thread_default(context);
        std::lock_guard lock(mutex);
        finished = true;
        changed.notify_all();
    }

    // Runs `fn` on the thread. Callers count it in `queued` first.
    void post(std::function<void()> fn) {
        auto* job = new std::function<void()>(std::move(fn));
        GSource* source = g_idle_source_new();
        g_source_set_callback(
            source,
            [](gpointer p) -> gboolean {
                (*static_cast<std::function<void()>*>(p))();
                return G_SOURCE_REMOVE;
            },
            job, [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
        g_source_attach(source, context);
        g_source_unref(source);
    }

    void jobDone() {
        std::lock_guard lock(mutex);
        if (--queued == 0) stalled = false;
        changed.notify_all();
    }

    void dropService() {
        if (service) g_object_unref(service);
        service = nullptr;
        if (bus) g_object_unref(bus);
        bus = nullptr;
    }

    // The service on the session bus. A bus that has gone away is let go of here, so that the
    // next call joins the bus that took its place (GIO gives out one shared connection per bus,
    // and a fresh one only once nobody holds the closed one); without a bus there is no service.
    SecretService* ensureService() {
        if (bus && g_dbus_connection_is_closed(bus)) dropService();
        if (service) return service;
        GError* error = nullptr;
        if (!bus) {
            bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
            clear(error);
            if (!bus) return nullptr;
            // The shared connection ends the whole process (with SIGTERM) when its bus goes away,
            // unless told otherwise: the program keeps running without a bus.
            g_dbus_connection_set_exit_on_close(bus, FALSE);
        }
        // libsecret opens the service on that same shared connection.
        service = secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        if (!service && !toldNoService) {
            toldNoService = true;
            qCWarning(logPlatform, "no keychain service: %s", error ? error->message : "none on the bus");
        }
        clear(error);
        return service;
    }

    // The item's bytes, from an unlocked collection only: a read never brings up a prompt.
    std::optional<std::string> lookup(const Key& key) {
        SecretService* svc = ensureService();
        if (!svc) return std::nullopt;
        GError* error = nullptr;
        GHashTable* attributes = attributesOf(key);
        GList* items = secret_service_search_sync(
            svc, schema(), attributes, static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
            nullptr, &error);
        g_hash_table_unref(attributes);
        clear(error);
        std::optional<std::string> out;
        for (GList* l = items; l && !out; l = l->next) {
            auto* item = static_cast<SecretItem*>(l->data);
            if (secret_item_get_locked(item)) continue;
            if (SecretValue* value = secret_item_get_secret(item)) {
                gsize length = 0;
                const gchar* bytes = secret_value_get(value, &length);
                out = std::string(bytes ? bytes : "", bytes ? length : 0);
                secret_value_unref(value);
            }
        }
        g_list_free_full(items, g_object_unref);
        return out;
    }

    // Deletes the item from every collection. An item in a locked collection stays, and the
    // removal counts as not done.
    bool removeNow(const Key& key) {
        SecretService* svc = ensureService();
        if (!svc) return false;
        GError* error = nullptr;
        GHashTable* attributes = attributesOf(key);
        GList* items = secret_service_search_sync(svc, schema(), attributes, SECRET_SEARCH_ALL, nullptr, &error);
        g_hash_table_unref(attributes);
        bool ok = !error;
        clear(error);
        for (GList* l = items; l; l = l->next) {
            auto* item = static_cast<SecretItem*>(l->data);
            if (secret_item_get_locked(item) || !secret_item_delete_sync(item, nullptr, &error)) ok = false;
            clear(error);
        }
        g_list_free_full(items, g_object_unref);
        return ok;
    }

    // The collection new items go to exists and is unlocked: a store into it needs no prompt.
    static bool defaultCollectionOpen(SecretService* svc) {
        GError* error = nullptr;
        SecretCollection* collection =
            secret_collection_for_alias_sync(svc, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
        clear(error);
        const bool open = collection && !secret_collection_get_locked(collection);
        if (collection) g_object_unref(collection);
        return open;
    }

    // Tells a waiting writer that its write is not in the service yet (it waits for the user),
    // without giving it up.
    void reportWaiting(const Key& key, uint64_t generation) {
        std::lock_guard lock(mutex);
        outcome[key] = {generation, false};
        changed.notify_all();
    }

    void finishWrite(const Key& key, uint64_t generation, bool ok) {
        std::lock_guard lock(mutex);
        auto it = unsaved.find(key);
        if (it != unsaved.end() && it->second.generation == generation) {
            if (ok)
                unsaved.erase(it);
            else
                it->second.failed = true;
        }
        outcome[key] = {generation, ok};
        changed.notify_all();
    }

    struct StoreCall {
        Worker* worker;
        Key key;
        uint64_t generation;
    };

    static void onStored(GObject* source, GAsyncResult* result, gpointer data) {
        auto* call = static_cast<StoreCall*>(data);
        GError* error = nullptr;
        const bool ok = secret_service_store_finish(SECRET_SERVICE(source), result, &error) && !error;
        // The item's name only, never its value.
        if (!ok)
            qCWarning(logPlatform, "the keychain did not store %s/%s: %s", call->key.first.c_str(),
                      call->key.second.c_str(), error ? error->message : "refused");
        clear(error);
        Worker* self = call->worker;
        self->storing = false;
        self->finishWrite(call->key, call->generation, ok);
        delete call;
        self->flush();
    }

    // Writes what is unsaved, one item at a time. A store into a locked collection brings up the
    // desktop's unlock prompt and finishes when it is answered; the thread stays free meanwhile.
    void flush() {
        while (!storing) {
            Key key;
            Write write;
            {
                std::lock_guard lock(mutex);
                auto it = unsaved.begin();
                while (it != unsaved.end() && it->second.failed) ++it;
                if (it == unsaved.end()) return;
                key = it->first;
                write = it->second;
            }
            if (!write.data) {
                finishWrite(key, write.generation, removeNow(key));
                continue;
            }
            SecretService* svc = ensureService();
            if (!svc) {
                finishWrite(key, write.generation, false);
                continue;
            }
            GHashTable* attributes = attributesOf(key);
            SecretValue* value = secret_value_new(write.data->data(), static_cast<gssize>(write.data->size()),
                                                  "application/octet-stream");
            const std::string label = key.first + " " + key.second;
            if (!defaultCollectionOpen(svc)) reportWaiting(key, write.generation);
            storing = true;
            secret_service_store(svc, schema(), attributes, SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr,
                                 &Worker::onStored, new StoreCall{this, key, write.generation});
            secret_value_unref(value);
            g_hash_table_unref(attributes);
        }
    }

    // Refused writes are tried again: all of them when `always`, else once the default
    // collection is open (without asking the user).
    void retry(bool always) {
        {
            std::lock_guard lock(mutex);
            bool any = false;
            for (auto& [key, write] : unsaved) any = any || write.failed;
            if (!any) return;
        }
        if (!always) {
            SecretService* svc = ensureService();
            if (!svc || storing || !defaultCollectionOpen(svc)) return;
        }
        {
            std::lock_guard lock(mutex);
            for (auto& [key, write] : unsaved) write.failed = false;
        }
        flush();
    }
};

SecretServiceKeychain::SecretServiceKeychain(double waitSeconds)
    : waitSeconds_(waitSeconds), worker_(std::make_shared<Worker>()) {
    std::thread([worker = worker_] { worker->run(); }).detach();
}

SecretServiceKeychain::~SecretServiceKeychain() {
    Worker& w = *worker_;
    std::unique_lock lock(w.mutex);
    int left = 0;
    for (const auto& [key, write] : w.unsaved) left += write.data ? 1 : 0;
    if (left > 0)
        std::fprintf(stderr, "Tovrin: %d secret(s) could not be stored: the keyring stayed locked or unreachable\n",
                     left);
    ++w.queued;
    lock.unlock();
    w.post([&w] { g_main_loop_quit(w.loop); });
    // The thread holds its own reference: when the service keeps it busy, it is left to end with
    // the process rather than holding up the quit.
    lock.lock();
    w.changed.wait_for(lock, toDuration(0.1), [&] { return w.finished; });
}

std::optional<std::string> SecretServiceKeychain::get(const std::string& service, const std::string& account) {
    const Key key{service, account};
    Worker& w = *worker_;
    auto result = std::make_shared<std::optional<std::optional<std::string>>>();
    std::unique_lock lock(w.mutex);
    if (auto it = w.unsaved.find(key); it != w.unsaved.end()) return it->second.data;
    if (w.stalled) return std::nullopt;
    ++w.queued;
    lock.unlock();
    w.post([&w, key, result] {
        w.retry(false);
        auto value = w.lookup(key);
        {
            std::lock_guard guard(w.mutex);
            *result = std::move(value);
        }
        w.jobDone();
    });
    lock.lock();
    if (!w.changed.wait_for(lock, toDuration(waitSeconds_), [&] { return result->has_value(); })) {
        w.stalled = w.queued > 0;
        return std::nullopt;
    }
    return **result;
}

bool SecretServiceKeychain::write(const std::string& service, const std::string& account,
                                  std::optional<std::string> data) {
    const Key key{service, account};
    Worker& w = *worker_;
    std::unique_lock lock(w.mutex);
    const uint64_t generation = ++w.generation;
    w.unsaved[key] = {std::move(data), generation, false};
    const bool stalled = w.stalled;
    ++w.queued;
    lock.unlock();
    w.post([&w] {
        w.retry(true);
        w.flush();
        w.jobDone();
    });
    if (stalled) return false;
    lock.lock();
    const bool done = w.changed.wait_for(lock, toDuration(waitSeconds_), [&] {
        auto it = w.outcome.find(key);
        return it != w.outcome.end() && it->second.first >= generation;
    });
    if (!done) {
        w.stalled = w.queued > 0;
        return false;
    }
    return w.outcome[key].second;
}

bool SecretServiceKeychain::set(const std::string& service, const std::string& account, const std::string& data) {
    return write(service, account, data);
}

bool SecretServiceKeychain::remove(const std::string& service, const std::string& account) {
    return write(service, account, std::nullopt);
}

}  // namespace platform
