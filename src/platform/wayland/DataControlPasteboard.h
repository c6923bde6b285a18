// The clipboard through zwlr_data_control_manager_v1 (wlroots compositors, KWin): read and set
// without the keyboard focus, which a program in the background never has on Wayland.
//
// What we put on the clipboard is served from memory for as long as it is the clipboard's
// content. Reading another client's content waits on that client, so every read is bounded by
// one deadline: a client that does not answer in time costs that time once and its formats are
// left out.
#pragma once

#include "platform/Pasteboard.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;
class QSocketNotifier;

namespace platform {

class WaylandConnection;

class DataControlPasteboard : public Pasteboard {
public:
    // `readLimit`: the most a snapshot() or string() waits for the clipboard's owner, in seconds.
    explicit DataControlPasteboard(WaylandConnection& connection, double readLimit = 0.3);
    ~DataControlPasteboard() override;
    DataControlPasteboard(const DataControlPasteboard&) = delete;
    DataControlPasteboard& operator=(const DataControlPasteboard&) = delete;

    bool ok() const { return device_ != nullptr; }

    // Counts our own changes when they are made, and another client's once its announcement is
    // read (those that have arrived are read first).
    std::int64_t changeCount() const override;
    void clear() override;
    void setString(const std::string& text) override;
    std::optional<std::string> string() const override;
    // Every MIME type the clipboard offers, with its bytes.
    PasteboardSnapshot snapshot() const override;
    void restore(const PasteboardSnapshot& snapshot) override;

private:
    using Items = std::shared_ptr<const PasteboardSnapshot>;
    struct Offer {
        std::vector<std::string> types;
    };
    struct Outgoing;

    // Makes `items` the clipboard's content, served by us.
    void own(Items items);
    using Deadline = std::chrono::steady_clock::time_point;
    // The bytes of each of `types` from the current offer, those that came whole by `deadline`.
    PasteboardSnapshot receive(const std::vector<std::string>& types, Deadline deadline) const;
    void serve(zwlr_data_control_source_v1* source, const char* type, int fd);
    void finishOutgoing(Outgoing* transfer);

    static void onDataOffer(void* data, zwlr_data_control_device_v1* device, zwlr_data_control_offer_v1* offer);
    static void onSelection(void* data, zwlr_data_control_device_v1* device, zwlr_data_control_offer_v1* offer);
    static void onFinished(void* data, zwlr_data_control_device_v1* device);
    static void onPrimarySelection(void* data, zwlr_data_control_device_v1* device, zwlr_data_control_offer_v1* offer);
    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type);
    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int fd);
    static void onCancelled(void* data, zwlr_data_control_source_v1* source);

    WaylandConnection& connection_;
    std::chrono::milliseconds readLimit_;
    zwlr_data_control_device_v1* device_ = nullptr;
    // Offers being announced and the clipboard's current one (null: empty clipboard).
    std::map<zwlr_data_control_offer_v1*, Offer> offers_;
    zwlr_data_control_offer_v1* selection_ = nullptr;
    // Our sources still alive (until the compositor cancels them) with what each serves, and the
    // one that is the clipboard's content (null when another client's or nobody's is).
    std::map<zwlr_data_control_source_v1*, Items> sources_;
    zwlr_data_control_source_v1* current_ = nullptr;
    std::vector<std::unique_ptr<Outgoing>> outgoing_;
    mutable std::int64_t count_ = 0;
};

}  // namespace platform
