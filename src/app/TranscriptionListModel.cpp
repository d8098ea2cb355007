#include "app/TranscriptionListModel.h"

#include <algorithm>

#include "app/SearchText.h"

namespace zarn {

TranscriptionListModel::TranscriptionListModel(Collaborators collaborators) : c_(std::move(collaborators)) {
    runsSubscription_ = c_.store.observeRuns([this](const std::vector<DictationRun>&) { rebuild(); });
    rebuild();
}

void TranscriptionListModel::setQuery(std::string_view query) {
    query_ = std::string(query);
    std::string folded = search::foldedQuery(query_);
    if (folded == foldedQuery_) return;
    foldedQuery_ = std::move(folded);
    rebuild();
}

void TranscriptionListModel::rebuild() {
    const auto& runs = c_.store.runs();
    visible_.clear();
    if (foldedQuery_.empty()) {
        visible_.reserve(runs.size());
        for (std::size_t i = runs.size(); i-- > 0;) visible_.push_back(i);
    } else {
        if (folded_.size() > 2 * runs.size() + 64) folded_.clear();
        for (std::size_t i = runs.size(); i-- > 0;) {
            auto [it, added] = folded_.try_emplace(runs[i].id);
            if (added) it->second = search::fold(runs[i].text);
            if (it->second.find(foldedQuery_) != std::string::npos) visible_.push_back(i);
        }
    }
    if (listener_.reset) listener_.reset();
}

TranscriptionListModel::Content TranscriptionListModel::content() const {
    if (c_.store.runs().empty()) return Content::empty;
    return visible_.empty() ? Content::noMatches : Content::list;
}

EmptyState TranscriptionListModel::emptyState() const {
    const auto& t = c_.strings().transcriptions;
    if (content() == Content::empty) return {t.emptyTitle, "audio-input-microphone", t.emptyDetail};
    return {t.noMatchesTitle, "edit-find", t.noMatchesDetail};
}

const DictationRun& TranscriptionListModel::run(std::size_t row) const { return c_.store.runs().at(visible_.at(row)); }

std::string TranscriptionListModel::footerText() const {
    return c_.strings().transcriptions.recordingCount(static_cast<std::int64_t>(c_.store.runs().size()));
}

bool TranscriptionListModel::didCopy(std::size_t row) const { return copied_.count(run(row).id) > 0; }

std::string TranscriptionListModel::copyLabel(std::size_t row) const {
    const auto& t = c_.strings().transcriptions;
    return didCopy(row) ? t.copied : t.copy;
}

std::ptrdiff_t TranscriptionListModel::rowOf(const std::string& id) const {
    const auto& runs = c_.store.runs();
    auto it = std::find_if(visible_.begin(), visible_.end(), [&](std::size_t i) { return runs[i].id == id; });
    return it == visible_.end() ? -1 : it - visible_.begin();
}

void TranscriptionListModel::copy(std::size_t row) {
    const DictationRun& copied = run(row);
    if (c_.copyText) c_.copyText(copied.text);
    copied_.insert(copied.id);
    if (listener_.rowChanged) listener_.rowChanged(row);
    // Each copy ends its own feedback; with two quick copies the first to end clears it.
    c_.main.postAfter(copyFeedback, lifetime_.guard([this, id = copied.id] {
        if (!copied_.erase(id)) return;
        if (auto at = rowOf(id); at >= 0 && listener_.rowChanged) listener_.rowChanged(static_cast<std::size_t>(at));
    }));
}

void TranscriptionListModel::deleteRow(std::size_t row) {
    if (row >= visible_.size()) return;
    const DictationRun doomed = run(row);
    c_.store.deleteRun(doomed);
}

std::string TranscriptionListModel::confirmationTitle() const {
    return c_.strings().transcriptions.deleteAllConfirm(static_cast<std::int64_t>(c_.store.runs().size()));
}

void TranscriptionListModel::setConfirming(bool on) {
    if (confirmingClear_ == on) return;
    confirmingClear_ = on;
    if (listener_.confirmationChanged) listener_.confirmationChanged();
}

void TranscriptionListModel::askToDeleteAll() { setConfirming(true); }

void TranscriptionListModel::confirmDeleteAll() {
    if (!confirmingClear_) return;
    setConfirming(false);
    c_.store.clear();
}

void TranscriptionListModel::cancelDeleteAll() { setConfirming(false); }

RecordButton RecordButton::current(const Controls& controls, const Strings& strings) {
    if (controls.isActive()) return {strings.transport.stop, "media-playback-stop", true};
    return {strings.transport.record, "media-record", false};
}

void RecordButton::press(const Controls& controls) {
    if (controls.isActive()) {
        controls.stop();
    } else {
        controls.start();
    }
}

}  // namespace zarn
