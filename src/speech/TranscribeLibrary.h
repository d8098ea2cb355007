#pragma once

#include <string>

#include "transcribe.h"

namespace zarn {

// The transcribe runtime as a table of its C functions: filled from the shared library, loaded
// at run time, or handed in whole (a test's plain functions). Where the library is looked
// for, in order: the file
// named by ZARN_TRANSCRIBE_LIBRARY; lib/zarn/libtranscribe.so.1 beside the executable's
// folder; libtranscribe.so.1 in the executable's folder; the build tree; the system's
// library path.
class TranscribeLibrary {
public:
    TranscribeLibrary() = delete;

    // Every entry point the program calls.
    struct Api {
        decltype(&transcribe_status_string) status_string;
        decltype(&transcribe_version) version;
        decltype(&transcribe_init_backends_default) init_backends_default;
        decltype(&transcribe_model_load_params_init) model_load_params_init;
        decltype(&transcribe_session_params_init) session_params_init;
        decltype(&transcribe_run_params_init) run_params_init;
        decltype(&transcribe_stream_params_init) stream_params_init;
        decltype(&transcribe_stream_text_init) stream_text_init;
        decltype(&transcribe_open) open;
        decltype(&transcribe_session_free) session_free;
        decltype(&transcribe_stream_begin) stream_begin;
        decltype(&transcribe_stream_feed) stream_feed;
        decltype(&transcribe_stream_finalize) stream_finalize;
        decltype(&transcribe_stream_reset) stream_reset;
        decltype(&transcribe_stream_get_text) stream_get_text;
    };

    // The loaded runtime; loads it on first use. Throws a MessageError naming the library
    // when it cannot be loaded (a later call tries again).
    static const Api& api();
    // Starts the runtime's compute backends once per process; a failure is thrown and the
    // next call tries again.
    static void initializeBackends();
    // The runtime's version text.
    static std::string version();
    // The runtime's text for a status; a fixed text when the runtime cannot be loaded.
    static std::string statusString(std::int32_t status);
    // Makes `table` the runtime from now on, in place of any library (its functions must
    // outlive every session).
    static void use(const Api& table);
    // Forgets that the backends were started, so tests can watch the start-up again.
    static void resetForTesting();
};

}  // namespace zarn
