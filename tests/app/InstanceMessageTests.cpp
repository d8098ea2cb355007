#include <gtest/gtest.h>

#include "app/InstanceMessage.h"

namespace zarn::instance {
namespace {

std::string header(std::uint32_t size) {
    std::string out(magic);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((size >> shift) & 0xff));
    return out;
}

TEST(InstanceMessageTest, RoundTripsArgumentsFedInAnyPieces) {
    const std::vector<std::string> arguments{"zarn://clear", "", "ünïcödé", std::string(1000, 'x')};
    const std::string wire = encode(arguments);
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, wire.size()}) {
        Decoder decoder;
        Decoder::Status status = Decoder::Status::needMore;
        for (std::size_t at = 0; at < wire.size(); at += piece) {
            ASSERT_EQ(status, Decoder::Status::needMore);
            status = decoder.feed(std::string_view(wire).substr(at, piece));
        }
        ASSERT_EQ(status, Decoder::Status::message) << decoder.error();
        EXPECT_EQ(decoder.arguments(), arguments);
    }
    Decoder empty;
    EXPECT_EQ(empty.feed(encode({})), Decoder::Status::message);
    EXPECT_TRUE(empty.arguments().empty());
}

TEST(InstanceMessageTest, MalformedMessagesAreRefused) {
    std::string manyArguments;
    for (std::size_t i = 0; i <= maxArguments; ++i) manyArguments += "a" + std::string(1, '\0');
    const std::vector<std::pair<const char*, std::string>> cases{
        {"another protocol", "GET / HTTP/1.1\r\n"},
        {"too large", header(maxPayload + 1)},
        {"unterminated", header(3) + "abc"},
        {"trailing bytes", encode({"a"}) + "x"},
        {"too many arguments", header(static_cast<std::uint32_t>(manyArguments.size())) + manyArguments},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        Decoder decoder;
        EXPECT_EQ(decoder.feed(bytes), Decoder::Status::malformed);
        EXPECT_FALSE(decoder.error().empty());
    }
}

}  // namespace
}  // namespace zarn::instance
