#include "inject/TextInjector.h"

#include "base/Log.h"
#include "base/Unicode.h"

namespace zarn {

namespace {

long characterCount(const std::string& text) {
    return static_cast<long>(unicode::graphemeCount(text));
}

}  // namespace

TextInjector::TextInjector(inject::Accessibility& accessibility, inject::Pasteboard& pasteboard,
                           inject::KeySynthesizer& keys, Executor& mainExecutor)
    : accessibility_(accessibility), pasteboard_(pasteboard), keys_(keys), main_(mainExecutor) {}

TextInjector::~TextInjector() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    timer_.cancel();
    // Going away mid-paste must not leave the dictated text in place of the user's content.
    if (pasting_ && !changedSinceLoad()) restore(saved_);
}

void TextInjector::insert(const std::string& text) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (text.empty()) return;
    auto outcome = insertViaAccessibility(text);
    if (std::holds_alternative<Inserted>(outcome)) {
        Log::inject().info("inserted via AX (%ld chars)", characterCount(text));
        return;
    }
    Log::inject().info("AX insert not verified (%{public}s) — pasting", std::get<Unverified>(outcome).reason);
    insertViaPasteboard(text);
}

TextInjector::AXOutcome TextInjector::insertViaAccessibility(const std::string& text) {
    auto element = accessibility_.focusedElement();
    if (!element) return Unverified{"no focused element"};
    auto settable = element->isSelectedTextSettable();
    if (!settable || !*settable) return Unverified{"selected text not settable"};
    auto before = element->selectedTextRange();
    if (!before) return Unverified{"no readable selection range"};
    if (!element->setSelectedText(text)) return Unverified{"set attribute failed"};
    auto after = element->selectedTextRange();
    if (!after) return Unverified{"selection range unreadable after write"};
    if (*after == *before) return Unverified{"selection unmoved at " + std::to_string(before->location)};
    return Inserted{};
}

void TextInjector::insertViaPasteboard(const std::string& text) {
    if (pasting_) {
        // The clipboard now holds the earlier dictation, not the user's content: wait.
        waiting_.push_back(text);
        return;
    }
    saved_ = pasteboard_.items();
    load(text);
}

void TextInjector::load(const std::string& text) {
    pasting_ = true;
    pasteboard_.clearContents();
    pasteboard_.setString(text);
    loadedText_ = text;
    loadedChangeCount_ = pasteboard_.changeCount();
    timer_ = main_.postAfter(pasteDelay, lifetime_.guard([this, text] { postPaste(text); }));
}

void TextInjector::postPaste(const std::string& text) {
    // Asked at the keystroke, not at the insert: the text may have waited behind another paste.
    auto element = accessibility_.focusedElement();
    if (keys_.postPaste(element && element->isInTerminal())) {
        Log::inject().info("pasted (%ld chars)", characterCount(text));
    } else {
        Log::inject().error("paste shortcut could not be synthesized (%ld chars)", characterCount(text));
    }
    timer_ = main_.postAfter(restoreDelay, lifetime_.guard([this] { finishPaste(); }));
}

bool TextInjector::changedSinceLoad() {
    if (pasteboard_.changeCount() == loadedChangeCount_) return false;
    // A clipboard manager that takes over the selection to keep our text alive is no copy
    // by the user: what it holds is still the dictated text.
    auto now = pasteboard_.items();
    if (!now) return true;
    for (const auto& item : *now) {
        for (const auto& data : item) {
            if (data.bytes == loadedText_) return false;
        }
    }
    return true;
}

void TextInjector::finishPaste() {
    bool userChanged = changedSinceLoad();
    if (userChanged) {
        // Something was copied after the text was loaded; it is newer than the snapshot.
        Log::inject().info("clipboard changed during the paste — not restored");
        saved_ = std::nullopt;
    }
    if (!waiting_.empty()) {
        auto next = std::move(waiting_.front());
        waiting_.pop_front();
        if (userChanged) saved_ = pasteboard_.items();
        load(next);
        return;
    }
    if (!userChanged) restore(saved_);
    saved_ = std::nullopt;
    pasting_ = false;
}

void TextInjector::restore(const std::optional<inject::PasteboardSnapshot>& snapshot) {
    if (!snapshot || snapshot->empty()) return;  // the dictated text stays
    pasteboard_.clearContents();
    pasteboard_.writeItems(*snapshot);
}

}  // namespace zarn
