#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QWidget>

#include <functional>
#include <vector>

#include "app/SettingsModel.h"

namespace zarn::ui {

// A row of equal segments, one per option, the selected one raised on glass; unavailable
// options are dimmed and cannot be clicked, though a stored one still shows as selected.
class GlassSegmentedPicker final : public QWidget {
public:
    explicit GlassSegmentedPicker(QWidget* parent = nullptr);
    void setSegments(std::vector<Segment> segments);
    QAbstractButton* button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
    int count() const { return static_cast<int>(buttons_.size()); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::vector<Segment> segments_;
    std::vector<QAbstractButton*> buttons_;
};

// The settings window: five sections from the settings model, each control writing
// straight through; every text follows the interface language at once.
class SettingsWindow final : public QWidget {
public:
    struct SectionView {
        QLabel* header = nullptr;
        GlassSegmentedPicker* picker = nullptr;  // or
        QCheckBox* toggle = nullptr;
        QLabel* noteIcon = nullptr;
        QLabel* note = nullptr;
    };

    explicit SettingsWindow(SettingsModel& model, QWidget* parent = nullptr);
    // Shows the window, or brings it forward when it is open already.
    void showAndRaise();
    const std::vector<SectionView>& sections() const { return sections_; }

private:
    void refresh();

    SettingsModel& model_;
    std::vector<SectionView> sections_;
    Subscription subscription_;
};

// Ctrl+, in `window` opens the settings.
void addSettingsShortcut(QWidget& window, std::function<void()> open);

}  // namespace zarn::ui
