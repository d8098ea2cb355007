#include "platform/linux/wayland/DataControlClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <string_view>

#include "base/Error.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace zarn::wl {

namespace {

// A clipboard owner that sends more than this, or stalls longer, is not waited for.
constexpr std::size_t kMaxBytes = 64 << 20;
constexpr int kStallMs = 1000;

}  // namespace

struct DataControlClipboard::State {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_device_v1* device = nullptr;
    // Offers announced but not yet made the selection, with their types.
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers;
    zwlr_data_control_offer_v1* selection = nullptr;
    std::vector<std::string> selectionTypes;
    zwlr_data_control_source_v1* source = nullptr;  // ours, while it is the selection
    inject::PasteboardItem sourceItem;
    std::atomic<std::int64_t> changes{0};
    bool connected = true;
    bool handedOver = false;  // the connection is the background copy's now: send nothing

    ~State() {
        if (handedOver) {
            // Freed here only: a destroy request would reach the compositor for the copy too.
            for (void* proxy : std::initializer_list<void*>{selection, source, device, manager, seat, registry}) {
                if (proxy) wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
            }
            for (auto& [offer, types] : offers) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(offer));
            wl_display_disconnect(display);
            return;
        }
        for (auto& [offer, types] : offers) zwlr_data_control_offer_v1_destroy(offer);
        if (selection) zwlr_data_control_offer_v1_destroy(selection);
        if (source) zwlr_data_control_source_v1_destroy(source);
        if (device) zwlr_data_control_device_v1_destroy(device);
        if (manager) zwlr_data_control_manager_v1_destroy(manager);
        if (seat) wl_seat_destroy(seat);
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
    }

    void roundtrip() {
        if (connected && wl_display_roundtrip(display) < 0) connected = false;
    }

    // Reads one type of the current selection; nullopt when the owner does not deliver.
    std::optional<std::string> receive(const std::string& type) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
        zwlr_data_control_offer_v1_receive(selection, type.c_str(), fds[1]);
        close(fds[1]);
        wl_display_flush(display);
        std::string bytes;
        char chunk[65536];
        while (true) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, kStallMs) <= 0) break;
            ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n == 0) {
                close(fds[0]);
                return bytes;
            }
            if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > kMaxBytes) break;
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        close(fds[0]);
        return std::nullopt;
    }

    void offer(const inject::PasteboardItem& item) {
        if (source) zwlr_data_control_source_v1_destroy(source);
        source = nullptr;
        sourceItem = item;
        if (item.empty()) {
            zwlr_data_control_device_v1_set_selection(device, nullptr);
        } else {
            source = zwlr_data_control_manager_v1_create_data_source(manager);
            zwlr_data_control_source_v1_add_listener(source, &sourceListener, this);
            for (const auto& data : item) zwlr_data_control_source_v1_offer(source, data.type.c_str());
            zwlr_data_control_device_v1_set_selection(device, source);
        }
        // The selection event for our own source comes back before this returns.
        roundtrip();
    }

    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd) {
        auto* s = static_cast<State*>(data);
        if (source == s->source) {
            for (const auto& item : s->sourceItem) {
                if (item.type != type) continue;
                std::string_view rest = item.bytes;
                while (!rest.empty()) {
                    ssize_t n = write(fd, rest.data(), rest.size());
                    if (n <= 0) break;
                    rest.remove_prefix(static_cast<std::size_t>(n));
                }
                break;
            }
        }
        close(fd);
    }
    static void onCancelled(void* data, zwlr_data_control_source_v1* source) {
        auto* s = static_cast<State*>(data);
        if (source == s->source) s->source = nullptr;
        zwlr_data_control_source_v1_destroy(source);
    }
    static constexpr zwlr_data_control_source_v1_listener sourceListener = {onSend, onCancelled};

    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
        auto* s = static_cast<State*>(data);
        auto found = s->offers.find(offer);
        if (found != s->offers.end()) found->second.emplace_back(type);
    }
    static constexpr zwlr_data_control_offer_v1_listener offerListener = {onOfferType};

    static void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        auto* s = static_cast<State*>(data);
        s->offers[offer] = {};
        zwlr_data_control_offer_v1_add_listener(offer, &offerListener, s);
    }
    static void onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        auto* s = static_cast<State*>(data);
        if (s->selection) zwlr_data_control_offer_v1_destroy(s->selection);
        s->selection = offer;
        s->selectionTypes.clear();
        if (auto found = s->offers.find(offer); found != s->offers.end()) {
            s->selectionTypes = std::move(found->second);
            s->offers.erase(found);
        }
        s->changes.fetch_add(1);
    }
    static void onFinished(void* data, zwlr_data_control_device_v1*) { static_cast<State*>(data)->connected = false; }
    static constexpr zwlr_data_control_device_v1_listener deviceListener = {onDataOffer, onSelection, onFinished};

    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
        auto* s = static_cast<State*>(data);
        std::string_view which(interface);
        if (which == wl_seat_interface.name && !s->seat) {
            s->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (which == zwlr_data_control_manager_v1_interface.name && !s->manager) {
            s->manager = static_cast<zwlr_data_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
        }
    }
    static void onGlobalRemove(void*, wl_registry*, uint32_t) {}
    static constexpr wl_registry_listener registryListener = {onGlobal, onGlobalRemove};
};

