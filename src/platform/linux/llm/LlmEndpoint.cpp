#include "platform/linux/llm/LlmEndpoint.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "settings/Settings.h"

namespace zarn::llm {
namespace {

std::optional<std::string> env(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

struct UrlPart {
    char* text = nullptr;
    ~UrlPart() { curl_free(text); }
};

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    UrlPart p;
    if (curl_url_get(url, which, &p.text, 0) != CURLUE_OK || !p.text) return std::nullopt;
    return std::string(p.text);
}

}  // namespace

LlmServerConfig LlmServerConfig::resolve(const std::function<std::optional<std::string>(const std::string&)>& setting) {
    LlmServerConfig config;
    auto stored = [&](const char* key) -> std::optional<std::string> {
        if (!setting) return std::nullopt;
        auto value = setting(key);
        return value && !value->empty() ? value : std::nullopt;
    };
    config.baseUrl = env("ZARN_LLM_URL").value_or(stored("llmURL").value_or(""));
    config.model = env("ZARN_LLM_MODEL").value_or(stored("llmModel").value_or(""));
    config.allowRemote = env("ZARN_LLM_ALLOW_REMOTE") == std::optional<std::string>("1");
    return config;
}

LlmServerConfig LlmServerConfig::resolve(const DefaultsStore& defaults) {
    return resolve([&](const std::string& key) { return defaults.string(key); });
}

LlmServerConfig LlmServerConfig::forThisUser() { return resolve(DefaultsStore(DefaultsStore::defaultFile())); }

bool isLoopbackHost(std::string host) {
    host = lower(std::move(host));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (auto zone = host.find('%'); zone != std::string::npos) host.erase(zone);
    if (host == "localhost" || host == "localhost.") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

Endpoint Endpoint::parse(const std::string& text) {
    Endpoint endpoint;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        endpoint.error = "the language-model server URL is not a valid URL";
        return endpoint;
    }
    auto scheme = part(url.get(), CURLUPART_SCHEME);
    auto host = part(url.get(), CURLUPART_HOST);
    if (!scheme || (lower(*scheme) != "http" && lower(*scheme) != "https")) {
        endpoint.error = "the language-model server URL must start with http:// or https://";
        return endpoint;
    }
    if (!host || host->empty()) {
        endpoint.error = "the language-model server URL has no host";
        return endpoint;
    }
    if (part(url.get(), CURLUPART_QUERY) || part(url.get(), CURLUPART_FRAGMENT)) {
        endpoint.error = "the language-model server URL must not have a query or fragment";
        return endpoint;
    }
    auto port = part(url.get(), CURLUPART_PORT);
    endpoint.origin = lower(*scheme) + "://" + *host + (port ? ":" + *port : "");
    std::string path = part(url.get(), CURLUPART_PATH).value_or("/");
    while (!path.empty() && path.back() == '/') path.pop_back();
    // "http://host:port/v1" is a common way to write the base; the paths add "/v1" themselves.
    if (path.size() >= 3 && path.compare(path.size() - 3, 3, "/v1") == 0) path.erase(path.size() - 3);
    // Keep the user name and password (if any) for the request itself.
    UrlPart full;
    if (curl_url_set(url.get(), CURLUPART_PATH, path.empty() ? "/" : path.c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &full.text, 0) != CURLUE_OK || !full.text) {
        endpoint.error = "the language-model server URL is not a valid URL";
        return endpoint;
    }
    endpoint.baseUrl = full.text;
    while (!endpoint.baseUrl.empty() && endpoint.baseUrl.back() == '/') endpoint.baseUrl.pop_back();
    endpoint.isLoopback = isLoopbackHost(*host);
    return endpoint;
}

}  // namespace zarn::llm
