#include "platform/linux/pulse/PulseAudioInput.h"

#include <pulse/pulseaudio.h>

#include <cstring>

#include "base/Error.h"

namespace zarn {

namespace {

[[noreturn]] void fail(const std::string& what, pa_context* context) {
    const int code = context ? pa_context_errno(context) : PA_ERR_UNKNOWN;
    throw MessageError("Can't use the microphone: " + what + " (" + pa_strerror(code) + ").");
}

AudioFormat formatOf(const pa_sample_spec& spec) {
    AudioFormat format;
    format.sampleRate = spec.rate;
    format.channels = spec.channels;
    format.sampleType = spec.format == PA_SAMPLE_S16LE   ? SampleType::int16
                        : spec.format == PA_SAMPLE_S32LE ? SampleType::int32
                                                         : SampleType::float32;
    format.interleaved = spec.channels > 1;
    return format;
}

}  // namespace

// Static trampolines for libpulse's C callbacks; `userdata` is the input.
struct PulseAudioInput::Callbacks {
    static void contextState(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseAudioInput*>(userdata);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
            if (self->running_) {
                self->endLocked(std::make_exception_ptr(
                    MessageError(std::string("The audio server went away (") + pa_strerror(pa_context_errno(context)) + ").")));
            }
        }
        pa_threaded_mainloop_signal(self->mainloop_, 0);
    }
    static void streamState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseAudioInput*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && self->running_ && stream == self->stream_) {
            self->endLocked(std::make_exception_ptr(MessageError("The microphone stopped delivering audio.")));
        }
        pa_threaded_mainloop_signal(self->mainloop_, 0);
    }
    static void streamRead(pa_stream*, std::size_t, void* userdata) { static_cast<PulseAudioInput*>(userdata)->readLocked(); }
    static void serverInfo(pa_context*, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseAudioInput*>(userdata);
        self->sourceName_ = info && info->default_source_name ? info->default_source_name : "";
        pa_threaded_mainloop_signal(self->mainloop_, 0);
    }
    static void sourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
        auto* self = static_cast<PulseAudioInput*>(userdata);
        if (info && eol == 0) {
            self->spec_ = info->sample_spec;
            self->haveSpec_ = true;
        }
        if (eol != 0) pa_threaded_mainloop_signal(self->mainloop_, 0);
    }
};

PulseAudioInput::PulseAudioInput() : PulseAudioInput(Options{}) {}
PulseAudioInput::PulseAudioInput(Options options) : options_(std::move(options)) {}

PulseAudioInput::~PulseAudioInput() {
    stop();
    if (!mainloop_) return;
    lock();
    disconnectLocked();
    unlock();
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

void PulseAudioInput::lock() {
    if (!pa_threaded_mainloop_in_thread(mainloop_)) pa_threaded_mainloop_lock(mainloop_);
}
void PulseAudioInput::unlock() {
    if (!pa_threaded_mainloop_in_thread(mainloop_)) pa_threaded_mainloop_unlock(mainloop_);
}

void PulseAudioInput::connectLocked() {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return;
    disconnectLocked();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), options_.applicationName.c_str());
    if (!context_) fail("cannot make an audio server connection", nullptr);
    pa_context_set_state_callback(context_, &Callbacks::contextState, this);
    if (pa_context_connect(context_, options_.server.empty() ? nullptr : options_.server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                           nullptr) < 0) {
        fail("cannot connect to the audio server", context_);
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) return;
        if (!PA_CONTEXT_IS_GOOD(state)) fail("cannot connect to the audio server", context_);
        pa_threaded_mainloop_wait(mainloop_);
    }
}

void PulseAudioInput::disconnectLocked() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

std::string PulseAudioInput::sourceNameLocked() {
    if (!options_.source.empty()) return options_.source;
    sourceName_.clear();
    pa_operation* op = pa_context_get_server_info(context_, &Callbacks::serverInfo, this);
    if (!op) fail("cannot ask the audio server for its default microphone", context_);
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(mainloop_);
    pa_operation_unref(op);
    if (sourceName_.empty()) throw MessageError("Can't use the microphone: the audio server has no default microphone.");
    return sourceName_;
}

AudioFormat PulseAudioInput::nativeFormat() {
    if (!mainloop_) {
        mainloop_ = pa_threaded_mainloop_new();
        if (!mainloop_ || pa_threaded_mainloop_start(mainloop_) < 0) fail("cannot start the audio thread", nullptr);
    }
    lock();
    try {
        connectLocked();
        const std::string source = sourceNameLocked();
        haveSpec_ = false;
        pa_operation* op = pa_context_get_source_info_by_name(context_, source.c_str(), &Callbacks::sourceInfo, this);
        if (!op) fail("cannot ask about the microphone " + source, context_);
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(mainloop_);
        pa_operation_unref(op);
        if (!haveSpec_) throw MessageError("Can't use the microphone: no source named " + source + ".");
        sourceName_ = source;
        if (spec_.format != PA_SAMPLE_S16LE && spec_.format != PA_SAMPLE_S32LE && spec_.format != PA_SAMPLE_FLOAT32LE) {
            spec_.format = PA_SAMPLE_FLOAT32LE;  // the server converts
        }
    } catch (...) {
        unlock();
        throw;
    }
    unlock();
    return formatOf(spec_);
}

