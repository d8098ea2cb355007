#pragma once

#include "base/Executor.h"

namespace zarn {

// The process's main executor, for shared services made on first use (DictionaryStore::shared()).
// Every program installs it first thing in main() (the application, the command line, the
// test main), so a shared service always finds it; it must outlive them.
void setMainExecutor(Executor& executor);
// A program that reaches a shared service without installing one is faulty: throws
// std::logic_error.
Executor& mainExecutor();

}  // namespace zarn
