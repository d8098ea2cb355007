#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <variant>

#include "base/Executor.h"
#include "base/Reply.h"
#include "base/SequenceChecker.h"
#include "contracts/Output.h"
#include "inject/Accessibility.h"
#include "inject/KeySynthesizer.h"
#include "inject/Pasteboard.h"

namespace zarn {

// Puts finished text into the focused text field: through accessibility when the element
// takes it and its selection visibly moves, otherwise by pasting it from the clipboard and
// restoring the clipboard's earlier content afterwards. Lives on the main executor.
class TextInjector final : public TextInserter {
public:
    static constexpr Duration pasteDelay = std::chrono::milliseconds(40);
    static constexpr Duration restoreDelay = std::chrono::milliseconds(500);

    // The collaborators must outlive the injector: a paste still under way when it is
    // destroyed is abandoned and the clipboard restored at once.
    TextInjector(inject::Accessibility& accessibility, inject::Pasteboard& pasteboard,
                 inject::KeySynthesizer& keys, Executor& mainExecutor);
    ~TextInjector() override;
    TextInjector(const TextInjector&) = delete;
    TextInjector& operator=(const TextInjector&) = delete;

    // Returns after the accessibility attempt, or once the paste is under way (or queued
    // behind the paste still in progress).
    void insert(const std::string& text) override;

    // True while a paste has not yet restored the clipboard.
    bool isPasting() const { return pasting_; }

private:
    struct Inserted {};
    struct Unverified {
        std::string reason;
    };
    using AXOutcome = std::variant<Inserted, Unverified>;

    AXOutcome insertViaAccessibility(const std::string& text);
    void insertViaPasteboard(const std::string& text);
    void load(const std::string& text);
    void postPaste(const std::string& text);
    void finishPaste();
    bool changedSinceLoad();
    void restore(const std::optional<inject::PasteboardSnapshot>& snapshot);

    inject::Accessibility& accessibility_;
    inject::Pasteboard& pasteboard_;
    inject::KeySynthesizer& keys_;
    Executor& main_;

    // One paste at a time: a paste asked for while another is under way waits for it, and
    // takes over its snapshot, so the user's own content is what finally comes back.
    bool pasting_ = false;
    std::optional<inject::PasteboardSnapshot> saved_;
    std::int64_t loadedChangeCount_ = 0;
    std::string loadedText_;
    std::deque<std::string> waiting_;
    TimerHandle timer_;
    SequenceChecker sequence_;
    Lifetime lifetime_;
};

}  // namespace zarn
