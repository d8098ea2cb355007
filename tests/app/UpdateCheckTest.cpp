#include <gtest/gtest.h>

#include "app/UpdateCheck.h"
#include "base/EventLoop.h"
#include "platform/linux/http/HttpGet.h"
#include "support/FakeHttpServer.h"
#include "support/ReplyFuture.h"
#include "support/ScopedEnv.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using Outcome = UpdateCheckResult::Outcome;
using Failure = UpdateCheckResult::Failure;

std::string feed(const std::string& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<!-- published by hand -->
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Zarn</title>)" + items + "</channel></rss>";
}

TEST(UpdateCheck, VersionsCompareByNumericComponents) {
    struct Row { const char* a; const char* b; int order; };
    for (auto [a, b, order] : {Row{"1.10", "1.9", 1}, Row{"1.2", "1.2.0", 0}, Row{"0.1.0", "0.1.1", -1},
                               Row{"2", "1.99.99", 1}, Row{"1.02", "1.2", 0},
                               Row{"99999999999999999999999.1", "99999999999999999999998.9", 1}}) {
        EXPECT_EQ(compareVersions(a, b), order) << a << " vs " << b;
        EXPECT_EQ(compareVersions(b, a), -order) << b << " vs " << a;
    }
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2b", "v1", " 1"}) EXPECT_FALSE(isVersion(bad)) << bad;
}

TEST(UpdateCheck, ItemsInTheCommonFormsAreRead) {
    auto items = parseAppcast(feed(R"(
<item><title>Attributes</title>
  <enclosure url="https://example.org/zarn-1.2.tar.gz?a=1&amp;b=2" sparkle:version="1.2" length="1"/></item>
<item><sparkle:version>1.3</sparkle:version><sparkle:shortVersionString><![CDATA[1.3 «beta»]]></sparkle:shortVersionString>
  <link> https://example.org/1.3 </link><enclosure url="https://example.org/x"/></item>
<item><enclosure url='javascript:alert(1)' sparkle:shortVersionString='1&#46;4'/></item>
<item><title>no version</title><link>https://example.org/none</link></item>
<item><sparkle:version>1.5-rc1</sparkle:version></item>)"));
    EXPECT_EQ(items, (std::vector<AppcastItem>{{"1.2", "1.2", "https://example.org/zarn-1.2.tar.gz?a=1&b=2"},
                                               {"1.3", "1.3 «beta»", "https://example.org/1.3"},
                                               {"1.4", "1.4", ""}}));
}

TEST(UpdateCheck, MalformedFeedsAreRefused) {
    for (const char* bad : {"", "not xml", "<rss><channel></rss>", "<rss><channel/></rss><rss/>",
                            "<!DOCTYPE rss [<!ENTITY x \"y\">]><rss/>", "<rss a=1/>", "<rss>&bogus;</rss>",
                            "<rss><![CDATA[never closed</rss>", "<feed/>", "<rss>&#xD800;</rss>"}) {
        EXPECT_THROW(parseAppcast(bad), MessageError) << bad;
    }
}

// The whole check through libcurl against a server on this machine.
TEST(UpdateCheck, ChecksTheFeedOverHttp) {
    std::string body;
    int status = 200;
    test::FakeHttpServer server([&](const auto&) { return test::FakeHttpServer::Response{status, body}; });
    EventLoop main;
    http::HttpGet http;
    auto check = [&](std::optional<std::string> url) {
        UpdateChecker checker(std::move(url), "1.2.0", [&](std::string u, auto done) { http.get(u, std::move(done)); }, main);
        test::ReplyFuture<UpdateCheckResult, EventLoop> result(main);
        checker.check(result.reply());
        return result.get();
    };
    const std::string url = server.baseUrl() + "/appcast.xml";
    const auto& en = Strings::english();

    body = feed("<item><sparkle:version>1.10</sparkle:version><link>https://example.org/</link></item>"
                "<item><sparkle:version>1.9</sparkle:version></item>");
    auto newer = check(url);
    EXPECT_EQ(describe(newer, en), "Zarn 1.10 is available.\nhttps://example.org/");
    EXPECT_EQ(describe(newer, Strings::russian()), "Доступна новая версия: Zarn 1.10.\nhttps://example.org/");
    body = feed("<item><sparkle:version>1.2</sparkle:version></item>");
    EXPECT_EQ(describe(check(url), en), "Zarn 1.2.0 is up to date.");
    EXPECT_EQ(describe(check(std::nullopt), en), en.updates.fromPackageManager);

    body = feed("<item><title>nothing</title></item>");
    EXPECT_EQ(check(url).failure, Failure::noVersions);
    body = "<rss><channel><item>";
    EXPECT_EQ(describe(check(url), en), "Couldn't check for updates: the update feed isn't a valid RSS document.");
    body = feed(std::string(2 * 1024 * 1024, ' '));
    EXPECT_EQ(check(url).failure, Failure::tooLarge);
    status = 404;
    EXPECT_EQ(describe(check(url), Strings::russian()),
              "Не удалось проверить обновления: сервер обновлений ответил кодом HTTP 404.");
    auto unreachable = check("http://127.0.0.1:1/appcast.xml");
    EXPECT_EQ(unreachable.failure, Failure::unreachable);
    EXPECT_FALSE(unreachable.detail.empty());
    EXPECT_EQ(check("file:///etc/passwd").failure, Failure::unreachable);
}

TEST(UpdateCheck, TheEnvironmentChoosesTheFeed) {
    test::ScopedEnv env;
    env.set("ZARN_UPDATE_FEED", "http://127.0.0.1:9/feed.xml");
    EXPECT_EQ(UpdateChecker::configuredFeedUrl(), "http://127.0.0.1:9/feed.xml");
    env.set("ZARN_UPDATE_FEED", "");
    EXPECT_EQ(UpdateChecker::configuredFeedUrl(), std::nullopt);
}

}  // namespace
}  // namespace zarn
