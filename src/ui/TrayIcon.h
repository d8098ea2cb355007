#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

#include "app/TrayMenu.h"
#include "dictation/DictationController.h"

namespace zarn::ui {

// The tray icon and its menu, drawn from the menu's data each time the menu opens.
class TrayIcon final : public QObject {
public:
    TrayIcon(TrayMenu& menu, DictationController& controller, std::function<void()> onMenuOpening);
    ~TrayIcon() override;

    void show();
    QSystemTrayIcon& icon() { return icon_; }

private:
    void rebuild();
    void showState(const DictationController::State& state);

    TrayMenu& menu_;
    std::function<void()> onMenuOpening_;
    QSystemTrayIcon icon_;
    std::unique_ptr<QMenu> contextMenu_;
    Subscription stateSubscription_;
};

// Fills `menu` with `items`; exposed for the widget tests.
void renderMenu(QMenu& menu, const std::vector<MenuItem>& items);

}  // namespace zarn::ui
