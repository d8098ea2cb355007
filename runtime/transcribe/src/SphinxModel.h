#pragma once

#include <memory>
#include <string>

#include "Gguf.h"
#include "sphinx/StreamingDecoder.h"

// PocketSphinx models carried in a GGUF file: architecture "pocketsphinx", the acoustic
// model files as byte tensors "hmm/<file name>", the dictionary as "dict" and the language
// model as "lm" (file names kept in metadata, since the decoder reads by file name).
namespace transcribe::sphinx {

inline constexpr const char* kArchitecture = "pocketsphinx";

// Packs an installed PocketSphinx model folder (the acoustic model folder, a *.dict and a
// language model beside it). `language` empty: taken from the folder name ("en-us" → "en").
bool pack(const std::string& folder, const std::string& outPath, const std::string& language, std::string& error);

// The model's language (primary subtag, lower case), "en" when the file does not say.
std::string language(const gguf::File& file);

// Loads the decoder from a parsed file whose architecture is pocketsphinx.
std::unique_ptr<zarn::sphinx::StreamingDecoder> load(const gguf::File& file, std::string& error);

}  // namespace transcribe::sphinx
