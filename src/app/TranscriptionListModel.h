#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "contracts/DictationRun.h"
#include "history/RunStore.h"
#include "strings/Strings.h"

namespace zarn {

// What an empty list shows instead: a title, a freedesktop icon name and a line of help.
struct EmptyState {
    std::string title;
    std::string icon;
    std::string detail;
};

// The transcription history as the main window shows it: newest first, narrowed by the
// search query, with the per-row copy feedback and the "Delete all" confirmation.
// Main executor only; the executor is also the clock of the copy feedback.
class TranscriptionListModel {
public:
    enum class Content { empty, noMatches, list };
    static constexpr Duration copyFeedback = std::chrono::milliseconds(1400);

    struct Collaborators {
        Executor& main;
        RunStore& store;
        std::function<Strings()> strings;
        std::function<void(const std::string&)> copyText;  // puts plain text on the clipboard
    };
    // The view's hooks: the visible rows were rebuilt; one row's look changed; the
    // confirmation opened or closed.
    struct Listener {
        std::function<void()> reset;
        std::function<void(std::size_t)> rowChanged;
        std::function<void()> confirmationChanged;
    };

    explicit TranscriptionListModel(Collaborators collaborators);
    void setListener(Listener listener) { listener_ = std::move(listener); }

    const std::string& query() const { return query_; }
    void setQuery(std::string_view query);

    Content content() const;
    EmptyState emptyState() const;  // for the two empty contents
    std::size_t rowCount() const { return visible_.size(); }
    const DictationRun& run(std::size_t row) const;
    std::string footerText() const;  // the count of all stored runs, not the visible ones

    bool didCopy(std::size_t row) const;
    std::string copyLabel(std::size_t row) const;
    void copy(std::size_t row);
    void deleteRow(std::size_t row);

    bool isConfirmingClear() const { return confirmingClear_; }
    std::string confirmationTitle() const;
    void askToDeleteAll();
    void confirmDeleteAll();
    void cancelDeleteAll();

private:
    void rebuild();
    // Folds the texts of a few runs not folded yet, then lets other work run before the next few.
    void foldAhead();
    void scheduleFoldAhead();
    void carryFoldsOver();
    void foldRun(std::size_t index);
    void setConfirming(bool on);
    std::ptrdiff_t rowOf(const std::string& id) const;

    Collaborators c_;
    Listener listener_;
    std::string query_;
    std::string foldedQuery_;
    // Indices into store.runs(), newest first.
    std::vector<std::size_t> visible_;
    // The searchable form of each run's text, parallel to store.runs(); kept across reloads.
    struct Fold {
        std::string id;
        std::string text;
        bool done = false;
    };
    std::vector<Fold> folds_;
    std::size_t foldedUpTo_ = 0;  // runs[0..foldedUpTo_) were handed to foldAhead
    bool foldingAhead_ = false;
    std::unordered_set<std::string> copied_;
    bool confirmingClear_ = false;
    Subscription runsSubscription_;
    SequenceChecker sequence_;
    Lifetime lifetime_;
};

// The toolbar's Record/Stop button: which face it shows and what pressing it does.
struct RecordButton {
    struct Controls {
        std::function<bool()> isActive;
        std::function<void()> start;
        std::function<void()> stop;
    };
    std::string label;
    std::string icon;  // freedesktop icon name
    bool stops = false;

    static RecordButton current(const Controls& controls, const Strings& strings);
    // Stops an active dictation; otherwise starts one. Never starts a second.
    static void press(const Controls& controls);
};

}  // namespace zarn