void PulseAudioInput::start(OnTap onTap, OnEnd onEnd) {
    stop();
    if (!haveSpec_ || !context_) nativeFormat();
    lock();
    try {
        connectLocked();
        const AudioFormat format = formatOf(spec_);
        tap_ = std::make_unique<AudioBuffer>(format, tapFrames);
        tapBytes_ = 0;
        onTap_ = std::move(onTap);
        onEnd_ = std::move(onEnd);
        stream_ = pa_stream_new(context_, "Dictation", &spec_, nullptr);
        if (!stream_) fail("cannot make a recording stream", context_);
        pa_stream_set_state_callback(stream_, &Callbacks::streamState, this);
        pa_stream_set_read_callback(stream_, &Callbacks::streamRead, this);
        pa_buffer_attr attr;
        std::memset(&attr, 0xff, sizeof attr);  // -1 everywhere: the server's choice
        attr.fragsize = static_cast<std::uint32_t>(pa_frame_size(&spec_) * tapFrames);
        if (pa_stream_connect_record(stream_, sourceName_.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
            fail("cannot record from " + sourceName_, context_);
        }
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(state)) fail("cannot record from " + sourceName_, context_);
            pa_threaded_mainloop_wait(mainloop_);
        }
        running_ = true;
    } catch (...) {
        releaseStreamLocked();
        unlock();
        throw;
    }
    unlock();
}

void PulseAudioInput::stop() {
    if (!mainloop_) return;
    // With the event thread's lock held no callback is running, and after the stream is
    // gone none will run.
    lock();
    running_ = false;
    releaseStreamLocked();
    unlock();
}

void PulseAudioInput::releaseStreamLocked() {
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    onTap_ = nullptr;
    onEnd_ = nullptr;
}

void PulseAudioInput::readLocked() {
    if (!stream_ || !running_) return;
    const std::size_t frameBytes = pa_frame_size(&spec_);
    const std::size_t tapCapacity = frameBytes * tapFrames;
    while (running_ && pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) break;
        std::size_t offset = 0;
        while (offset < bytes && running_) {
            const std::size_t n = std::min(bytes - offset, tapCapacity - tapBytes_);
            auto* target = static_cast<unsigned char*>(tap_->data(0)) + tapBytes_;
            if (data) {
                std::memcpy(target, static_cast<const unsigned char*>(data) + offset, n);
            } else {
                std::memset(target, 0, n);  // a hole in the recording: silence
            }
            tapBytes_ += n;
            offset += n;
            if (tapBytes_ == tapCapacity) {
                tap_->setFrameLength(tapFrames);
                if (onTap_) onTap_(*tap_);
                tapBytes_ = 0;
            }
        }
        if (stream_) pa_stream_drop(stream_);
    }
}

void PulseAudioInput::endLocked(std::exception_ptr error) {
    running_ = false;
    auto onEnd = std::move(onEnd_);
    onEnd_ = nullptr;
    if (onEnd) onEnd(error);
}

bool PulseAudioInput::probe(const std::string& server, std::string* error) {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Zarn probe");
    bool ready = false;
    if (context && pa_context_connect(context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                ready = true;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) break;
            if (pa_mainloop_iterate(loop, 1, nullptr) < 0) break;
        }
    }
    if (!ready && error) *error = pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN);
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return ready;
}

std::optional<PulseAudioInput::InputSources> PulseAudioInput::inputSources(const std::string& server,
                                                                          std::chrono::milliseconds timeout) {
    struct Search {
        InputSources found;
        int pending = 2;  // the server's description and the source list
    } search;
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Zarn");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool asked = false;
    if (context && pa_context_connect(context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (search.pending > 0 && std::chrono::steady_clock::now() < deadline) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state)) break;
            if (state == PA_CONTEXT_READY && !asked) {
                asked = true;
                pa_operation* serverInfo = pa_context_get_server_info(
                    context,
                    [](pa_context*, const pa_server_info* info, void* data) {
                        auto* search = static_cast<Search*>(data);
                        if (info) {
                            search->found.server = std::string(info->server_name ? info->server_name : "?") + " " +
                                                   (info->server_version ? info->server_version : "");
                        }
                        --search->pending;
                    },
                    &search);
                pa_operation* sources = pa_context_get_source_info_list(
                    context,
                    [](pa_context*, const pa_source_info* info, int eol, void* data) {
                        auto* search = static_cast<Search*>(data);
                        if (eol != 0) {
                            --search->pending;
                        } else if (info && info->monitor_of_sink == PA_INVALID_INDEX) {
                            search->found.sources.push_back(info->description ? info->description : info->name);
                        }
                    },
                    &search);
                if (serverInfo) pa_operation_unref(serverInfo);
                if (sources) pa_operation_unref(sources);
                if (!serverInfo || !sources) break;
            }
            // Bounded waits, so a server that stops answering cannot hold the caller past the deadline.
            pa_mainloop_prepare(loop, 50'000);
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (search.pending > 0) return std::nullopt;
    return std::move(search.found);
}

bool PulseAudioInput::hasInputSource(const std::string& server, std::chrono::milliseconds timeout) {
    const auto found = inputSources(server, timeout);
    return found && !found->sources.empty();
}

}  // namespace zarn
