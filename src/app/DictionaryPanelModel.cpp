#include "app/DictionaryPanelModel.h"

#include "base/Unicode.h"
#include "base/Uuid.h"

namespace zarn {

DictionaryEditorModel::DictionaryEditorModel(std::optional<DictionaryEntry> editing)
    : original_(std::move(editing)), newId_(original_ ? std::string() : makeUuid()) {
    if (original_) {
        kind = original_->kind;
        hear = original_->hear;
        write = original_->write;
    }
}

std::string DictionaryEditorModel::title(const Strings& strings) const {
    return isNew() ? strings.dictionary.newEntry : strings.dictionary.editEntry;
}

DictionaryEntry DictionaryEditorModel::draft() const {
    const bool correction = kind == DictionaryEntry::Kind::correction;
    return DictionaryEntry(original_ ? original_->id : newId_, kind, unicode::trimWhitespaceAndNewlines(write),
                           correction ? unicode::trimWhitespaceAndNewlines(hear) : std::string(),
                           original_ ? original_->isEnabled : true);
}

bool DictionaryEditorModel::isValid() const {
    const DictionaryEntry entry = draft();
    return !entry.write.empty() && (entry.kind == DictionaryEntry::Kind::term || !entry.hear.empty());
}

std::vector<DictionaryWarning> DictionaryEditorModel::warnings() const { return DictionaryWarning::check(draft()); }

DictionaryPanelModel::DictionaryPanelModel(DictionaryStore& store, std::function<Strings()> strings)
    : store_(store), strings_(std::move(strings)) {
    subscription_ = store_.observeRevision([this](const long&) { refresh(); });
    refresh();
}

void DictionaryPanelModel::setQuery(std::string_view query) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    query_ = std::string(query);
    refresh();
}

void DictionaryPanelModel::refresh() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    entries_ = store_.filtered(query_);
    if (onChange_) onChange_();
}

DictionaryPanelModel::Content DictionaryPanelModel::content() const {
    if (store_.entries().empty()) return Content::empty;
    return entries_.empty() ? Content::noMatches : Content::list;
}

EmptyState DictionaryPanelModel::emptyState() const {
    const auto& d = strings_().dictionary;
    if (content() == Content::empty) return {d.emptyTitle, "accessories-dictionary", d.emptyDetail};
    return {d.noMatchesTitle, "edit-find", d.noMatchesDetail};
}

std::string DictionaryPanelModel::footerText() const {
    return strings_().dictionary.entryCount(static_cast<std::int64_t>(store_.entries().size()));
}

std::string DictionaryPanelModel::kindLabel(const DictionaryEntry& entry) const {
    const auto& d = strings_().dictionary;
    return entry.kind == DictionaryEntry::Kind::correction ? d.kindFix : d.kindTerm;
}

std::string DictionaryPanelModel::toggleLabel(const DictionaryEntry& entry) const {
    const auto& d = strings_().dictionary;
    return entry.isEnabled ? d.turnOff : d.turnOn;
}

void DictionaryPanelModel::toggle(std::size_t row) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (row >= entries_.size()) return;
    DictionaryEntry flipped = entries_[row];
    flipped.isEnabled = !flipped.isEnabled;
    store_.update(flipped);
}

void DictionaryPanelModel::deleteRow(std::size_t row) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (row >= entries_.size()) return;
    const DictionaryEntry doomed = entries_[row];
    store_.deleteEntry(doomed);
}

bool DictionaryPanelModel::save(const DictionaryEditorModel& editor) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (!editor.isValid()) return false;
    if (editor.isNew()) {
        store_.add(editor.draft());
    } else {
        store_.update(editor.draft());
    }
    return true;
}

}  // namespace zarn
