/* transcribe: a small streaming speech-recognition runtime with a C interface.
 *
 *     transcribe_model_load_params load;  transcribe_model_load_params_init(&load);
 *     transcribe_session_params sp;        transcribe_session_params_init(&sp);
 *     transcribe_run_params run;           transcribe_run_params_init(&run);
 *     transcribe_stream_params stream;     transcribe_stream_params_init(&stream);
 *     transcribe_stream_text text;         transcribe_stream_text_init(&text);
 *     transcribe_session* session = NULL;
 *     transcribe_status status = transcribe_open("model.gguf", &load, &sp, &session);
 *     if (status != TRANSCRIBE_OK) {
 *         fprintf(stderr, "%s\n", transcribe_status_string(status));
 *         return;
 *     }
 *     run.language = "en";                 (optional)
 *     transcribe_stream_begin(session, &run, &stream);
 *     while (more audio)                   (16 kHz mono floats in -1..1)
 *         transcribe_stream_feed(session, samples, n, &text);
 *     transcribe_stream_finalize(session, &text);
 *     printf("%.*s%.*s\n", (int)text.committed_len, text.committed, (int)text.tentative_len, text.tentative);
 *     transcribe_session_free(session);
 *
 * Call order per session: transcribe_open, then for each stream transcribe_stream_begin,
 * any number of transcribe_stream_feed, transcribe_stream_finalize (or
 * transcribe_stream_reset to abandon it); transcribe_session_free at the end. One session
 * must not be called from two threads at once.
 *
 * Records: declare one, pass it to its *_init function (which sets struct_size and the
 * defaults), then change the fields you need. A record whose struct_size is not the size of
 * this version's record is refused with TRANSCRIBE_INVALID_ARGUMENT. Input records may be
 * NULL for the defaults. Fields marked "ignored" are accepted and have no effect in this
 * version; reserved fields must stay zero (they are not looked at yet).
 *
 * No C++ exception ever leaves a function of this interface: failures are statuses. */
#ifndef TRANSCRIBE_H
#define TRANSCRIBE_H

#include <stdint.h>

#define TRANSCRIBE_VERSION_MAJOR 1
#define TRANSCRIBE_VERSION_MINOR 0
#define TRANSCRIBE_VERSION_PATCH 0
/* The interface's version as one number (major * 10000 + minor * 100 + patch), for #if. A
 * library of the same major version accepts the records of this header. */
#define TRANSCRIBE_VERSION (TRANSCRIBE_VERSION_MAJOR * 10000 + TRANSCRIBE_VERSION_MINOR * 100 + TRANSCRIBE_VERSION_PATCH)

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
    uint32_t flags; /* ignored */
    uint32_t reserved[2];
} transcribe_model_load_params;

/* 20 bytes. */
typedef struct transcribe_session_params {
    uint32_t struct_size;
    uint32_t n_threads; /* ignored: a session decodes on the calling thread */
    uint32_t flags;     /* ignored */
    uint32_t reserved[2];
} transcribe_session_params;

/* 64 bytes. */
typedef struct transcribe_run_params {
    uint32_t struct_size;
    uint32_t n_threads; /* ignored */
    float temperature;  /* ignored: decoding is deterministic */
    uint32_t beam_size; /* ignored: the decoder's own beams apply */
    uint64_t reserved0;
    const char* language; /* offset 24: NUL-terminated BCP 47 code, or NULL to let the model decide;
                             a language the model does not speak: TRANSCRIBE_UNSUPPORTED_LANGUAGE */
    uint32_t flags;       /* ignored */
    uint32_t reserved1;
    uint64_t reserved2[3];
} transcribe_run_params;

/* 24 bytes. */
typedef struct transcribe_stream_params {
    uint32_t struct_size;
    uint32_t sample_rate; /* of the fed samples: 16000 (or 0 for it); others are refused */
    uint32_t flags;       /* ignored */
    uint32_t reserved0;
    uint64_t reserved1;
} transcribe_stream_params;

/* 64 bytes. The texts are UTF-8, not NUL-terminated, owned by the session and valid until
 * the next call on it. */
typedef struct transcribe_stream_text {
    uint32_t struct_size;
    uint32_t flags; /* always 0 */
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
/* "transcribe 1.0.0 (pocketsphinx)": the library's version (compare with TRANSCRIBE_VERSION_*)
 * and its decoder. */
TRANSCRIBE_API const char* transcribe_version(void);
/* Nothing to start in this version; returns TRANSCRIBE_OK. Call once before transcribe_open. */
TRANSCRIBE_API transcribe_status transcribe_init_backends_default(void);

TRANSCRIBE_API void transcribe_model_load_params_init(transcribe_model_load_params* params);
TRANSCRIBE_API void transcribe_session_params_init(transcribe_session_params* params);
TRANSCRIBE_API void transcribe_run_params_init(transcribe_run_params* params);
TRANSCRIBE_API void transcribe_stream_params_init(transcribe_stream_params* params);
TRANSCRIBE_API void transcribe_stream_text_init(transcribe_stream_text* text);

/* Opens a GGUF model file. *out_session must be NULL on entry and is set on success only.
 * load_params and session_params may be NULL; none of their fields has an effect yet. */
TRANSCRIBE_API transcribe_status transcribe_open(const char* model_path, const transcribe_model_load_params* load_params,
                                                 const transcribe_session_params* session_params,
                                                 transcribe_session** out_session);
/* NULL is allowed. */
TRANSCRIBE_API void transcribe_session_free(transcribe_session* session);

/* A stream still open is abandoned first. */
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
