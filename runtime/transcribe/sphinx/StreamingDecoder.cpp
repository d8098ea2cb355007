#include "sphinx/StreamingDecoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace zarn::sphinx {

namespace {

// The decoder is fed in blocks no longer than this (128 ms at 16 kHz), so that the
// voice-activity state is looked at often enough to cut utterances at short pauses.
constexpr std::size_t kBlockSamples = 2048;
// cmd_ln_init takes a NULL-terminated list of name/value strings.
constexpr std::size_t kMaxArgs = 64;

// The library ends the process (exit()) on what it deems a fatal error, after passing the
// message to the error callback; while a decoder is being loaded the callback jumps back to
// the loader instead, so a model the library cannot take is an error, not the end.
thread_local std::jmp_buf* fatalJump = nullptr;

void onLibraryMessage(void*, err_lvl_t level, const char*, ...) {
    if (level == ERR_FATAL && fatalJump) std::longjmp(*fatalJump, 1);
}

void installLibraryCallback() {
    static std::once_flag once;
    std::call_once(once, [] {
        err_set_logfp(nullptr);  // the configuration dump goes there, not through the callback
        err_set_callback(&onLibraryMessage, nullptr);
    });
}

// No C++ object lives in this frame, so jumping back into it skips no destructor; what the
// library allocated before the jump is lost, which is the price of staying alive.
ps_decoder_t* initOrNull(cmd_ln_t* cmdln) {
    std::jmp_buf jump;
    ps_decoder_t* volatile ps = nullptr;
    jmp_buf* previousAlloc = ckd_set_jump(&jump, 0);
    fatalJump = &jump;
    if (setjmp(jump) == 0) ps = ps_init(cmdln);
    fatalJump = nullptr;
    ckd_set_jump(previousAlloc, 0);
    return ps;
}

std::string trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string formatRate(float rate) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(rate));
    return buffer;
}

}  // namespace

std::unique_ptr<StreamingDecoder> StreamingDecoder::open(const DecoderConfig& config, std::string& error) {
    namespace fs = std::filesystem;
    installLibraryCallback();
    std::error_code ec;
    if (config.acousticModelDir.empty() || !fs::is_directory(config.acousticModelDir, ec)) {
        error = "acoustic model folder not found: " + config.acousticModelDir;
        return nullptr;
    }
    if (config.dictionaryPath.empty() || !fs::is_regular_file(config.dictionaryPath, ec)) {
        error = "pronunciation dictionary not found: " + config.dictionaryPath;
        return nullptr;
    }
    if (!config.languageModelPath.empty() && !fs::is_regular_file(config.languageModelPath, ec)) {
        error = "language model not found: " + config.languageModelPath;
        return nullptr;
    }
    if (!(config.sampleRate >= 8000 && config.sampleRate <= 48000)) {
        error = "unsupported sample rate " + formatRate(config.sampleRate);
        return nullptr;
    }

    std::vector<std::string> args = {"-hmm", config.acousticModelDir, "-dict", config.dictionaryPath,
                                     "-samprate", formatRate(config.sampleRate)};
    if (!config.languageModelPath.empty()) {
        args.push_back("-lm");
        args.push_back(config.languageModelPath);
    }
    for (const auto& [name, value] : config.extraOptions) {
        args.push_back(name);
        args.push_back(value);
    }
    if (args.size() >= kMaxArgs) {
        error = "too many decoder options";
        return nullptr;
    }
    const char* a[kMaxArgs] = {};
    for (std::size_t i = 0; i < args.size(); ++i) a[i] = args[i].c_str();

    // The list ends at the first null entry; the unused slots are all null.
    cmd_ln_t* cmdln = cmd_ln_init(nullptr, ps_args(), TRUE, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8],
                                  a[9], a[10], a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19], a[20],
                                  a[21], a[22], a[23], a[24], a[25], a[26], a[27], a[28], a[29], a[30], a[31], a[32],
                                  a[33], a[34], a[35], a[36], a[37], a[38], a[39], a[40], a[41], a[42], a[43], a[44],
                                  a[45], a[46], a[47], a[48], a[49], a[50], a[51], a[52], a[53], a[54], a[55], a[56],
                                  a[57], a[58], a[59], a[60], a[61], a[62], a[63], static_cast<const char*>(nullptr));
    if (!cmdln) {
        error = "invalid decoder options";
        return nullptr;
    }
    ps_decoder_t* ps = initOrNull(cmdln);
    cmd_ln_free_r(cmdln);  // the decoder keeps its own reference
    if (!ps) {
        error = "cannot load the speech model from " + config.acousticModelDir;
        return nullptr;
    }
    return std::unique_ptr<StreamingDecoder>(new StreamingDecoder(ps));
}

