#pragma once

#include <string>
#include <string_view>

namespace zarn {

// A random (version 4) UUID in upper case, e.g. "3F2504E0-4F89-41D3-9A0C-0305E82C3301".
std::string makeUuid();
// True for the 8-4-4-4-12 hexadecimal form, either case.
bool isUuid(std::string_view text);

}  // namespace zarn
