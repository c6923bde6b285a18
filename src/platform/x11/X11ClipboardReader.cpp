#include "platform/x11/X11ClipboardReader.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// A protocol error on a reader's own connection (an owner may list atoms that do not exist) is
// ignored; any other goes to the handler that was there before.
std::mutex g_readersMutex;
std::set<Display*> g_readers;
int (*g_chained)(Display*, XErrorEvent*) = nullptr;

int readerErrorHandler(Display* display, XErrorEvent* error) {
    {
        std::lock_guard lock(g_readersMutex);
        if (g_readers.count(display)) return 0;
    }
    return g_chained ? g_chained(display, error) : 0;
}

// One format asked of the owner: where its data arrives and what has come so far.
struct Request {
    std::string format;  // the MIME type it is kept under
    Atom target = None;
    Atom property = None;
    bool incremental = false;  // sent in chunks (the INCR protocol)
    bool done = false;
    bool ok = false;
    std::string bytes;
};

std::string atomName(Display* d, Atom atom) {
    char* name = XGetAtomName(d, atom);
    if (!name) return {};
    std::string out(name);
    XFree(name);
    return out;
}

std::string latin1ToUtf8(const std::string& in) {
    std::string out;
    for (unsigned char c : in) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Takes (and deletes) the property; false when it is absent. Items of 16 and 32 bits come as
// Xlib's short and long arrays and are packed to their real width.
bool takeProperty(Display* d, Window w, Atom property, Atom& type, std::string& bytes, std::vector<Atom>* atoms = nullptr) {
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, LONG_MAX / 4, True, AnyPropertyType, &type, &format, &items, &after,
                           &data) != Success)
        return false;
    bytes.clear();
    if (data) {
        if (format == 8) {
            bytes.assign(reinterpret_cast<const char*>(data), items);
        } else if (format == 32) {
            const auto* longs = reinterpret_cast<const long*>(data);
            for (unsigned long i = 0; i < items; ++i) {
                if (atoms) atoms->push_back(static_cast<Atom>(longs[i]));
                const auto v = static_cast<std::uint32_t>(longs[i]);
                bytes.append(reinterpret_cast<const char*>(&v), 4);
            }
        } else if (format == 16) {
            const auto* shorts = reinterpret_cast<const short*>(data);
            for (unsigned long i = 0; i < items; ++i) bytes.append(reinterpret_cast<const char*>(&shorts[i]), 2);
        }
        XFree(data);
    }
    return type != None;
}

// Waits for the next event until the deadline; false when the deadline passed first.
bool nextEvent(Display* d, Clock::time_point deadline, XEvent& event) {
    while (!XPending(d)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd fd{ConnectionNumber(d), POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) < 0) return false;
    }
    XNextEvent(d, &event);
    return true;
}

}  // namespace

void X11ClipboardReader::prepare() {
    static std::once_flag once;
    std::call_once(once, [] { g_chained = XSetErrorHandler(readerErrorHandler); });
}

