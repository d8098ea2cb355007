#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/TranscriptionListModel.h"
#include "base/Observable.h"
#include "base/SequenceChecker.h"
#include "dictionary/DictionaryStore.h"
#include "dictionary/DictionaryWarning.h"
#include "strings/Strings.h"

namespace zarn {

// The new-entry and edit-entry sheet's fields and rules. Keeps its own copy of the fields:
// what happens to the entry in the store meanwhile does not reach it.
class DictionaryEditorModel {
public:
    // No entry: a new one (a term, enabled, with a fresh id).
    explicit DictionaryEditorModel(std::optional<DictionaryEntry> editing = std::nullopt);

    bool isNew() const { return !original_; }
    std::string title(const Strings& strings) const;

    DictionaryEntry::Kind kind = DictionaryEntry::Kind::term;
    std::string hear;
    std::string write;

    // The entry saving would produce: trimmed fields, no heard text for a term.
    DictionaryEntry draft() const;
    bool isValid() const;
    std::vector<DictionaryWarning> warnings() const;

private:
    std::optional<DictionaryEntry> original_;
    std::string newId_;
};

// The dictionary section: the store's entries narrowed by the search, the row actions and
// the footer. Follows the store, hand edits of the file included. Main executor only.
class DictionaryPanelModel {
public:
    enum class Content { empty, noMatches, list };

    DictionaryPanelModel(DictionaryStore& store, std::function<Strings()> strings);
    // Called whenever the visible entries may have changed.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    const std::string& query() const { return query_; }
    void setQuery(std::string_view query);

    Content content() const;
    EmptyState emptyState() const;
    const std::vector<DictionaryEntry>& entries() const { return entries_; }
    std::string footerText() const;  // the count of all entries, not the matching ones
    std::string kindLabel(const DictionaryEntry& entry) const;
    // Edit, Off/On, Delete: the labels of a row's context menu.
    std::string toggleLabel(const DictionaryEntry& entry) const;

    void toggle(std::size_t row);
    void deleteRow(std::size_t row);
    DictionaryEditorModel editorForNew() const { return DictionaryEditorModel(); }
    DictionaryEditorModel editorFor(std::size_t row) const { return DictionaryEditorModel(entries_.at(row)); }
    // Adds a new entry, or updates the edited one when it still exists. False when invalid.
    bool save(const DictionaryEditorModel& editor);

private:
    void refresh();

    DictionaryStore& store_;
    std::function<Strings()> strings_;
    std::function<void()> onChange_;
    std::string query_;
    std::vector<DictionaryEntry> entries_;
    SequenceChecker sequence_;
    Subscription subscription_;
};

}  // namespace zarn
