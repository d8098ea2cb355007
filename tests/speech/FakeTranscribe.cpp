#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "speech/FakeRuntime.h"

struct transcribe_session {
    int id;
};

namespace zarn::test {
namespace {

struct State {
    std::mutex mutex;
    std::map<std::string, int> calls;
    std::map<std::string, std::pair<transcribe_status, int>> statuses;  // status, calls left
    std::string committed, tentative;
    bool committedNull = false, tentativeNull = false;
    std::uint64_t committedLen = 0, tentativeLen = 0;
    bool openGivesNoSession = false;
    std::vector<std::string> languages;
    std::vector<float> fed;
    bool lastFeedExtraNull = true, lastFinalizeExtraNull = true;
    int liveSessions = 0, freedSessions = 0;
};

State& state() {
    static State s;
    return s;
}

template <class F>
auto locked(F f) {
    std::lock_guard lock(state().mutex);
    return f(state());
}

// Counts the call and gives its scripted status; the caller holds the lock.
transcribe_status answer(const char* function) {
    auto& s = state();
    ++s.calls[function];
    auto it = s.statuses.find(function);
    if (it == s.statuses.end() || it->second.second == 0) return 0;
    if (it->second.second > 0) --it->second.second;
    return it->second.first;
}

template <class Record>
bool sized(const Record* r) {
    return r && r->struct_size == sizeof *r;
}

template <class Record>
void init(Record* r) {
    r->struct_size = sizeof *r;
}

const char* statusString(transcribe_status status) {
    switch (status) {
        case 0: return "fake ok";
        case -1: return "fake failure";
        default: return "fake error";
    }
}

transcribe_status open(const char* path, const transcribe_model_load_params* load, const transcribe_session_params* params,
                       transcribe_session** out) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    const transcribe_status status = answer("open");
    if (!path || !sized(load) || !sized(params) || !out || *out) return 1;
    if (status != 0 || s.openGivesNoSession) return status;
    *out = new transcribe_session{++s.liveSessions};
    return 0;
}

void sessionFree(transcribe_session* session) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session) return;
    --s.liveSessions;
    ++s.freedSessions;
    delete session;
}

transcribe_status begin(transcribe_session* session, const transcribe_run_params* run, const transcribe_stream_params* stream) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session || !sized(run) || !sized(stream)) return 1;
    s.languages.push_back(run->language ? run->language : "(none)");
    return answer("begin");
}

transcribe_status feed(transcribe_session* session, const float* samples, int32_t n, transcribe_stream_text* extra) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session || !samples || n <= 0) return 1;
    s.lastFeedExtraNull = extra == nullptr;
    const transcribe_status status = answer("feed");
    if (status == 0) s.fed.insert(s.fed.end(), samples, samples + n);
    return status;
}

transcribe_status finalize(transcribe_session* session, transcribe_stream_text* extra) {
    std::lock_guard lock(state().mutex);
    if (!session) return 1;
    state().lastFinalizeExtraNull = extra == nullptr;
    return answer("finalize");
}

transcribe_status reset(transcribe_session* session) {
    std::lock_guard lock(state().mutex);
    return session ? answer("reset") : 1;
}

transcribe_status getText(transcribe_session* session, transcribe_stream_text* text) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!session || !sized(text)) return 1;
    const transcribe_status status = answer("get_text");
    if (status != 0) return status;
    text->committed = s.committedNull ? nullptr : s.committed.data();
    text->committed_len = s.committedLen;
    text->tentative = s.tentativeNull ? nullptr : s.tentative.data();
    text->tentative_len = s.tentativeLen;
    return 0;
}

const TranscribeLibrary::Api kApi{
    statusString,
    [] { return "fake 0"; },
    [] {
        std::lock_guard lock(state().mutex);
        return answer("init");
    },
    init<transcribe_model_load_params>,
    init<transcribe_session_params>,
    init<transcribe_run_params>,
    init<transcribe_stream_params>,
    init<transcribe_stream_text>,
    open,
    sessionFree,
    begin,
    feed,
    finalize,
    reset,
    getText,
};

// Before any test: the binding never looks for a library.
const bool installed = (TranscribeLibrary::use(kApi), true);

}  // namespace

const TranscribeLibrary::Api& FakeRuntime::api() { return kApi; }
bool FakeRuntime::loaded() { return installed && TranscribeLibrary::api().open == kApi.open; }

void FakeRuntime::reset() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        s.calls.clear();
        s.statuses.clear();
        s.openGivesNoSession = false;
        s.languages.clear();
        s.fed.clear();
        s.liveSessions = s.freedSessions = 0;
    }
    setText("", 0, "", 0);
    TranscribeLibrary::resetForTesting();
}

void FakeRuntime::setStatus(const char* function, std::int32_t status, int times) {
    locked([&](State& s) { s.statuses[function] = {status, times}; });
}

void FakeRuntime::setText(const char* committed, std::uint64_t committedLen, const char* tentative,
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

void FakeRuntime::openGivesNoSession(bool on) {
    locked([on](State& s) { s.openGivesNoSession = on; });
}
int FakeRuntime::calls(const char* function) {
    return locked([function](State& s) { return s.calls[function]; });
}
std::string FakeRuntime::language(int index) {
    return locked([index](State& s) {
        return index >= 0 && index < static_cast<int>(s.languages.size()) ? s.languages[static_cast<std::size_t>(index)]
                                                                           : "<no call>";
    });
}
std::size_t FakeRuntime::fedCount() { return locked([](State& s) { return s.fed.size(); }); }
float FakeRuntime::fedSample(std::size_t i) { return locked([i](State& s) { return s.fed.at(i); }); }
bool FakeRuntime::extraArgumentsNull() {
    return locked([](State& s) { return s.lastFeedExtraNull && s.lastFinalizeExtraNull; });
}
int FakeRuntime::liveSessions() { return locked([](State& s) { return s.liveSessions; }); }
int FakeRuntime::freedSessions() { return locked([](State& s) { return s.freedSessions; }); }

}  // namespace zarn::test
