#include "transcribe.h"

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "Gguf.h"
#include "SphinxModel.h"

// The records' layout is part of the interface: callers rely on these sizes and offsets.
static_assert(sizeof(transcribe_model_load_params) == 16);
static_assert(sizeof(transcribe_session_params) == 20);
static_assert(sizeof(transcribe_run_params) == 64);
static_assert(offsetof(transcribe_run_params, language) == 24);
static_assert(sizeof(transcribe_stream_params) == 24);
static_assert(sizeof(transcribe_stream_text) == 64);
static_assert(offsetof(transcribe_stream_text, committed) == 24);
static_assert(offsetof(transcribe_stream_text, committed_len) == 32);
static_assert(offsetof(transcribe_stream_text, tentative) == 40);
static_assert(offsetof(transcribe_stream_text, tentative_len) == 48);

struct transcribe_session {
    std::unique_ptr<zarn::sphinx::StreamingDecoder> decoder;
    std::string language;  // the model's language, primary subtag
    bool streaming = false;
    std::string committed;
    std::string tentative;
};

namespace {

// Details of the last failure on this thread, returned as the text of its status.
thread_local std::string tDetail;
thread_local transcribe_status tDetailStatus = TRANSCRIBE_OK;

// Never throws: it runs inside the handlers that keep exceptions from reaching the caller.
transcribe_status fail(transcribe_status status, std::string_view detail, std::string_view more = {}) noexcept {
    tDetailStatus = status;
    try {
        tDetail.assign(detail);
        if (!more.empty()) tDetail.append(" (").append(more).append(")");
    } catch (...) {
        tDetail.clear();
    }
    return status;
}

// Runs the body of an entry point; an exception becomes `status` (memory: its own status).
template <class Body>
transcribe_status guarded(transcribe_status status, const char* what, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail(TRANSCRIBE_OUT_OF_MEMORY, "out of memory");
    } catch (const std::exception& e) {
        return fail(status, what, e.what());
    } catch (...) {
        return fail(status, what);
    }
}

// A record from the caller: NULL (the defaults, where allowed) or of this version's size.
template <class Record>
bool badSize(const Record* record) {
    return record && record->struct_size != sizeof(Record);
}

