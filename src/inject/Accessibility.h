#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zarn::inject {

// A selection in a text element, in the element's own character offsets; a caret is a
// selection of length 0.
struct TextRange {
    std::int64_t location = 0;
    std::int64_t length = 0;
    bool operator==(const TextRange&) const = default;
};

// The element that has the keyboard focus. Calls go synchronously to the application that
// owns it. Main thread only.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;
    // nullopt when the question cannot be asked.
    virtual std::optional<bool> isSelectedTextSettable() = 0;
    // nullopt when the range cannot be read.
    virtual std::optional<TextRange> selectedTextRange() = 0;
    // Replaces the selection with `text` (or inserts it at the caret); false on error.
    virtual bool setSelectedText(const std::string& text) = 0;
    // Whether the element belongs to a terminal emulator, which reads Ctrl+V as a control
    // character and pastes with Ctrl+Shift+V.
    virtual bool isInTerminal() { return false; }
};

class Accessibility {
public:
    virtual ~Accessibility() = default;
    // The focused element, or nullptr when there is none or it cannot be read.
    virtual std::shared_ptr<AccessibleElement> focusedElement() = 0;
};

}  // namespace zarn::inject
