#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/linux/x11clipboard/X11Clipboard.h"

namespace zarn::x11 {

// An X11 selection dies with the client that owns it. At exit, a process that owns the
// clipboard calls handOverClipboard so the user's content outlives it: the clipboard
// manager saves it when one runs (SAVE_TARGETS), otherwise a detached
// `zarnExecutable insert --serve-clipboard` serves it until another client copies.
// True when the clipboard is not ours or was handed over; otherwise `error` (if given)
// says why. Meant for the end of the process: the background copy is never waited for.
bool handOverClipboard(X11Clipboard& clipboard, const std::filesystem::path& zarnExecutable, std::string* error,
                       std::chrono::milliseconds managerTimeout = std::chrono::seconds(2));

// The flag of `zarn insert` that runs the background copy.
inline constexpr std::string_view serveClipboardFlag = "--serve-clipboard";

// The background copy's side: owns the clipboard with the targets handed over in
// `encodedTargets`, writes one byte to `readyFd` once it is the owner, and serves until
// another client takes the clipboard. The exit status for the command.
int serveHandedOverClipboard(int readyFd, std::string_view encodedTargets);

}  // namespace zarn::x11
