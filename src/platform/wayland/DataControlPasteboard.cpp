#include "platform/wayland/DataControlPasteboard.h"

#include "platform/wayland/WaylandConnection.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

// The names plain text goes by, the preferred first.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};

}  // namespace

// One transfer of our content to a reader that asked for it: written as the pipe takes it.
struct DataControlPasteboard::Outgoing {
    int fd = -1;
    std::string bytes;
    size_t written = 0;
    std::unique_ptr<QSocketNotifier> notifier;
};

DataControlPasteboard::DataControlPasteboard(WaylandConnection& connection, double readLimit)
    : connection_(connection), readLimit_(std::chrono::milliseconds(static_cast<long>(readLimit * 1000))) {
    if (!connection_.ok() || !connection_.dataControlManager() || !connection_.seat()) return;
    // A reader that goes away mid-transfer must cost a failed write, not the program.
    struct sigaction old = {};
    if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);

    static const zwlr_data_control_device_v1_listener listener = {
        &DataControlPasteboard::onDataOffer, &DataControlPasteboard::onSelection, &DataControlPasteboard::onFinished,
        &DataControlPasteboard::onPrimarySelection};
    device_ = zwlr_data_control_manager_v1_get_data_device(connection_.dataControlManager(), connection_.seat());
    zwlr_data_control_device_v1_add_listener(device_, &listener, this);
    // The clipboard's content as it is now comes at once.
    connection_.roundtrip(std::chrono::steady_clock::now() + readLimit_);
}

DataControlPasteboard::~DataControlPasteboard() {
    for (auto& transfer : outgoing_) ::close(transfer->fd);
    for (auto& [offer, info] : offers_) zwlr_data_control_offer_v1_destroy(offer);
    for (auto& [source, items] : sources_) zwlr_data_control_source_v1_destroy(source);
    if (device_) zwlr_data_control_device_v1_destroy(device_);
    connection_.flush();
}

// ---- the compositor's events ----

void DataControlPasteboard::onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    static const zwlr_data_control_offer_v1_listener listener = {&DataControlPasteboard::onOfferType};
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->offers_[offer];
    zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void DataControlPasteboard::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (auto it = self->offers_.find(offer); it != self->offers_.end()) it->second.types.emplace_back(type);
}

void DataControlPasteboard::onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (self->selection_ && self->selection_ != offer) {
        self->offers_.erase(self->selection_);
        zwlr_data_control_offer_v1_destroy(self->selection_);
    }
    self->selection_ = offer;
    // While our content is the clipboard's, this is its own announcement; another client taking
    // over is told by the cancel of our source.
    if (!self->current_) ++self->count_;
}

void DataControlPasteboard::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                               zwlr_data_control_offer_v1* offer) {
    if (!offer) return;
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->offers_.erase(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

void DataControlPasteboard::onFinished(void* data, zwlr_data_control_device_v1* device) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    zwlr_data_control_device_v1_destroy(device);
    self->device_ = nullptr;
}

void DataControlPasteboard::onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int fd) {
    static_cast<DataControlPasteboard*>(data)->serve(source, type, fd);
}

void DataControlPasteboard::onCancelled(void* data, zwlr_data_control_source_v1* source) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (source == self->current_) {
        self->current_ = nullptr;
        ++self->count_;
    }
    self->sources_.erase(source);
    zwlr_data_control_source_v1_destroy(source);
}

// ---- serving our content ----

void DataControlPasteboard::serve(zwlr_data_control_source_v1* source, const char* type, int fd) {
    auto it = sources_.find(source);
    const PasteboardSnapshot* items = it == sources_.end() ? nullptr : it->second.get();
    auto transfer = std::make_unique<Outgoing>();
    transfer->fd = fd;
    if (items)
        for (const auto& [format, bytes] : items->items)
            if (format == type) transfer->bytes = bytes;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Outgoing* raw = transfer.get();
    outgoing_.push_back(std::move(transfer));
    finishOutgoing(raw);
}

// Writes what the pipe takes now; the rest when it has room again. Closes it when all is written
// or the reader has gone.
void DataControlPasteboard::finishOutgoing(Outgoing* transfer) {
    while (transfer->written < transfer->bytes.size()) {
        const ssize_t n = ::write(transfer->fd, transfer->bytes.data() + transfer->written,
                                  transfer->bytes.size() - transfer->written);
        if (n > 0) {
            transfer->written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (!transfer->notifier) {
                transfer->notifier = std::make_unique<QSocketNotifier>(transfer->fd, QSocketNotifier::Write);
                QObject::connect(transfer->notifier.get(), &QSocketNotifier::activated, transfer->notifier.get(),
                                 [this, transfer] { finishOutgoing(transfer); });
            }
            return;
        }
        break;  // the reader went away
    }
    ::close(transfer->fd);
    // The notifier may be the one calling: delete it once its signal has returned.
    if (transfer->notifier) {
        transfer->notifier->setEnabled(false);
        transfer->notifier.release()->deleteLater();
    }
    outgoing_.erase(std::remove_if(outgoing_.begin(), outgoing_.end(),
                                   [transfer](const auto& t) { return t.get() == transfer; }),
                    outgoing_.end());
}

