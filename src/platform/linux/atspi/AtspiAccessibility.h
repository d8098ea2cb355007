#pragma once

#include <memory>

#include "inject/Accessibility.h"

namespace zarn::atspi {

// The focused text element through AT-SPI 2. Focus is followed through focus events; when
// none has been seen (or the last one lost the focus) the desktop is searched for the
// focused object in the active windows. Every call happens on the thread that made the
// object, and D-Bus traffic is handled on a main context of its own, so it never runs
// inside someone else's event loop. The bus connection is made once per process and kept:
// use one instance at a time, on one thread, within one desktop session.
class AtspiAccessibility final : public inject::Accessibility {
public:
    AtspiAccessibility();
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    // False when the accessibility bus could not be reached; then nothing has the focus.
    bool available() const;
    std::shared_ptr<inject::AccessibleElement> focusedElement() override;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace zarn::atspi
