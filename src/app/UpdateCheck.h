#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "base/Reply.h"
#include "strings/Strings.h"

namespace zarn {

// What "Check for Updates…" found.
struct UpdateCheckResult {
    enum class Outcome { fromPackageManager, upToDate, newerVersion, failed };
    enum class Failure { none, unreachable, httpStatus, malformed, noVersions, tooLarge };

    Outcome outcome = Outcome::fromPackageManager;
    std::string version;  // upToDate: ours; newerVersion: the feed's, as it is shown
    std::string link;     // newerVersion: an http(s) page to get it from; may be empty
    Failure failure = Failure::none;
    long httpStatus = 0;  // Failure::httpStatus
    std::string detail;   // Failure::unreachable: the transfer's words; otherwise for the log
    bool operator==(const UpdateCheckResult&) const = default;
};

// One version an appcast offers.
struct AppcastItem {
    std::string version;  // compared with ours: sparkle:version, else sparkle:shortVersionString
    std::string display;  // shown: sparkle:shortVersionString, else the version
    std::string link;     // the item's <link>, else the enclosure's url; only http(s)
    bool operator==(const AppcastItem&) const = default;
};

// The items of an RSS 2.0 appcast whose version is dotted numbers; items without one are
// left out. Throws MessageError (the reason, for the log) when the text is not well-formed
// XML or not RSS.
std::vector<AppcastItem> parseAppcast(std::string_view xml);

// Orders dotted numeric versions: "1.10" > "1.9", "1.2" == "1.2.0". Negative, zero or
// positive as `a` is older, the same or newer.
int compareVersions(std::string_view a, std::string_view b);
// Digits separated by single dots, nothing else.
bool isVersion(std::string_view version);

// The result as a sentence in the table's language (a newer version's link on a line of its own).
std::string describe(const UpdateCheckResult& result, const Strings& strings);

// Asks the configured appcast whether a newer version exists; without a feed, updates come
// from the package manager. The fetch brings the feed's body, or an http::HttpError.
class UpdateChecker {
public:
    using Fetch = std::function<void(std::string url, Reply<Result<std::string>> done)>;
    static constexpr std::size_t maxFeedBytes = 1024 * 1024;

    UpdateChecker(std::optional<std::string> feedUrl, std::string currentVersion, Fetch fetch, Executor& main);

    // `done` runs on its own executor; it may outlive this object.
    void check(Reply<UpdateCheckResult> done);

    // $ZARN_UPDATE_FEED when set (empty means none), else the build's ZARN_UPDATE_FEED_URL.
    static std::optional<std::string> configuredFeedUrl();

    // The outcome for a fetched feed.
    static UpdateCheckResult evaluate(const Result<std::string>& feed, const std::string& currentVersion);

private:
    std::optional<std::string> feedUrl_;
    std::string currentVersion_;
    Fetch fetch_;
    Executor& main_;
};

}  // namespace zarn
