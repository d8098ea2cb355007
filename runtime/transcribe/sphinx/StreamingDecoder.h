#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Opaque PocketSphinx decoder type (pocketsphinx.h), kept out of this header.
typedef struct ps_decoder_s ps_decoder_t;

namespace zarn::sphinx {

struct DecoderConfig {
    std::string acousticModelDir;   // folder with mdef, means, ... (e.g. /usr/share/pocketsphinx/model/en-us/en-us)
    std::string dictionaryPath;     // pronunciation dictionary (cmudict-en-us.dict)
    std::string languageModelPath;  // ARPA or binary LM (en-us.lm.bin); empty: no language model
    float sampleRate = 16000;
    // Further decoder options as name/value pairs, e.g. {"-kws_threshold", "1e-20"}.
    std::vector<std::pair<std::string, std::string>> extraOptions;
};

// A continuous recogniser over one audio stream. The stream is cut into utterances at
// silences (the decoder's voice-activity detection); finished utterances become committed
// text and the utterance in progress is the tentative text. Not thread-safe: one owner
// calls it at a time.
class StreamingDecoder {
public:
    // nullptr and a message in `error` when the model cannot be loaded.
    static std::unique_ptr<StreamingDecoder> open(const DecoderConfig& config, std::string& error);
    ~StreamingDecoder();
    StreamingDecoder(const StreamingDecoder&) = delete;
    StreamingDecoder& operator=(const StreamingDecoder&) = delete;

    // 16 kHz mono (the configured rate); floats in -1..1 are clamped and scaled.
    void feed(const float* samples, std::size_t count);
    void feed(const std::int16_t* samples, std::size_t count);

    const std::string& committedText() const { return committed_; }  // finished utterances, joined by single spaces
    std::string tentativeText() const;  // hypothesis of the utterance in progress ("" if none)
    void finalize();                    // ends the utterance in progress (its text becomes committed)
    void reset();                       // forgets everything, ready for a new stream

    // Adds a word with its pronunciation (space-separated phones of the acoustic model)
    // to the dictionary and the active search. Call it between streams. False on failure.
    bool addWord(const std::string& word, const std::string& phones);
    // The pronunciation of a known word, "" when the dictionary lacks it.
    std::string lookupWord(const std::string& word) const;

    // Number of utterances committed since the last reset (non-empty ones only).
    std::size_t utteranceCount() const { return utterances_; }
    // The underlying decoder, for additions such as keyword or grammar searches.
    ps_decoder_t* rawDecoder() const { return ps_; }
    // The phrases the decoder's biased search was last built for (see PhraseBias).
    const std::vector<std::string>& biasPhrases() const { return biasPhrases_; }
    void setBiasPhrases(std::vector<std::string> phrases) { biasPhrases_ = std::move(phrases); }

private:
    explicit StreamingDecoder(ps_decoder_t* ps) : ps_(ps) {}
    void processBlock(const std::int16_t* samples, std::size_t count);
    void ensureUtterance();
    void endUtterance(bool keepText);

    ps_decoder_t* ps_ = nullptr;
    std::string committed_;
    std::size_t utterances_ = 0;
    bool uttOpen_ = false;     // ps_start_utt called, ps_end_utt not yet
    bool inSpeech_ = false;    // the open utterance has seen speech
    std::vector<std::int16_t> scratch_;
    std::vector<std::string> biasPhrases_;
};

}  // namespace zarn::sphinx
