#pragma once

#include <string>
#include <vector>

#include "sphinx/StreamingDecoder.h"

namespace zarn::sphinx {

// Makes a decoder expect certain phrases: words it does not know are added with a derived
// pronunciation (as written, so they come out spelled that way), and a small language
// model of the phrases is interpolated with the decoder's own with weight `weight`.
// Call between streams (after reset()). False with a reason when it cannot be applied;
// the decoder then keeps its plain language model.
bool applyPhraseBias(StreamingDecoder& decoder, const std::vector<std::string>& phrases, float weight,
                     std::string& error);
// Back to the plain language model (added words stay known).
void clearPhraseBias(StreamingDecoder& decoder);

// The words of a phrase as the recogniser will see them: split at white space, with
// surrounding punctuation removed; tokens without a letter or digit are dropped.
std::vector<std::string> phraseWords(const std::string& phrase);
// The text of an ARPA language model of the phrases (unigrams and bigrams, sentence marks).
std::string phraseLanguageModel(const std::vector<std::vector<std::string>>& phrases);

}  // namespace zarn::sphinx