transcribe_status badRecord(const char* name) { return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: struct_size of", name); }

const char* baseText(transcribe_status status) {
    switch (status) {
        case TRANSCRIBE_FAILURE: return "operation failed";
        case TRANSCRIBE_OK: return "success";
        case TRANSCRIBE_INVALID_ARGUMENT: return "invalid argument";
        case TRANSCRIBE_OUT_OF_MEMORY: return "out of memory";
        case TRANSCRIBE_CANNOT_READ_MODEL: return "cannot read model file";
        case TRANSCRIBE_INVALID_MODEL: return "invalid model file";
        case TRANSCRIBE_UNSUPPORTED_ARCHITECTURE: return "unsupported model architecture";
        case TRANSCRIBE_MODEL_LOAD_FAILED: return "model could not be loaded";
        case TRANSCRIBE_NO_STREAM: return "no stream in progress";
        case TRANSCRIBE_BACKEND_FAILED: return "backend initialization failed";
        case TRANSCRIBE_DECODE_FAILED: return "recognition failed";
        case TRANSCRIBE_UNSUPPORTED_LANGUAGE: return "language not supported by this model";
        default: return "unknown status";
    }
}

// Accepts "en", "en-US", "en_GB", "EN" ... for a model of language "en".
bool acceptsLanguage(const std::string& model, const char* requested) {
    std::string primary;
    for (const char* p = requested; *p && *p != '-' && *p != '_'; ++p) {
        const char c = *p;
        primary += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return !primary.empty() && primary == model;
}

void refreshText(transcribe_session* s) {
    s->committed = s->decoder->committedText();
    s->tentative = s->decoder->tentativeText();
    // The caller joins the two without a separator.
    if (!s->committed.empty()) s->committed += ' ';
}

void fillText(const transcribe_session* s, transcribe_stream_text* text) {
    text->struct_size = sizeof(transcribe_stream_text);
    text->n_utterances = s->decoder->utteranceCount();
    text->committed = s->committed.data();
    text->committed_len = s->committed.size();
    text->tentative = s->tentative.data();
    text->tentative_len = s->tentative.size();
}

}  // namespace

extern "C" {

const char* transcribe_status_string(transcribe_status status) {
    if (status != TRANSCRIBE_OK && status == tDetailStatus && !tDetail.empty()) return tDetail.c_str();
    return baseText(status);
}

#define TRANSCRIBE_TEXT(x) TRANSCRIBE_TEXT_(x)
#define TRANSCRIBE_TEXT_(x) #x
const char* transcribe_version(void) {
    return "transcribe " TRANSCRIBE_TEXT(TRANSCRIBE_VERSION_MAJOR) "." TRANSCRIBE_TEXT(TRANSCRIBE_VERSION_MINOR) "." TRANSCRIBE_TEXT(
        TRANSCRIBE_VERSION_PATCH) " (pocketsphinx)";
}

transcribe_status transcribe_init_backends_default(void) { return TRANSCRIBE_OK; }

void transcribe_model_load_params_init(transcribe_model_load_params* params) {
    if (!params) return;
    *params = {};
    params->struct_size = sizeof *params;
}

void transcribe_session_params_init(transcribe_session_params* params) {
    if (!params) return;
    *params = {};
    params->struct_size = sizeof *params;
    params->n_threads = 1;
}

void transcribe_run_params_init(transcribe_run_params* params) {
    if (!params) return;
    *params = {};
    params->struct_size = sizeof *params;
    params->n_threads = 1;
    params->beam_size = 1;
}

void transcribe_stream_params_init(transcribe_stream_params* params) {
    if (!params) return;
    *params = {};
    params->struct_size = sizeof *params;
    params->sample_rate = 16000;
}

void transcribe_stream_text_init(transcribe_stream_text* text) {
    if (!text) return;
    *text = {};
    text->struct_size = sizeof *text;
}

transcribe_status transcribe_open(const char* model_path, const transcribe_model_load_params* load_params,
                                  const transcribe_session_params* session_params, transcribe_session** out_session) {
    if (!model_path || !out_session || *out_session) {
        return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: no model path, or no empty session slot");
    }
    if (badSize(load_params)) return badRecord("transcribe_model_load_params");
    if (badSize(session_params)) return badRecord("transcribe_session_params");
    return guarded(TRANSCRIBE_MODEL_LOAD_FAILED, "model could not be loaded", [&]() -> transcribe_status {
        std::string error;
        auto mapped = transcribe::gguf::MappedFile::open(model_path, error);
        if (!mapped) return fail(TRANSCRIBE_CANNOT_READ_MODEL, "cannot read model file", error);
        auto file = transcribe::gguf::parse(mapped->data(), mapped->size(), error);
        if (!file) return fail(TRANSCRIBE_INVALID_MODEL, "invalid model file", error);
        const auto architecture = file->string("general.architecture");
        if (!architecture) return fail(TRANSCRIBE_INVALID_MODEL, "invalid model file", "no general.architecture");
        if (*architecture != transcribe::sphinx::kArchitecture) {
            return fail(TRANSCRIBE_UNSUPPORTED_ARCHITECTURE,
                        "unsupported model architecture \"" + std::string(*architecture) + "\"");
        }
        auto session = std::make_unique<transcribe_session>();
        session->decoder = transcribe::sphinx::load(*file, error);
        if (!session->decoder) return fail(TRANSCRIBE_MODEL_LOAD_FAILED, "model could not be loaded", error);
        session->language = transcribe::sphinx::language(*file);
        *out_session = session.release();
        return TRANSCRIBE_OK;
    });
}

void transcribe_session_free(transcribe_session* session) {
    try {
        delete session;
    } catch (...) {
        // Nothing to report it to.
    }
}

transcribe_status transcribe_stream_begin(transcribe_session* session, const transcribe_run_params* run_params,
                                          const transcribe_stream_params* stream_params) {
    if (!session) return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: no session");
    if (badSize(run_params)) return badRecord("transcribe_run_params");
    if (badSize(stream_params)) return badRecord("transcribe_stream_params");
    return guarded(TRANSCRIBE_FAILURE, "could not begin a stream", [&]() -> transcribe_status {
        if (run_params && run_params->language && !acceptsLanguage(session->language, run_params->language)) {
            return fail(TRANSCRIBE_UNSUPPORTED_LANGUAGE, "language \"" + std::string(run_params->language) +
                                                             "\" not supported by this model (it speaks \"" +
                                                             session->language + "\")");
        }
        if (stream_params && stream_params->sample_rate != 0 && stream_params->sample_rate != 16000) {
            return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: the model takes 16000 Hz audio");
        }
        // A stream left open is abandoned, as if reset.
        session->decoder->reset();
        session->committed.clear();
        session->tentative.clear();
        session->streaming = true;
        return TRANSCRIBE_OK;
    });
}

transcribe_status transcribe_stream_feed(transcribe_session* session, const float* samples, int32_t n_samples,
                                         transcribe_stream_text* out_text) {
    if (!session) return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: no session");
    if (n_samples < 0 || (!samples && n_samples > 0)) return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: bad samples");
    if (badSize(out_text)) return badRecord("transcribe_stream_text");
    if (!session->streaming) return fail(TRANSCRIBE_NO_STREAM, "no stream in progress (call transcribe_stream_begin)");
    return guarded(TRANSCRIBE_DECODE_FAILED, "recognition failed", [&]() -> transcribe_status {
        session->decoder->feed(samples, static_cast<std::size_t>(n_samples));
        refreshText(session);
        if (out_text) fillText(session, out_text);
        return TRANSCRIBE_OK;
    });
}

transcribe_status transcribe_stream_finalize(transcribe_session* session, transcribe_stream_text* out_text) {
    if (!session) return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: no session");
    if (badSize(out_text)) return badRecord("transcribe_stream_text");
    if (!session->streaming) return fail(TRANSCRIBE_NO_STREAM, "no stream in progress (call transcribe_stream_begin)");
    return guarded(TRANSCRIBE_DECODE_FAILED, "recognition failed", [&]() -> transcribe_status {
        session->streaming = false;
        session->decoder->finalize();
        refreshText(session);
        if (out_text) fillText(session, out_text);
        return TRANSCRIBE_OK;
    });
}

transcribe_status transcribe_stream_reset(transcribe_session* session) {
    if (!session) return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: no session");
    return guarded(TRANSCRIBE_FAILURE, "could not reset the stream", [&]() -> transcribe_status {
        session->streaming = false;
        session->decoder->reset();
        session->committed.clear();
        session->tentative.clear();
        return TRANSCRIBE_OK;
    });
}

transcribe_status transcribe_stream_get_text(transcribe_session* session, transcribe_stream_text* text) {
    if (!session || !text) return fail(TRANSCRIBE_INVALID_ARGUMENT, "invalid argument: no session or text record");
    if (badSize(text)) return badRecord("transcribe_stream_text");
    fillText(session, text);
    return TRANSCRIBE_OK;
}

}  // extern "C"
