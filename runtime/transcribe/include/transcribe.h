/* transcribe: a small streaming speech-recognition runtime with a C interface.
 *
 * Call order per session: transcribe_open, then for each stream transcribe_stream_begin,
 * any number of transcribe_stream_feed, transcribe_stream_finalize (or
 * transcribe_stream_reset to abandon it); transcribe_session_free at the end. One session
 * must not be called from two threads at once. Records are zero-filled by the caller and
 * passed to their *_init function to receive the defaults before use. */
#ifndef TRANSCRIBE_H
#define TRANSCRIBE_H

#include <stdint.h>

#if defined(__GNUC__)
#define TRANSCRIBE_API __attribute__((visibility("default")))
#else
#define TRANSCRIBE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t transcribe_status;

enum {
    TRANSCRIBE_FAILURE = -1,
    TRANSCRIBE_OK = 0,
    TRANSCRIBE_INVALID_ARGUMENT = 1,
    TRANSCRIBE_OUT_OF_MEMORY = 2,
    TRANSCRIBE_CANNOT_READ_MODEL = 3,
    TRANSCRIBE_INVALID_MODEL = 4,
    TRANSCRIBE_UNSUPPORTED_ARCHITECTURE = 5,
    TRANSCRIBE_MODEL_LOAD_FAILED = 6,
    TRANSCRIBE_NO_STREAM = 7,
    TRANSCRIBE_BACKEND_FAILED = 8,
    TRANSCRIBE_DECODE_FAILED = 9,
    TRANSCRIBE_UNSUPPORTED_LANGUAGE = 10
};

typedef struct transcribe_session transcribe_session;

/* 16 bytes. */
typedef struct transcribe_model_load_params {
    uint32_t struct_size;
    uint32_t flags;
    uint32_t reserved[2];
} transcribe_model_load_params;

/* 20 bytes. */
typedef struct transcribe_session_params {
    uint32_t struct_size;
    uint32_t n_threads;
    uint32_t flags;
    uint32_t reserved[2];
} transcribe_session_params;

/* 64 bytes. */
typedef struct transcribe_run_params {
    uint32_t struct_size;
    uint32_t n_threads;
    float temperature;
    uint32_t beam_size;
    uint64_t reserved0;
    const char* language; /* offset 24: NUL-terminated BCP 47 code, or NULL to let the model decide */
    uint32_t flags;
    uint32_t reserved1;
    uint64_t reserved2[3];
} transcribe_run_params;

/* 24 bytes. */
typedef struct transcribe_stream_params {
    uint32_t struct_size;
    uint32_t sample_rate; /* of the fed samples; the model's rate by default */
    uint32_t flags;
    uint32_t reserved0;
    uint64_t reserved1;
} transcribe_stream_params;

/* 64 bytes. The texts are UTF-8, not NUL-terminated, owned by the session and valid until
 * the next call on it. */
typedef struct transcribe_stream_text {
    uint32_t struct_size;
    uint32_t flags;
    uint64_t n_utterances; /* utterances committed so far */
    uint64_t reserved0;
    const char* committed; /* offset 24 */
    uint64_t committed_len; /* offset 32 */
    const char* tentative; /* offset 40 */
    uint64_t tentative_len; /* offset 48 */
    uint64_t reserved1;
} transcribe_stream_text;

/* A non-null text for every status (unknown codes included). After a failed call the text
 * for that status may carry details of the failure, until the next failure on the thread. */
TRANSCRIBE_API const char* transcribe_status_string(transcribe_status status);
TRANSCRIBE_API const char* transcribe_version(void);
TRANSCRIBE_API transcribe_status transcribe_init_backends_default(void);

TRANSCRIBE_API void transcribe_model_load_params_init(transcribe_model_load_params* params);
TRANSCRIBE_API void transcribe_session_params_init(transcribe_session_params* params);
TRANSCRIBE_API void transcribe_run_params_init(transcribe_run_params* params);
TRANSCRIBE_API void transcribe_stream_params_init(transcribe_stream_params* params);
TRANSCRIBE_API void transcribe_stream_text_init(transcribe_stream_text* text);

/* Opens a GGUF model file. *out_session must be NULL on entry and is set on success only. */
TRANSCRIBE_API transcribe_status transcribe_open(const char* model_path, const transcribe_model_load_params* load_params,
                                                 const transcribe_session_params* session_params,
                                                 transcribe_session** out_session);
TRANSCRIBE_API void transcribe_session_free(transcribe_session* session);

TRANSCRIBE_API transcribe_status transcribe_stream_begin(transcribe_session* session,
                                                         const transcribe_run_params* run_params,
                                                         const transcribe_stream_params* stream_params);
/* Mono float samples in -1..1. out_text, when not NULL, receives the text as from
 * transcribe_stream_get_text. */
TRANSCRIBE_API transcribe_status transcribe_stream_feed(transcribe_session* session, const float* samples,
                                                        int32_t n_samples, transcribe_stream_text* out_text);
TRANSCRIBE_API transcribe_status transcribe_stream_finalize(transcribe_session* session,
                                                            transcribe_stream_text* out_text);
TRANSCRIBE_API transcribe_status transcribe_stream_reset(transcribe_session* session);
TRANSCRIBE_API transcribe_status transcribe_stream_get_text(transcribe_session* session,
                                                            transcribe_stream_text* text);

#ifdef __cplusplus
}
#endif

#endif /* TRANSCRIBE_H */
