#include "strings/CurrentStrings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace zarn {
namespace {

TEST(CurrentStrings, EnglishUntilSetAndValueIsACopy) {
    EXPECT_EQ(CurrentStrings::value().hud.listening, "Listening…");
    CurrentStrings::set(Strings::russian());
    Strings current = CurrentStrings::value();
    current.hud.listening = "changed";
    EXPECT_EQ(CurrentStrings::value().hud.listening, "Слушаю…");
    CurrentStrings::set(Strings::english());
}

// Readers must always see one whole table, never a mix or a freed one, while the language flips.
TEST(CurrentStrings, ConcurrentReadersSeeWholeTables) {
    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const Strings s = CurrentStrings::value();
                const bool english = s.transport.record == "Record" && s.menu.downloadingModel(5) == "Downloading model… 5%";
                const bool russian = s.transport.record == "Запись" && s.menu.downloadingModel(5) == "Загрузка модели… 5%";
                if (!english && !russian) ++mixed;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) CurrentStrings::set(i % 2 ? Strings::english() : Strings::russian());
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_EQ(CurrentStrings::value().transport.record, "Record");
}

}  // namespace
}  // namespace zarn
