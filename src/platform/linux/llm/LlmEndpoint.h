#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "base/Executor.h"

namespace zarn {
class DefaultsStore;
}

namespace zarn::llm {

// Where the language-model server is and how long to wait for it.
struct LlmServerConfig {
    std::string baseUrl;  // e.g. http://127.0.0.1:8080; empty when not configured
    std::string model;    // empty: the first model the server lists
    bool allowRemote = false;
    Duration probeTimeout = std::chrono::milliseconds(1500);
    // A safety net only: callers cancel long before (the smart cleanup after 4 seconds).
    Duration requestTimeout = std::chrono::seconds(120);

    // The one place that decides which server smart cleanup uses, for the app and every
    // command: ZARN_LLM_URL, ZARN_LLM_MODEL and ZARN_LLM_ALLOW_REMOTE=1 win over the stored
    // settings "llmURL" and "llmModel".
    static LlmServerConfig resolve(const DefaultsStore& defaults);
    // The same over the user's own settings file (DefaultsStore::defaultFile()).
    static LlmServerConfig forThisUser();
    // The same, with `setting` looking the stored keys up (may be empty: none stored).
    static LlmServerConfig resolve(const std::function<std::optional<std::string>(const std::string&)>& setting = {});
};

// A base URL, checked: http or https, a host, and whether that host is this machine.
struct Endpoint {
    std::string baseUrl;  // without trailing slashes and without a final "/v1"
    std::string origin;   // scheme://host[:port], safe to log (no user name, no path)
    bool isLoopback = false;
    std::string error;  // why the URL is unusable; empty when usable

    bool ok() const { return error.empty(); }
    std::string url(const std::string& path) const { return baseUrl + path; }

    static Endpoint parse(const std::string& url);
};

// 127.0.0.0/8, ::1 (also as IPv4-mapped 127.x), and "localhost". Brackets are allowed.
bool isLoopbackHost(std::string host);

}  // namespace zarn::llm
