#include "strings/CurrentStrings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace zarn {
namespace {

// Each test runs in its own process under CTest; the others put English back all the same.
TEST(CurrentStrings, EnglishBeforeAnySet) {
    const Strings current = CurrentStrings::value();
    EXPECT_EQ(current.hud.listening, "Listening…");
    EXPECT_EQ(current.transcriptions.recordingCount(1), "1 recording");
}

TEST(CurrentStrings, SetSwitchesTheTableAndValueIsACopy) {
    CurrentStrings::set(Strings::russian());
    Strings current = CurrentStrings::value();
    EXPECT_EQ(current.hud.listening, "Слушаю…");
    EXPECT_EQ(current.transcriptions.recordingCount(22), "22 записи");

    current.hud.listening = "changed";
    EXPECT_EQ(CurrentStrings::value().hud.listening, "Слушаю…");

    CurrentStrings::set(Strings::table(AppLanguage::Resolved::en));
    EXPECT_EQ(CurrentStrings::value().errors.notRunning, "The transcription engine isn't running.");
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
                const bool english = s.transport.record == "Record" && s.sidebar.library == "Library" &&
                                     s.menu.downloadingModel(5) == "Downloading model… 5%";
                const bool russian = s.transport.record == "Запись" && s.sidebar.library == "Библиотека" &&
                                     s.menu.downloadingModel(5) == "Загрузка модели… 5%";
                if (!english && !russian) ++mixed;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) CurrentStrings::set(i % 2 ? Strings::english() : Strings::russian());
    CurrentStrings::set(Strings::english());
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_EQ(CurrentStrings::value().transport.record, "Record");
}

}  // namespace
}  // namespace zarn