PasteboardSnapshot X11ClipboardReader::read(const std::string& displayName, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    PasteboardSnapshot out;
    Display* d = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!d) return out;
    prepare();
    {
        std::lock_guard lock(g_readersMutex);
        g_readers.insert(d);
    }
    const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
    const Atom targetsAtom = XInternAtom(d, "TARGETS", False);
    const Atom incrAtom = XInternAtom(d, "INCR", False);
    const Atom utf8Atom = XInternAtom(d, "UTF8_STRING", False);
    auto close = [d] {
        {
            std::lock_guard lock(g_readersMutex);
            g_readers.erase(d);
        }
        XCloseDisplay(d);
    };
    if (XGetSelectionOwner(d, clipboard) == None) {
        close();
        return out;
    }
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(d, w, PropertyChangeMask);

    // What the owner offers.
    std::vector<Atom> offered;
    {
        const Atom property = XInternAtom(d, "TOVRIN_CLIPBOARD_TARGETS", False);
        XConvertSelection(d, clipboard, targetsAtom, property, w, CurrentTime);
        XFlush(d);
        XEvent event;
        while (nextEvent(d, deadline, event)) {
            if (event.type != SelectionNotify || event.xselection.selection != clipboard ||
                event.xselection.target != targetsAtom)
                continue;
            Atom type = None;
            std::string bytes;
            if (event.xselection.property != None) takeProperty(d, w, property, type, bytes, &offered);
            break;
        }
    }

    // The formats worth keeping: MIME types (not the X bookkeeping targets), and the plain text
    // under its MIME name when the owner names it only the X way.
    std::vector<Request> requests;
    bool hasPlain = false;
    Atom plainSource = None;
    // An owner may list any number of formats, each named by a round trip: the deadline and a
    // bound on their number hold for this part too.
    constexpr std::size_t kMostFormats = 64;
    std::vector<Atom> seen;
    for (Atom target : offered) {
        if (Clock::now() >= deadline || requests.size() >= kMostFormats) break;
        if (std::find(seen.begin(), seen.end(), target) != seen.end()) continue;
        seen.push_back(target);
        const std::string name = atomName(d, target);
        if (name.empty()) continue;
        if (name.find('/') != std::string::npos) {
            if (name == "application/x-qt-image") continue;
            if (name == "text/plain") hasPlain = true;
            Request r;
            r.format = name;
            r.target = target;
            requests.push_back(std::move(r));
        } else if (name == "UTF8_STRING" || (name == "STRING" && plainSource == None)) {
            if (plainSource != utf8Atom) plainSource = target;
        }
    }
    if (!hasPlain && plainSource != None) {
        Request r;
        r.format = "text/plain";
        r.target = plainSource;
        requests.insert(requests.begin(), std::move(r));
    }

    // Every format at once, each into a property of its own.
    for (std::size_t i = 0; i < requests.size(); ++i) {
        requests[i].property = XInternAtom(d, ("TOVRIN_CLIPBOARD_" + std::to_string(i)).c_str(), False);
        XConvertSelection(d, clipboard, requests[i].target, requests[i].property, w, CurrentTime);
    }
    XFlush(d);
    std::size_t open = requests.size();
    XEvent event;
    while (open > 0 && nextEvent(d, deadline, event)) {
        if (event.type == SelectionNotify && event.xselection.selection == clipboard) {
            for (auto& r : requests) {
                if (r.done || r.incremental || r.target != event.xselection.target) continue;
                if (event.xselection.property == None) {
                    r.done = true;  // refused
                    --open;
                    break;
                }
                if (event.xselection.property != r.property) continue;
                Atom type = None;
                std::string bytes;
                if (!takeProperty(d, w, r.property, type, bytes)) {
                    r.done = true;
                    --open;
                } else if (type == incrAtom) {
                    r.incremental = true;  // the delete just made asks for the first chunk
                } else {
                    r.bytes = std::move(bytes);
                    r.ok = r.done = true;
                    --open;
                }
                break;
            }
        } else if (event.type == PropertyNotify && event.xproperty.state == PropertyNewValue) {
            for (auto& r : requests) {
                if (r.done || !r.incremental || r.property != event.xproperty.atom) continue;
                Atom type = None;
                std::string chunk;
                if (!takeProperty(d, w, r.property, type, chunk)) break;
                if (chunk.empty()) {
                    r.ok = r.done = true;  // the empty chunk ends the transfer
                    --open;
                } else {
                    r.bytes += chunk;
                }
                break;
            }
        }
    }

    for (auto& r : requests) {
        if (!r.ok) continue;
        if (r.format == "text/plain" && r.target != utf8Atom && atomName(d, r.target) == "STRING")
            r.bytes = latin1ToUtf8(r.bytes);
        out.items.emplace_back(std::move(r.format), std::move(r.bytes));
    }
    XDestroyWindow(d, w);
    XSync(d, False);
    close();
    return out;
}

}  // namespace platform
