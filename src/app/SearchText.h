#pragma once

#include <string>
#include <string_view>

namespace zarn::search {

// The form in which search compares text: canonical decomposition without combining marks
// or default-ignorable characters, then full case folding (Turkic dotted/dotless i in a
// Turkish or Azeri locale). Two texts whose folds contain one another are equal at the
// collator's primary strength for the root collation, so a long history can be folded once
// and searched with plain substring tests.
std::string fold(std::string_view utf8);

// The user's query for a search field: trimmed, then folded; empty means "show everything".
std::string foldedQuery(std::string_view query);

}  // namespace zarn::search
