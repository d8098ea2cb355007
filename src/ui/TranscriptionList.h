#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>

#include "app/TranscriptionListModel.h"

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

namespace zarn::ui {

class EmptyStateView;

// The visible runs for a QListView; rows come and go only through the view model.
class RunListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { engineRole = Qt::UserRole + 1, secondsRole, dateRole, copyLabelRole, correctionsRole };

    explicit RunListModel(TranscriptionListModel& model, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void reset();
    void rowLooksChanged(std::size_t row);

private:
    TranscriptionListModel& model_;
};

// Draws one run: the engine chip, "%.2fs", the time of day and Copy at the top, the wrapped
// text, the correction badges. A double click opens the text for selecting.
class RunDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit RunDelegate(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

Q_SIGNALS:
    void copyClicked(int row);

private:
    struct Geometry;
    Geometry layout(const QStyleOptionViewItem& option, const QModelIndex& index, bool header = true) const;
};

// The "Transcriptions" section.
class TranscriptionList final : public QWidget {
    Q_OBJECT
public:
    TranscriptionList(TranscriptionListModel& model, std::function<Strings()> strings, QWidget* parent = nullptr);
    void retranslate();
    QListView* listView() const { return list_; }
    QLineEdit* searchField() const { return search_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void showConfirmation();
    void showContextMenu(const QPoint& at);

    TranscriptionListModel& model_;
    std::function<Strings()> strings_;
    RunListModel* runs_;
    QLineEdit* search_;
    QStackedWidget* stack_;
    EmptyStateView* empty_;
    QListView* list_;
    QWidget* footer_;
    QLabel* count_;
    QPushButton* deleteAll_;
};

}  // namespace zarn::ui
