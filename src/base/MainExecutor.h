#pragma once

#include "base/Executor.h"

namespace zarn {

// The process's main executor, for shared services made on first use (DictionaryStore::shared()).
// The application or the command line installs it once at start-up, before any shared
// service is reached; it must outlive them.
void setMainExecutor(Executor& executor);
// Throws std::logic_error when none was installed.
Executor& mainExecutor();

}  // namespace zarn
