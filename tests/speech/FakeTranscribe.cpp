// A stand-in for the transcribe runtime with the same C interface: statuses and texts are
// scripted through the fake_* controls, and every call is counted.
#include "transcribe.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define FAKE_API extern "C" __attribute__((visibility("default")))

struct transcribe_session {
    int id;
};

namespace {

struct Scripted {
    transcribe_status status = 0;
    int times = 0;  // calls left to answer with `status`; -1: all of them
};

struct State {
    std::mutex mutex;
    std::map<std::string, int> calls;
    std::map<std::string, Scripted> statuses;
    std::string committed, tentative;
    bool committedNull = false, tentativeNull = false;
    std::uint64_t committedLen = 0, tentativeLen = 0;
    bool openGivesNoSession = false;
    std::string lastLanguage = "(none)";
    std::vector<std::string> languages;
    std::vector<float> fed;
    bool lastFeedExtraNull = true, lastFinalizeExtraNull = true;
    int liveSessions = 0;
    int freedSessions = 0;
};

State& state() {
    static State s;
    return s;
}

transcribe_status answer(const char* function) {
    auto& s = state();
    ++s.calls[function];
    auto it = s.statuses.find(function);
    if (it == s.statuses.end() || it->second.times == 0) return 0;
    if (it->second.times > 0) --it->second.times;
    return it->second.status;
}

}  // namespace

FAKE_API void fake_reset() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
    s.statuses.clear();
    s.committed.clear();
    s.tentative.clear();
    s.committedNull = s.tentativeNull = false;
    s.committedLen = s.tentativeLen = 0;
    s.openGivesNoSession = false;
    s.lastLanguage = "(none)";
    s.languages.clear();
    s.fed.clear();
    s.liveSessions = s.freedSessions = 0;
}

FAKE_API void fake_set_status(const char* function, transcribe_status status, int times) {
    std::lock_guard lock(state().mutex);
    state().statuses[function] = {status, times};
}

// Pointers may be null; lengths are reported as given, even beyond the bytes.
FAKE_API void fake_set_text(const char* committed, std::uint64_t committedLen, const char* tentative,
                            std::uint64_t tentativeLen) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.committedNull = committed == nullptr;
    s.tentativeNull = tentative == nullptr;
    s.committed = committed ? std::string(committed, committedLen) : std::string();
    s.tentative = tentative ? std::string(tentative, tentativeLen) : std::string();
    s.committedLen = committedLen;
    s.tentativeLen = tentativeLen;
}

FAKE_API void fake_open_gives_no_session(int on) { state().openGivesNoSession = on != 0; }
FAKE_API int fake_calls(const char* function) {
    std::lock_guard lock(state().mutex);
    return state().calls[function];
}
FAKE_API const char* fake_language(int index) {
    auto& s = state();
    if (index < 0 || index >= static_cast<int>(s.languages.size())) return nullptr;
    return s.languages[static_cast<std::size_t>(index)].c_str();
}
FAKE_API std::size_t fake_fed_count() { return state().fed.size(); }
FAKE_API float fake_fed_sample(std::size_t i) { return state().fed.at(i); }
FAKE_API int fake_extra_arguments_null() { return state().lastFeedExtraNull && state().lastFinalizeExtraNull; }
FAKE_API int fake_live_sessions() { return state().liveSessions; }
FAKE_API int fake_freed_sessions() { return state().freedSessions; }

extern "C" {

TRANSCRIBE_API const char* transcribe_status_string(transcribe_status status) {
    switch (status) {
        case 0: return "fake ok";
        case -1: return "fake failure";
        case 10: return "fake language refused";
        default: return "fake error";
    }
}
TRANSCRIBE_API const char* transcribe_version(void) { return "fake 0"; }
TRANSCRIBE_API transcribe_status transcribe_init_backends_default(void) {
    std::lock_guard lock(state().mutex);
    return answer("init");
}
TRANSCRIBE_API void transcribe_model_load_params_init(transcribe_model_load_params* p) {
    ++state().calls["model_load_params_init"];
    p->struct_size = sizeof *p;
}
TRANSCRIBE_API void transcribe_session_params_init(transcribe_session_params* p) {
    ++state().calls["session_params_init"];
    p->struct_size = sizeof *p;
}
TRANSCRIBE_API void transcribe_run_params_init(transcribe_run_params* p) {
    ++state().calls["run_params_init"];
    p->struct_size = sizeof *p;
}
TRANSCRIBE_API void transcribe_stream_params_init(transcribe_stream_params* p) {
    ++state().calls["stream_params_init"];
    p->struct_size = sizeof *p;
}
TRANSCRIBE_API void transcribe_stream_text_init(transcribe_stream_text* t) {
    ++state().calls["stream_text_init"];
    t->struct_size = sizeof *t;
}

TRANSCRIBE_API transcribe_status transcribe_open(const char* path, const transcribe_model_load_params* load,
                                                 const transcribe_session_params* params, transcribe_session** out) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    const transcribe_status status = answer("open");
    // The caller must have initialised both records and pre-set the slot to null.
    if (!path || !load || load->struct_size != sizeof *load || !params || params->struct_size != sizeof *params ||
        !out || *out != nullptr) {
        return 1;
    }
    if (status != 0 || s.openGivesNoSession) return status;
    *out = new transcribe_session{++s.liveSessions};
    return 0;
}

TRANSCRIBE_API void transcribe_session_free(transcribe_session* session) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session) return;
    --s.liveSessions;
    ++s.freedSessions;
    delete session;
}

TRANSCRIBE_API transcribe_status transcribe_stream_begin(transcribe_session* session, const transcribe_run_params* run,
                                                         const transcribe_stream_params* stream) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session || !run || run->struct_size != sizeof *run || !stream || stream->struct_size != sizeof *stream) return 1;
    s.languages.push_back(run->language ? run->language : "(none)");
    return answer("begin");
}

TRANSCRIBE_API transcribe_status transcribe_stream_feed(transcribe_session* session, const float* samples, int32_t n,
                                                        transcribe_stream_text* extra) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session || !samples || n <= 0) return 1;
    s.lastFeedExtraNull = extra == nullptr;
    const transcribe_status status = answer("feed");
    if (status == 0) s.fed.insert(s.fed.end(), samples, samples + n);
    return status;
}

TRANSCRIBE_API transcribe_status transcribe_stream_finalize(transcribe_session* session, transcribe_stream_text* extra) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session) return 1;
    s.lastFinalizeExtraNull = extra == nullptr;
    return answer("finalize");
}

TRANSCRIBE_API transcribe_status transcribe_stream_reset(transcribe_session* session) {
    std::lock_guard lock(state().mutex);
    if (!session) return 1;
    return answer("reset");
}

TRANSCRIBE_API transcribe_status transcribe_stream_get_text(transcribe_session* session, transcribe_stream_text* text) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session || !text || text->struct_size != sizeof *text) return 1;
    const transcribe_status status = answer("get_text");
    if (status != 0) return status;
    text->committed = s.committedNull ? nullptr : s.committed.data();
    text->committed_len = s.committedLen;
    text->tentative = s.tentativeNull ? nullptr : s.tentative.data();
    text->tentative_len = s.tentativeLen;
    return 0;
}

}  // extern "C"