void DataControlPasteboard::own(Items items) {
    if (!device_) return;
    static const zwlr_data_control_source_v1_listener listener = {&DataControlPasteboard::onSend,
                                                                  &DataControlPasteboard::onCancelled};
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(connection_.dataControlManager());
    zwlr_data_control_source_v1_add_listener(source, &listener, this);
    for (const auto& [format, bytes] : items->items) zwlr_data_control_source_v1_offer(source, format.c_str());
    zwlr_data_control_device_v1_set_selection(device_, source);
    connection_.flush();
    sources_[source] = std::move(items);
    current_ = source;
    ++count_;
}

// ---- the Pasteboard interface ----

std::int64_t DataControlPasteboard::changeCount() const {
    connection_.dispatchArrived();
    return count_;
}

void DataControlPasteboard::clear() {
    if (!device_) return;
    zwlr_data_control_device_v1_set_selection(device_, nullptr);
    connection_.flush();
    current_ = nullptr;
    ++count_;
}

void DataControlPasteboard::setString(const std::string& text) {
    auto items = std::make_shared<PasteboardSnapshot>();
    for (const char* type : kTextTypes) items->items.emplace_back(type, text);
    own(std::move(items));
}

void DataControlPasteboard::restore(const PasteboardSnapshot& snapshot) {
    if (snapshot.empty()) {
        clear();
        return;
    }
    own(std::make_shared<PasteboardSnapshot>(snapshot));
}

std::optional<std::string> DataControlPasteboard::string() const {
    const PasteboardSnapshot all = snapshot();
    for (const char* type : kTextTypes)
        for (const auto& [format, bytes] : all.items)
            if (format == type) return bytes;
    return std::nullopt;
}

PasteboardSnapshot DataControlPasteboard::snapshot() const {
    if (!device_) return {};
    // What the compositor announced up to now, our own content included.
    const auto deadline = std::chrono::steady_clock::now() + readLimit_;
    connection_.roundtrip(deadline);
    if (current_) {
        auto it = sources_.find(current_);
        return it == sources_.end() ? PasteboardSnapshot{} : *it->second;
    }
    if (!selection_) return {};
    auto it = offers_.find(selection_);
    if (it == offers_.end()) return {};
    return receive(it->second.types, deadline);
}

PasteboardSnapshot DataControlPasteboard::receive(const std::vector<std::string>& types, Deadline deadline) const {
    struct Incoming {
        std::string type;
        int fd = -1;
        std::string bytes;
        bool done = false;
    };
    // Every type is asked for at once, so that one slow answer does not hold up the others.
    std::vector<Incoming> incoming;
    for (const std::string& type : types) {
        if (std::any_of(incoming.begin(), incoming.end(), [&](const Incoming& i) { return i.type == type; })) continue;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) continue;
        zwlr_data_control_offer_v1_receive(selection_, type.c_str(), fds[1]);
        ::close(fds[1]);  // the request carries a copy of it
        incoming.push_back({type, fds[0], {}, false});
    }
    connection_.flush();

    std::vector<pollfd> waiting;
    for (;;) {
        waiting.clear();
        for (const Incoming& i : incoming)
            if (!i.done) waiting.push_back({i.fd, POLLIN, 0});
        if (waiting.empty()) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const int ready = poll(waiting.data(), waiting.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) break;
        for (const pollfd& p : waiting) {
            if (!p.revents) continue;
            auto i = std::find_if(incoming.begin(), incoming.end(), [&](const Incoming& x) { return x.fd == p.fd; });
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::read(i->fd, buffer, sizeof buffer);
                if (n > 0) {
                    i->bytes.append(buffer, static_cast<size_t>(n));
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n == 0 || errno != EAGAIN) i->done = true;  // the end, or a broken pipe
                break;
            }
        }
    }

    PasteboardSnapshot out;
    for (Incoming& i : incoming) {
        ::close(i.fd);
        // A type that did not come whole in time is left out rather than kept cut short.
        if (i.done) out.items.emplace_back(std::move(i.type), std::move(i.bytes));
    }
    return out;
}

}  // namespace platform
