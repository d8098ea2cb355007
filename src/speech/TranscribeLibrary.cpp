#include "speech/TranscribeLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "speech/TranscribeError.h"

namespace zarn {

namespace {

struct Loaded {
    void* handle = nullptr;
    TranscribeLibrary::Api api{};
};

std::mutex& loadMutex() {
    static std::mutex m;
    return m;
}
Loaded*& loaded() {
    static Loaded* l = nullptr;
    return l;
}
std::mutex& initMutex() {
    static std::mutex m;
    return m;
}
bool& didInit() {
    static bool flag = false;
    return flag;
}

std::vector<std::string> candidates() {
    std::vector<std::string> paths;
    if (const char* env = std::getenv("ZARN_TRANSCRIBE_LIBRARY"); env && *env) {
        paths.emplace_back(env);
        return paths;
    }
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto dir = exe.parent_path();
        paths.push_back((dir.parent_path() / "lib" / "zarn" / "libtranscribe.so.1").string());
        paths.push_back((dir / "libtranscribe.so.1").string());
    }
#ifdef ZARN_TRANSCRIBE_BUILD_PATH
    paths.emplace_back(ZARN_TRANSCRIBE_BUILD_PATH);
#endif
    paths.emplace_back("libtranscribe.so.1");
    return paths;
}

template <class F>
bool bind(void* handle, const char* name, F& slot, std::string& missing) {
    slot = reinterpret_cast<F>(dlsym(handle, name));
    if (!slot) missing = name;
    return slot != nullptr;
}

}  // namespace

const TranscribeLibrary::Api& TranscribeLibrary::api() {
    std::lock_guard lock(loadMutex());
    if (loaded()) return loaded()->api;
    std::string failure;
    for (const auto& path : candidates()) {
        const bool explicitPath = path.find('/') != std::string::npos;
        if (explicitPath && !std::filesystem::exists(path)) continue;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* err = dlerror();
            failure = err ? err : path;
            continue;
        }
        auto l = std::make_unique<Loaded>();
        l->handle = handle;
        std::string missing;
        Api& a = l->api;
        const bool ok = bind(handle, "transcribe_status_string", a.status_string, missing) &&
                        bind(handle, "transcribe_version", a.version, missing) &&
                        bind(handle, "transcribe_init_backends_default", a.init_backends_default, missing) &&
                        bind(handle, "transcribe_model_load_params_init", a.model_load_params_init, missing) &&
                        bind(handle, "transcribe_session_params_init", a.session_params_init, missing) &&
                        bind(handle, "transcribe_run_params_init", a.run_params_init, missing) &&
                        bind(handle, "transcribe_stream_params_init", a.stream_params_init, missing) &&
                        bind(handle, "transcribe_stream_text_init", a.stream_text_init, missing) &&
                        bind(handle, "transcribe_open", a.open, missing) &&
                        bind(handle, "transcribe_session_free", a.session_free, missing) &&
                        bind(handle, "transcribe_stream_begin", a.stream_begin, missing) &&
                        bind(handle, "transcribe_stream_feed", a.stream_feed, missing) &&
                        bind(handle, "transcribe_stream_finalize", a.stream_finalize, missing) &&
                        bind(handle, "transcribe_stream_reset", a.stream_reset, missing) &&
                        bind(handle, "transcribe_stream_get_text", a.stream_get_text, missing);
        if (!ok) {
            failure = path + " lacks " + missing;
            dlclose(handle);
            continue;
        }
        // Kept for the life of the process: sessions may be freed at exit.
        loaded() = l.release();
        return loaded()->api;
    }
    throw MessageError("cannot load the transcribe runtime (" + (failure.empty() ? "libtranscribe.so.1 not found" : failure) + ")");
}

void TranscribeLibrary::initializeBackends() {
    std::lock_guard lock(initMutex());
    if (didInit()) return;
    TranscribeError::check(api().init_backends_default(), "initializing transcribe.cpp backends");
    didInit() = true;
}

std::string TranscribeLibrary::version() {
    const char* text = api().version();
    return text ? text : "";
}

std::string TranscribeLibrary::statusString(std::int32_t status) {
    try {
        const char* text = api().status_string(status);
        if (text) return text;
    } catch (const std::exception&) {
        // No runtime: the code alone must do.
    }
    return status == -1 ? "failure" : "status " + std::to_string(status);
}

void TranscribeLibrary::use(const Api& table) {
    std::lock_guard lock(loadMutex());
    // A library loaded before stays loaded: sessions of it may still be freed.
    loaded() = new Loaded{nullptr, table};
}

void TranscribeLibrary::resetForTesting() {
    std::lock_guard lock(initMutex());
    didInit() = false;
}

}  // namespace zarn