StreamingDecoder::~StreamingDecoder() {
    if (uttOpen_) ps_end_utt(ps_);
    ps_free(ps_);
}

void StreamingDecoder::feed(const float* samples, std::size_t count) {
    if (!samples) return;
    while (count > 0) {
        const std::size_t n = std::min(count, kBlockSamples);
        scratch_.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            float v = samples[i];
            if (!std::isfinite(v)) v = 0.0f;
            v = std::clamp(v, -1.0f, 1.0f);
            scratch_[i] = static_cast<std::int16_t>(std::lround(v * 32767.0f));
        }
        processBlock(scratch_.data(), n);
        samples += n;
        count -= n;
    }
}

void StreamingDecoder::feed(const std::int16_t* samples, std::size_t count) {
    if (!samples) return;
    while (count > 0) {
        const std::size_t n = std::min(count, kBlockSamples);
        processBlock(samples, n);
        samples += n;
        count -= n;
    }
}

void StreamingDecoder::ensureUtterance() {
    if (uttOpen_) return;
    if (ps_start_utt(ps_) == 0) {
        uttOpen_ = true;
        inSpeech_ = false;
    }
}

void StreamingDecoder::processBlock(const std::int16_t* samples, std::size_t count) {
    ensureUtterance();
    if (!uttOpen_) return;
    ps_process_raw(ps_, samples, count, FALSE, FALSE);
    const bool speech = ps_get_in_speech(ps_) != 0;
    if (speech) {
        inSpeech_ = true;
    } else if (inSpeech_) {
        // Speech has been followed by silence: the utterance is over.
        endUtterance(true);
    }
}

void StreamingDecoder::endUtterance(bool keepText) {
    if (!uttOpen_) return;
    ps_end_utt(ps_);
    uttOpen_ = false;
    if (keepText && inSpeech_) {
        const char* hyp = ps_get_hyp(ps_, nullptr);
        const std::string text = hyp ? trimmed(hyp) : std::string();
        if (!text.empty()) {
            if (!committed_.empty()) committed_ += ' ';
            committed_ += text;
            ++utterances_;
        }
    }
    inSpeech_ = false;
}

std::string StreamingDecoder::tentativeText() const {
    if (!uttOpen_ || !inSpeech_) return {};
    const char* hyp = ps_get_hyp(ps_, nullptr);
    return hyp ? trimmed(hyp) : std::string();
}

void StreamingDecoder::finalize() { endUtterance(true); }

void StreamingDecoder::reset() {
    endUtterance(false);
    committed_.clear();
    utterances_ = 0;
}

bool StreamingDecoder::addWord(const std::string& word, const std::string& phones) {
    if (word.empty() || phones.empty()) return false;
    return ps_add_word(ps_, word.c_str(), phones.c_str(), TRUE) >= 0;
}

std::string StreamingDecoder::lookupWord(const std::string& word) const {
    char* phones = ps_lookup_word(ps_, word.c_str());
    if (!phones) return {};
    std::string result(phones);
    ckd_free(phones);
    return result;
}

}  // namespace zarn::sphinx