DataControlClipboard::DataControlClipboard() : state_(std::make_unique<State>()) {
    auto& s = *state_;
    s.display = wl_display_connect(nullptr);
    if (!s.display) throw MessageError("cannot connect to the Wayland display");
    s.registry = wl_display_get_registry(s.display);
    wl_registry_add_listener(s.registry, &State::registryListener, &s);
    s.roundtrip();
    if (!s.manager || !s.seat) throw MessageError("the Wayland compositor offers no data-control clipboard");
    s.device = zwlr_data_control_manager_v1_get_data_device(s.manager, s.seat);
    zwlr_data_control_device_v1_add_listener(s.device, &State::deviceListener, &s);
    s.roundtrip();  // the current selection
    // A reader that goes away mid-transfer must not end the process.
    signal(SIGPIPE, SIG_IGN);
    serving_.emplace([this](int wakeFd) { serve(wakeFd); });
}

DataControlClipboard::~DataControlClipboard() { serving_.reset(); }

bool DataControlClipboard::handOver() {
    serving_->stop();
    auto& s = *state_;
    if (!s.source || !s.connected) return true;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        setsid();
        // Until another client copies (our source is cancelled) or the compositor goes away.
        while (s.source && wl_display_dispatch(s.display) >= 0) {
        }
        _exit(0);
    }
    s.handedOver = true;
    return true;
}

void DataControlClipboard::serve(int wakeFd) {
    auto& s = *state_;
    bool reading = false;
    if (s.connected) {
        while (wl_display_prepare_read(s.display) != 0) wl_display_dispatch_pending(s.display);
        wl_display_flush(s.display);
        reading = true;
    }
    pollfd p[2] = {{wakeFd, POLLIN, 0}, {reading ? wl_display_get_fd(s.display) : -1, POLLIN, 0}};
    poll(p, 2, -1);
    if (reading) {
        if (p[1].revents & POLLIN) {
            if (wl_display_read_events(s.display) < 0) s.connected = false;
        } else {
            wl_display_cancel_read(s.display);
        }
        if (p[1].revents & (POLLERR | POLLHUP)) s.connected = false;
        if (s.connected && wl_display_dispatch_pending(s.display) < 0) s.connected = false;
    }
}

void DataControlClipboard::call(const std::function<void()>& command) { serving_->call(command); }

std::optional<inject::PasteboardSnapshot> DataControlClipboard::items() {
    std::optional<inject::PasteboardSnapshot> result;
    call([&] {
        auto& s = *state_;
        if (s.source) {
            result = inject::PasteboardSnapshot{s.sourceItem};
            return;
        }
        if (!s.selection) return;
        inject::PasteboardItem item;
        for (const auto& type : s.selectionTypes) {
            if (auto bytes = s.receive(type)) item.push_back({type, std::move(*bytes)});
        }
        result = inject::PasteboardSnapshot{std::move(item)};
    });
    return result;
}

void DataControlClipboard::clearContents() {
    call([this] { state_->offer({}); });
}

void DataControlClipboard::setString(const std::string& text) {
    inject::PasteboardItem item;
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT"}) item.push_back({type, text});
    // STRING is Latin-1: only ASCII text means the same under it.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        item.push_back({"STRING", text});
    }
    call([this, &item] { state_->offer(item); });
}

void DataControlClipboard::writeItems(const inject::PasteboardSnapshot& items) {
    inject::PasteboardItem merged;
    for (const auto& item : items) {
        for (const auto& data : item) {
            bool known = std::any_of(merged.begin(), merged.end(), [&](const auto& m) { return m.type == data.type; });
            if (!known) merged.push_back(data);
        }
    }
    call([this, &merged] { state_->offer(merged); });
}

std::int64_t DataControlClipboard::changeCount() {
    // Changes by others arrive as events: take in what is pending first.
    call([this] { state_->roundtrip(); });
    return state_->changes.load();
}

}  // namespace zarn::wl
