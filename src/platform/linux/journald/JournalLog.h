#pragma once

namespace zarn::journald {

// Sends the process's log records to the systemd journal (fields ZARN_SUBSYSTEM and
// ZARN_CATEGORY, identifier "zarn") when a journal is running; otherwise they stay on
// standard error.
void install();

}  // namespace zarn::journald
