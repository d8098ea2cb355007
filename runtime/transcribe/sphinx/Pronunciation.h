#pragma once

#include <functional>
#include <string>

namespace zarn::sphinx {

// The phones (CMU ARPAbet, as in the en-us model) of a word the dictionary lacks, made from
// what it has: parts split at case changes, hyphens and digits; known words inside the
// word; letter names for short all-capital acronyms; simple English spelling rules for the
// rest. `lookup` answers a lower-case word's phones, "" when unknown. "" when the word has
// no letters or digits.
std::string derivePronunciation(const std::string& word, const std::function<std::string(const std::string&)>& lookup);

}  // namespace zarn::sphinx
