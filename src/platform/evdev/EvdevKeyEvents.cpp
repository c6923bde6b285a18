#include "platform/evdev/EvdevKeyEvents.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

struct Mapped {
    int code;
    std::uint64_t flag;  // 0: not a modifier
};

// Our stored codes for the kernel's key numbers; other keys carry the unnamed base plus the
// number the X server would give them (kernel number + 8), as on X11.
Mapped mapKey(int kernel) {
    switch (kernel) {
        case KEY_RIGHTCTRL: return {KeyCode::rightControl, KeyFlag::control};
        case KEY_LEFTCTRL: return {KeyCode::leftControl, KeyFlag::control};
        case KEY_RIGHTALT: return {KeyCode::rightOption, KeyFlag::option};
        case KEY_LEFTALT: return {KeyCode::leftOption, KeyFlag::option};
        case KEY_RIGHTMETA: return {KeyCode::rightCommand, KeyFlag::command};
        case KEY_LEFTMETA: return {KeyCode::leftCommand, KeyFlag::command};
        case KEY_LEFTSHIFT: return {KeyCode::leftShift, KeyFlag::shift};
        case KEY_RIGHTSHIFT: return {KeyCode::rightShift, KeyFlag::shift};
        case KEY_CAPSLOCK: return {KeyCode::capsLock, KeyFlag::capsLock};
        // The Menu key stands in for Fn on PC keyboards, as on X11.
        case KEY_COMPOSE:
        case KEY_FN: return {KeyCode::function, KeyFlag::function};
        case KEY_ESC: return {KeyCode::escape, 0};
        case KEY_V: return {KeyCode::v, 0};
        default: return {KeyCode::unnamedBase + kernel + 8, 0};
    }
}

bool testBit(const unsigned char* bits, int n) { return (bits[n / 8] >> (n % 8)) & 1; }

}  // namespace

EvdevKeyEvents::EvdevKeyEvents(std::string inputDir) : inputDir_(std::move(inputDir)) {}

EvdevKeyEvents::~EvdevKeyEvents() {
    hotplug_.reset();
    if (inotify_ >= 0) close(inotify_);
    for (auto& [fd, device] : devices_) {
        device.notifier.reset();
        close(fd);
    }
}

bool EvdevKeyEvents::isKeyboard(bool hasKeyEvents, const KeyBits& keys) {
    if (!hasKeyEvents) return false;
    for (int key : {KEY_Q, KEY_W, KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U, KEY_I, KEY_O, KEY_P, KEY_A, KEY_S, KEY_D,
                    KEY_F, KEY_G, KEY_H, KEY_J, KEY_K, KEY_L, KEY_Z, KEY_X, KEY_C, KEY_V, KEY_B, KEY_N, KEY_M})
        if (!keys.test(key)) return false;
    return true;
}

bool EvdevKeyEvents::start() {
    if (inotify_ < 0) {
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        // A node appears, then udev gives it its group: both are worth a look.
        if (inotify_ >= 0 && inotify_add_watch(inotify_, inputDir_.c_str(), IN_CREATE | IN_ATTRIB) >= 0) {
            hotplug_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
            QObject::connect(hotplug_.get(), &QSocketNotifier::activated, [this] {
                alignas(inotify_event) char buffer[4096];
                ssize_t n;
                while ((n = read(inotify_, buffer, sizeof buffer)) > 0) {
                    for (char* p = buffer; p < buffer + n;) {
                        auto* event = reinterpret_cast<inotify_event*>(p);
                        if (event->len && std::strncmp(event->name, "event", 5) == 0)
                            openDevice(inputDir_ + "/" + event->name);
                        p += sizeof(inotify_event) + event->len;
                    }
                }
            });
        }
    }
    if (DIR* dir = opendir(inputDir_.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::strncmp(entry->d_name, "event", 5) == 0) openDevice(inputDir_ + "/" + entry->d_name);
        closedir(dir);
    }
    return !devices_.empty();
}

