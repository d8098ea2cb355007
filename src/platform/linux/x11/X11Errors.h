#pragma once

// Xlib's error handlers are process-wide: setting one from two modules (the key hook, the
// clipboard, the key synthesis, the HUD) lets each undo the other's, and the default handlers
// end the process. This is their only owner; every module states its connections and traps here.

#include <string>

typedef struct _XDisplay Display;

namespace zarn::x11 {

// Registers a connection of ours until `releaseConnection`: an X error on it outside an
// ErrorTrap is ignored (requests whose outcome matters run in a trap), and a lost connection
// returns to the connection's exit handler (XSetIOErrorExitHandler) instead of ending the
// process. Errors on anyone else's connection go to the handlers that were there before.
// Thread-safe.
void adoptConnection(Display* display);
void releaseConnection(Display* display);

// Opens the display named `requested` (DISPLAY's when empty) and adopts it; throws a
// MessageError naming the display when it cannot. `closeConnection` closes and releases it.
Display* openConnection(const std::string& requested);
void closeConnection(Display* display);

// Collects the errors of the requests made on `display` while it lives, from the thread that
// uses the display. Traps on one display nest; the inner one sees its own requests' errors.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits until the server has answered every request so far; the first error's code, 0 for none.
    int sync();

private:
    friend struct ErrorHandlers;
    Display* display_;
    ErrorTrap* outer_ = nullptr;
    int error_ = 0;
};

}  // namespace zarn::x11
