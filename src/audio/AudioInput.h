#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "contracts/AudioBuffer.h"

namespace zarn {

// A source of PCM audio in its own native format: a microphone, a file. Audio arrives in
// taps of `tapFrames` frames (the last tap of a finite input may be shorter), on a thread
// of the input's own. Tap buffers are only valid during the call: the input reuses them.
class AudioInput {
public:
    static constexpr std::uint32_t tapFrames = 2048;

    using OnTap = std::function<void(const AudioBuffer&)>;
    // The input ended by itself: nullptr at the end of a file, an error when a device or
    // server failed. Never called after stop() has returned.
    using OnEnd = std::function<void(std::exception_ptr)>;

    virtual ~AudioInput() = default;

    // The format taps will be delivered in. Throws a LocalizedError when it cannot be read.
    virtual AudioFormat nativeFormat() = 0;
    // Starts delivering taps; throws a LocalizedError when the input cannot be started.
    virtual void start(OnTap onTap, OnEnd onEnd = nullptr) = 0;
    // Stops delivery. When it returns, no tap or end call is running or will run.
    // Safe when not running.
    virtual void stop() = 0;
};

}  // namespace zarn