void EvdevKeyEvents::openDevice(const std::string& path) {
    for (const auto& [fd, device] : devices_)
        if (device.path == path) return;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) accessDenied_ = true;
        return;
    }
    unsigned char types[(EV_MAX + 8) / 8] = {};
    unsigned char keys[kKeyBits / 8] = {};
    const bool read = ioctl(fd, EVIOCGBIT(0, sizeof types), types) >= 0 &&
                      ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) >= 0;
    KeyBits bits;
    for (int i = 0; read && i < kKeyBits; ++i) bits[i] = testBit(keys, i);
    if (!read || !isKeyboard(testBit(types, EV_KEY), bits)) {
        close(fd);
        return;
    }
    adopt(fd, path);
}

void EvdevKeyEvents::adopt(int fd, std::string path) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Device& device = devices_[fd];
    device.path = std::move(path);
    device.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(device.notifier.get(), &QSocketNotifier::activated, [this, fd] { readDevice(fd); });
}

void EvdevKeyEvents::readDevice(int fd) {
    input_event events[64];
    for (;;) {
        const ssize_t n = read(fd, events, sizeof events);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            // Unplugged (ENODEV) or closed: what it held is let go.
            dropDevice(fd);
            return;
        }
        for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(input_event); ++i)
            if (events[i].type == EV_KEY) key(fd, events[i].code, events[i].value);
    }
}

void EvdevKeyEvents::dropDevice(int fd) {
    auto found = devices_.find(fd);
    if (found == devices_.end()) return;
    const std::set<int> held = found->second.down;
    for (int code : held) key(fd, code, 0);
    // The notifier may be the caller: let the loop finish with it first.
    found->second.notifier.release()->deleteLater();
    devices_.erase(found);
    close(fd);
}

std::uint64_t EvdevKeyEvents::heldFlags() const {
    std::uint64_t flags = 0;
    for (const auto& [fd, device] : devices_)
        for (int code : device.down) flags |= mapKey(code).flag;
    return flags;
}

void EvdevKeyEvents::key(int fd, int code, int value) {
    auto& down = devices_[fd].down;
    const Mapped mapped = mapKey(code);
    if (value == 0) {
        if (!down.erase(code) || !mapped.flag) return;
        const FlagsChangedEvent event{mapped.code, heldFlags()};
        dispatch(&event, nullptr);
        return;
    }
    const bool repeat = value == 2 || down.count(code);
    if (!repeat && sessionActive && !sessionActive()) return;
    if (!repeat) down.insert(code);
    if (mapped.flag) {
        // A modifier held down changes no flags: its repeats are not reported.
        if (repeat) return;
        const FlagsChangedEvent event{mapped.code, heldFlags()};
        dispatch(&event, nullptr);
    } else if (!repeat || down.count(code)) {
        const KeyDownEvent event{mapped.code, repeat};
        dispatch(nullptr, &event);
    }
}

int EvdevKeyEvents::addFlagsChangedMonitor(KeyScope scope, FlagsHandler handler) {
    // The devices cannot tell which program has the focus: every key counts as going elsewhere.
    if (scope != KeyScope::global) return 0;
    monitors_[nextToken_] = {scope, std::move(handler), nullptr};
    return nextToken_++;
}

int EvdevKeyEvents::addKeyDownMonitor(KeyScope scope, KeyDownHandler handler) {
    if (scope != KeyScope::global) return 0;
    monitors_[nextToken_] = {scope, nullptr, std::move(handler)};
    return nextToken_++;
}

void EvdevKeyEvents::removeMonitor(int token) { monitors_.erase(token); }

void EvdevKeyEvents::dispatch(const FlagsChangedEvent* flags, const KeyDownEvent* keyDown) {
    // Handlers may add or remove monitors: call a copy.
    std::vector<Monitor> targets;
    for (const auto& [token, monitor] : monitors_) targets.push_back(monitor);
    for (const auto& monitor : targets) {
        if (flags && monitor.flags) monitor.flags(*flags);
        if (keyDown && monitor.keyDown) monitor.keyDown(*keyDown);
    }
}

}  // namespace platform
