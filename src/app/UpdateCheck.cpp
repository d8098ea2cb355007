#include "app/UpdateCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "base/Log.h"
#include "platform/linux/http/HttpGet.h"

#ifndef ZARN_UPDATE_FEED_URL
#define ZARN_UPDATE_FEED_URL ""
#endif

namespace zarn {
namespace {

// ---- a small XML reader: elements, attributes, text, CDATA, the five entities and
// character references. Document type declarations are refused, so no entity of the
// feed's own can expand.

struct Element {
    std::string name;  // as written, prefix included
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // character data directly inside
    std::vector<Element> children;
};

constexpr std::size_t maxDepth = 64;

[[noreturn]] void malformed(const std::string& why) {
    throw MessageError(why);
}

std::string_view localName(std::string_view name) {
    auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return std::string(s);
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Appends `raw` with its references replaced.
void decode(std::string_view raw, std::string& out) {
    while (!raw.empty()) {
        auto amp = raw.find('&');
        out.append(raw.substr(0, amp));
        if (amp == std::string_view::npos) return;
        raw.remove_prefix(amp + 1);
        auto semi = raw.find(';');
        if (semi == std::string_view::npos || semi > 10) malformed("an unterminated reference");
        std::string_view ref = raw.substr(0, semi);
        raw.remove_prefix(semi + 1);
        if (ref == "lt") out += '<';
        else if (ref == "gt") out += '>';
        else if (ref == "amp") out += '&';
        else if (ref == "quot") out += '"';
        else if (ref == "apos") out += '\'';
        else if (ref.size() > 1 && ref[0] == '#') {
            bool hex = ref[1] == 'x';
            std::string digits(ref.substr(hex ? 2 : 1));
            char* end = nullptr;
            unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            bool valid = !digits.empty() && *end == '\0' && std::isxdigit(static_cast<unsigned char>(digits[0])) &&
                         cp > 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
            if (!valid) malformed("a bad character reference");
            appendUtf8(out, static_cast<std::uint32_t>(cp));
        } else {
            malformed("an unknown entity &" + std::string(ref) + ";");
        }
    }
}

class XmlReader {
public:
    explicit XmlReader(std::string_view text) : s_(text) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") s_.remove_prefix(3);
    }

    Element document() {
        Element root;
        bool haveRoot = false;
        std::vector<Element*> open;
        while (pos_ < s_.size()) {
            if (open.empty()) {
                while (pos_ < s_.size() && isSpace(s_[pos_])) ++pos_;
                if (pos_ == s_.size()) break;
                if (skipMarkup()) continue;
                if (s_[pos_] != '<') malformed("text outside the root element");
                if (haveRoot) malformed("a second root element");
                haveRoot = true;
                if (!startTag(root)) open.push_back(&root);
                continue;
            }
            Element& current = *open.back();
            if (at("<![CDATA[")) {
                auto end = s_.find("]]>", pos_);
                if (end == std::string_view::npos) malformed("an unterminated CDATA section");
                current.text.append(s_.substr(pos_ + 9, end - pos_ - 9));
                pos_ = end + 3;
            } else if (skipMarkup()) {
            } else if (at("</")) {
                auto end = s_.find('>', pos_);
                if (end == std::string_view::npos) malformed("an unterminated end tag");
                if (trim(s_.substr(pos_ + 2, end - pos_ - 2)) != current.name) {
                    malformed("</" + trim(s_.substr(pos_ + 2, end - pos_ - 2)) + "> closes <" + current.name + ">");
                }
                pos_ = end + 1;
                open.pop_back();
            } else if (s_[pos_] == '<') {
                // Only the innermost open element grows, so pointers to open ones stay valid.
                current.children.emplace_back();
                if (!startTag(current.children.back())) {
                    if (open.size() >= maxDepth) malformed("elements nested too deeply");
                    open.push_back(&current.children.back());
                }
            } else {
                auto end = std::min(s_.find('<', pos_), s_.size());
                decode(s_.substr(pos_, end - pos_), current.text);
                pos_ = end;
            }
        }
        if (!open.empty()) malformed("the document ends inside <" + open.back()->name + ">");
        if (!haveRoot) malformed("no root element");
        return root;
    }

private:
    bool at(std::string_view prefix) const { return s_.substr(pos_, prefix.size()) == prefix; }

    void skipPast(std::string_view end, const char* what) {
        auto found = s_.find(end, pos_);
        if (found == std::string_view::npos) malformed(std::string("an unterminated ") + what);
        pos_ = found + end.size();
    }

    // Comments and processing instructions; refuses declarations.
    bool skipMarkup() {
        if (at("<!--")) {
            skipPast("-->", "comment");
        } else if (at("<?")) {
            skipPast("?>", "processing instruction");
        } else if (at("<!")) {
            malformed("a document type declaration");
        } else {
            return false;
        }
        return true;
    }

    static bool isNameChar(char c) {
        return !isSpace(c) && c != '/' && c != '>' && c != '<' && c != '=' && c != '"' && c != '\'' && c != '&';
    }

    std::string name() {
        std::size_t start = pos_;
        while (pos_ < s_.size() && isNameChar(s_[pos_])) ++pos_;
        if (pos_ == start) malformed("a tag or attribute without a name");
        return std::string(s_.substr(start, pos_ - start));
    }

    void skipSpace() {
        while (pos_ < s_.size() && isSpace(s_[pos_])) ++pos_;
    }

    void expect(char c) {
        if (pos_ >= s_.size() || s_[pos_] != c) malformed(std::string("'") + c + "' expected in a tag");
        ++pos_;
    }

    // Reads "<name attr='v' ...>" into `element`; true when it closed itself ("/>").
    bool startTag(Element& element) {
        ++pos_;
        element.name = name();
        while (true) {
            skipSpace();
            if (at("/>")) {
                pos_ += 2;
                return true;
            }
            if (at(">")) {
                ++pos_;
                return false;
            }
            std::string attribute = name();
            skipSpace();
            expect('=');
            skipSpace();
            if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) malformed("an unquoted attribute value");
            char quote = s_[pos_++];
            auto end = s_.find(quote, pos_);
            if (end == std::string_view::npos) malformed("an unterminated attribute value");
            std::string_view raw = s_.substr(pos_, end - pos_);
            if (raw.find('<') != std::string_view::npos) malformed("'<' in an attribute value");
            pos_ = end + 1;
            for (const auto& [seen, value] : element.attributes) {
                if (seen == attribute) malformed("attribute " + attribute + " given twice");
            }
            std::string value;
            decode(raw, value);
            element.attributes.emplace_back(std::move(attribute), std::move(value));
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

// ---- the appcast

bool isWebLink(const std::string& link) {
    auto lower = link.substr(0, 8);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    bool web = lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
    return web && std::none_of(link.begin(), link.end(), [](unsigned char c) { return c <= ' ' || c == 0x7F; });
}

std::optional<AppcastItem> readItem(const Element& item) {
    std::string version, shortVersion, enclosureVersion, enclosureShort, link, enclosureUrl;
    for (const auto& child : item.children) {
        std::string_view local = localName(child.name);
        bool prefixed = local.size() != child.name.size();
        if (child.name == "enclosure") {
            for (const auto& [name, value] : child.attributes) {
                bool sparkle = localName(name).size() != name.size();
                if (name == "url") enclosureUrl = trim(value);
                if (sparkle && localName(name) == "version") enclosureVersion = trim(value);
                if (sparkle && localName(name) == "shortVersionString") enclosureShort = trim(value);
            }
        } else if (prefixed && local == "version") {
            version = trim(child.text);
        } else if (prefixed && local == "shortVersionString") {
            shortVersion = trim(child.text);
        } else if (child.name == "link") {
            link = trim(child.text);
        }
    }
    if (version.empty()) version = enclosureVersion;
    if (shortVersion.empty()) shortVersion = enclosureShort;
    if (version.empty()) version = shortVersion;
    if (!isVersion(version)) return std::nullopt;
    AppcastItem result{version, shortVersion.empty() ? version : shortVersion, {}};
    if (isWebLink(link)) result.link = link;
    else if (isWebLink(enclosureUrl)) result.link = enclosureUrl;
    return result;
}

std::string_view stripZeros(std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    return digits;
}

UpdateCheckResult failure(UpdateCheckResult::Failure kind, std::string detail, long status = 0) {
    UpdateCheckResult result;
    result.outcome = UpdateCheckResult::Outcome::failed;
    result.failure = kind;
    result.detail = std::move(detail);
    result.httpStatus = status;
    return result;
}

}  // namespace

std::vector<AppcastItem> parseAppcast(std::string_view xml) {
    Element root = XmlReader(xml).document();
    if (localName(root.name) != "rss") malformed("the root element is <" + root.name + ">, not <rss>");
    std::vector<AppcastItem> items;
    for (const auto& channel : root.children) {
        if (channel.name != "channel") continue;
        for (const auto& item : channel.children) {
            if (item.name != "item") continue;
            if (auto read = readItem(item)) items.push_back(std::move(*read));
        }
    }
    return items;
}

bool isVersion(std::string_view version) {
    if (version.empty() || version.size() > 64 || version.front() == '.' || version.back() == '.') return false;
    for (std::size_t i = 0; i < version.size(); ++i) {
        char c = version[i];
        bool digit = c >= '0' && c <= '9';
        if (!digit && !(c == '.' && version[i - 1] != '.')) return false;
    }
    return true;
}

int compareVersions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        auto take = [](std::string_view& s) {
            auto dot = s.find('.');
            std::string_view part = s.substr(0, dot);
            s.remove_prefix(dot == std::string_view::npos ? s.size() : dot + 1);
            return stripZeros(part.empty() ? "0" : part);
        };
        std::string_view x = take(a), y = take(b);
        // Compared as digit strings, so no component overflows.
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        if (int c = x.compare(y); c != 0) return c < 0 ? -1 : 1;
    }
    return 0;
}

std::string describe(const UpdateCheckResult& result, const Strings& strings) {
    using Outcome = UpdateCheckResult::Outcome;
    using Failure = UpdateCheckResult::Failure;
    const auto& s = strings.updates;
    switch (result.outcome) {
        case Outcome::fromPackageManager: return s.fromPackageManager;
        case Outcome::upToDate: return s.upToDate(result.version);
        case Outcome::newerVersion:
            return s.newerVersion(result.version) + (result.link.empty() ? "" : "\n" + result.link);
        case Outcome::failed: break;
    }
    switch (result.failure) {
        case Failure::unreachable: return s.checkFailed(s.serverUnreachable(result.detail));
        case Failure::httpStatus: return s.checkFailed(s.serverStatus(result.httpStatus));
        case Failure::tooLarge: return s.checkFailed(s.feedTooLarge);
        case Failure::noVersions: return s.checkFailed(s.feedEmpty);
        case Failure::malformed:
        case Failure::none: break;
    }
    return s.checkFailed(s.feedMalformed);
}

UpdateChecker::UpdateChecker(std::optional<std::string> feedUrl, std::string currentVersion, Fetch fetch,
                             Executor& main)
    : feedUrl_(std::move(feedUrl)), currentVersion_(std::move(currentVersion)), fetch_(std::move(fetch)), main_(main) {}

void UpdateChecker::check(Reply<UpdateCheckResult> done) {
    if (!feedUrl_) {
        done(UpdateCheckResult{});
        return;
    }
    fetch_(*feedUrl_, Reply<Result<std::string>>(main_, [current = currentVersion_, done = std::move(done)](Result<std::string> feed) mutable {
               auto result = evaluate(feed, current);
               if (result.outcome == UpdateCheckResult::Outcome::failed) {
                   Log::app().info("update check failed: %{public}s", result.detail);
               }
               done(std::move(result));
           }));
}

UpdateCheckResult UpdateChecker::evaluate(const Result<std::string>& feed, const std::string& currentVersion) {
    using Failure = UpdateCheckResult::Failure;
    if (!feed) {
        try {
            std::rethrow_exception(feed.error());
        } catch (const http::HttpError& e) {
            switch (e.kind()) {
                case http::HttpError::Kind::status: return failure(Failure::httpStatus, e.detail(), e.status());
                case http::HttpError::Kind::tooLarge: return failure(Failure::tooLarge, e.detail());
                case http::HttpError::Kind::unreachable: break;
            }
            return failure(Failure::unreachable, e.detail());
        } catch (...) {
            return failure(Failure::unreachable, describeError(std::current_exception()));
        }
    }
    if (feed.value().size() > maxFeedBytes) return failure(Failure::tooLarge, "the feed exceeds 1 MiB");
    std::vector<AppcastItem> items;
    try {
        items = parseAppcast(feed.value());
    } catch (const MessageError& e) {
        return failure(Failure::malformed, "the feed is malformed: " + e.errorDescription());
    }
    if (items.empty()) return failure(Failure::noVersions, "the feed lists no versions");
    auto newest = std::max_element(items.begin(), items.end(), [](const AppcastItem& a, const AppcastItem& b) {
        return compareVersions(a.version, b.version) < 0;
    });
    UpdateCheckResult result;
    if (compareVersions(newest->version, currentVersion) > 0) {
        result.outcome = UpdateCheckResult::Outcome::newerVersion;
        result.version = newest->display;
        result.link = newest->link;
    } else {
        result.outcome = UpdateCheckResult::Outcome::upToDate;
        result.version = currentVersion;
    }
    return result;
}

std::optional<std::string> UpdateChecker::configuredFeedUrl() {
    std::string url = ZARN_UPDATE_FEED_URL;
    if (const char* env = std::getenv("ZARN_UPDATE_FEED")) url = env;
    if (url.empty()) return std::nullopt;
    return url;
}

}  // namespace zarn
