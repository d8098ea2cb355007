#include <gtest/gtest.h>

#include <QApplication>
#include <QActionGroup>
#include <QMenu>

#include "ui/Icons.h"
#include "ui/QtApp.h"
#include "ui/TrayIcon.h"

namespace zarn::ui {
namespace {

using Kind = MenuItem::Kind;

TEST(TrayMenuRenderTest, DrawsEveryKindOfItemAndForwardsClicks) {
    test::ensureQApplication();
    std::vector<std::string> clicked;
    auto click = [&](std::string name) { return [&clicked, name] { clicked.push_back(name); }; };
    const std::vector<MenuItem> items{
        {.kind = Kind::text, .label = "Hold Right ⌥ to dictate", .enabled = false},
        {.kind = Kind::divider},
        {.kind = Kind::submenu,
         .label = "Engine",
         .choices = {{.kind = Kind::toggle, .label = "A", .enabled = false, .trigger = click("A")},
                     {.kind = Kind::toggle, .label = "B", .checked = true, .trigger = click("B")}}},
        {.kind = Kind::toggle, .label = "Sound", .checked = true, .trigger = click("sound")},
        {.kind = Kind::caption, .label = "why not", .enabled = false},
        {.kind = Kind::button, .label = "Quit Zarn", .shortcut = "Ctrl+Q", .trigger = click("quit")},
    };
    QMenu menu;
    renderMenu(menu, items);
    renderMenu(menu, items);  // drawn again each time it opens: nothing doubles
    const auto actions = menu.actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    QMenu* engines = actions[2]->menu();
    ASSERT_NE(engines, nullptr);
    ASSERT_EQ(engines->actions().size(), 2);
    EXPECT_FALSE(engines->actions()[0]->isEnabled());
    EXPECT_TRUE(engines->actions()[1]->isChecked());
    EXPECT_TRUE(engines->actions()[1]->actionGroup()->isExclusive());
    EXPECT_TRUE(actions[3]->isCheckable() && actions[3]->isChecked());
    EXPECT_EQ(actions[5]->shortcut(), QKeySequence("Ctrl+Q"));

    engines->actions()[1]->trigger();
    actions[3]->trigger();
    actions[5]->trigger();
    EXPECT_EQ(clicked, (std::vector<std::string>{"B", "sound", "quit"}));
}

TEST(TrayMenuRenderTest, ActiveIconCarriesTheRedBadgeAndIdleDoesNot) {
    test::ensureQApplication();
    auto reds = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() > 200 && c.red() > 180 && c.green() < 90 && c.blue() < 90) ++count;
            }
        }
        return count;
    };
    for (int size : {16, 22, 48}) {
        EXPECT_EQ(reds(drawWaveform(size, false).toImage()), 0);
        EXPECT_GT(reds(drawWaveform(size, true).toImage()), size * size / 4);
    }
}

}  // namespace
}  // namespace zarn::ui
