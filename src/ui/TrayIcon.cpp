#include "ui/TrayIcon.h"

#include <QActionGroup>
#include <QCursor>

#include "base/Log.h"
#include "ui/Icons.h"

namespace zarn::ui {

void renderMenu(QMenu& menu, const std::vector<MenuItem>& items) {
    menu.clear();
    for (const auto& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::divider:
            menu.addSeparator();
            break;
        case MenuItem::Kind::submenu: {
            QMenu* sub = menu.addMenu(QString::fromStdString(item.label));
            auto* group = new QActionGroup(sub);
            for (const auto& choice : item.choices) {
                QAction* action = sub->addAction(QString::fromStdString(choice.label));
                action->setCheckable(true);
                action->setChecked(choice.checked);
                action->setEnabled(choice.enabled);
                group->addAction(action);
                QObject::connect(action, &QAction::triggered, action, [trigger = choice.trigger] {
                    if (trigger) trigger();
                });
            }
            break;
        }
        default: {
            QAction* action = menu.addAction(QString::fromStdString(item.label));
            action->setEnabled(item.enabled);
            if (item.kind == MenuItem::Kind::toggle) {
                action->setCheckable(true);
                action->setChecked(item.checked);
            }
            if (item.kind == MenuItem::Kind::caption) {
                QFont font = action->font();
                font.setPointSizeF(font.pointSizeF() * 0.85);
                action->setFont(font);
            }
            if (!item.shortcut.empty()) action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
            if (item.trigger) {
                QObject::connect(action, &QAction::triggered, action, [trigger = item.trigger] { trigger(); });
            }
        }
        }
    }
}

TrayIcon::TrayIcon(TrayMenu& menu, DictationController& controller, std::function<void()> onMenuOpening)
    : menu_(menu), onMenuOpening_(std::move(onMenuOpening)), contextMenu_(std::make_unique<QMenu>()) {
    icon_.setContextMenu(contextMenu_.get());
    // The menu's content follows the settings and the permissions as they are when it opens.
    connect(contextMenu_.get(), &QMenu::aboutToShow, this, [this] {
        if (onMenuOpening_) onMenuOpening_();
        rebuild();
    });
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) contextMenu_->popup(QCursor::pos());
    });
    rebuild();
    showState(controller.state());
    stateSubscription_ = controller.observeState([this](const DictationController::State& state) { showState(state); });
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Log::app().info("no system tray on this desktop: the tray menu is not shown");
    }
    // Shown either way: a tray that starts later picks the icon up.
    icon_.show();
}

void TrayIcon::rebuild() {
    renderMenu(*contextMenu_, menu_.items());
}

void TrayIcon::showState(const DictationController::State& state) {
    icon_.setIcon(trayIcon(state.isActive()));
    icon_.setToolTip(QStringLiteral("Zarn"));
}

}  // namespace zarn::ui
