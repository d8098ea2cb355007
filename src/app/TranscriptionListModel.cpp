#include "app/TranscriptionListModel.h"

#include <algorithm>
#include <utility>

#include "app/SearchText.h"

namespace zarn {

TranscriptionListModel::TranscriptionListModel(Collaborators collaborators) : c_(std::move(collaborators)) {
    runsSubscription_ = c_.store.observeRuns([this](const std::vector<DictationRun>&) {
        carryFoldsOver();
        rebuild();
        scheduleFoldAhead();
    });
    carryFoldsOver();
    rebuild();
    scheduleFoldAhead();
}

void TranscriptionListModel::carryFoldsOver() {
    // Runs change by appends and deletes, so the old and new lists share their order: walk
    // both and keep the folds of the runs still there. A run not found a little ahead (a file
    // edited by hand) is folded afresh.
    constexpr std::size_t lookAhead = 64;
    const auto& runs = c_.store.runs();
    std::vector<Fold> next(runs.size());
    std::size_t j = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        next[i].id = runs[i].id;
        for (std::size_t k = j; k < folds_.size() && k < j + lookAhead; ++k) {
            if (folds_[k].id != runs[i].id) continue;
            next[i] = std::move(folds_[k]);
            j = k + 1;
            break;
        }
    }
    folds_ = std::move(next);
    foldedUpTo_ = 0;
}

void TranscriptionListModel::foldRun(std::size_t index) {
    Fold& fold = folds_[index];
    if (fold.done) return;
    fold.text = search::fold(c_.store.runs()[index].text);
    fold.done = true;
}

void TranscriptionListModel::scheduleFoldAhead() {
    if (foldingAhead_ || foldedUpTo_ >= folds_.size()) return;
    foldingAhead_ = true;
    c_.main.post(lifetime_.guard([this] {
        foldingAhead_ = false;
        foldAhead();
    }));
}

void TranscriptionListModel::foldAhead() {
    // Folding a long history takes a while: done in slices between other work, so the first
    // search finds most of it ready and the window never waits for all of it.
    constexpr std::size_t slice = 2000;
    for (std::size_t end = std::min(folds_.size(), foldedUpTo_ + slice); foldedUpTo_ < end; ++foldedUpTo_) {
        foldRun(foldedUpTo_);
    }
    scheduleFoldAhead();
}

void TranscriptionListModel::setQuery(std::string_view query) {
    ZARN_DCHECK_SEQUENCE(sequence_);
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
        for (std::size_t i = runs.size(); i-- > 0;) {
            foldRun(i);
            if (folds_[i].text.find(foldedQuery_) != std::string::npos) visible_.push_back(i);
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
    ZARN_DCHECK_SEQUENCE(sequence_);
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
    ZARN_DCHECK_SEQUENCE(sequence_);
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
    ZARN_DCHECK_SEQUENCE(sequence_);
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
