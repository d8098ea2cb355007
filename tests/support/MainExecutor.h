#pragma once

#include "base/MainExecutor.h"
#include "base/ManualExecutor.h"

namespace zarn::test {

// The main executor every test program installs before its tests run, as the programs do
// at start-up; tests that reach shared services drive it.
ManualExecutor& mainExecutor();

}  // namespace zarn::test
