#include "platform/linux/canberra/CanberraSoundPlayer.h"

#include <canberra.h>

#include <atomic>

#include "base/Log.h"

namespace zarn::canberra {

struct CanberraSoundPlayer::State {
    ca_context* context = nullptr;
    std::atomic<bool> reported{false};

    // Called from our executor and from libcanberra's own thread (the finish callback).
    void failed(int code) {
        if (reported.exchange(true)) return;
        Log::app().info("sounds unavailable: %{public}s", ca_strerror(code));
    }

    void close() {
        if (context) ca_context_destroy(context);
        context = nullptr;
    }

    bool open() {
        if (context) return true;
        int rc = ca_context_create(&context);
        // The sound server is the one the microphone uses (PulseAudio, or PipeWire's
        // PulseAudio service); going straight to a sound card would fight it for the device.
        if (rc == CA_SUCCESS) rc = ca_context_set_driver(context, "pulse");
        if (rc == CA_SUCCESS) {
            ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Zarn", CA_PROP_APPLICATION_ID,
                                    "dev.zarn.Zarn", nullptr);
            rc = ca_context_open(context);
        }
        if (rc != CA_SUCCESS) {
            failed(rc);
            close();
            return false;
        }
        return true;
    }

    static void finished(ca_context*, std::uint32_t, int code, void* self) {
        if (code != CA_SUCCESS && code != CA_ERROR_CANCELED && code != CA_ERROR_DESTROYED) {
            static_cast<State*>(self)->failed(code);
        }
    }

    void play(const std::string& event) {
        if (!open()) return;
        ca_proplist* props = nullptr;
        if (ca_proplist_create(&props) != CA_SUCCESS) return;
        ca_proplist_sets(props, CA_PROP_EVENT_ID, event.c_str());
        ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
        int rc = ca_context_play_full(context, 0, props, &State::finished, this);
        ca_proplist_destroy(props);
        if (rc == CA_SUCCESS || rc == CA_ERROR_NOTFOUND) return;
        failed(rc);
        // The server may have gone; the next sound opens a fresh connection.
        close();
    }
};

CanberraSoundPlayer::CanberraSoundPlayer() : state_(std::make_unique<State>()) {}

CanberraSoundPlayer::~CanberraSoundPlayer() {
    // Destroying the context ends its callbacks before the state goes.
    executor_.post([state = state_.get()] { state->close(); });
}

void CanberraSoundPlayer::play(const std::string& name) {
    executor_.post([state = state_.get(), event = eventFor(name)] { state->play(event); });
}

std::string CanberraSoundPlayer::eventFor(const std::string& name) {
    // Both are short and quiet: a tick when listening starts, a soft chime when the text is in.
    if (name == "Tink") return "audio-volume-change";
    if (name == "Pop") return "message";
    return name;
}

}  // namespace zarn::canberra
