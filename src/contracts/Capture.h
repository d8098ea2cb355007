#pragma once

// The microphone as the dictation uses it.

#include <functional>
#include <memory>

#include "base/Reply.h"
#include "contracts/AudioBuffer.h"

namespace zarn {

class MicrophonePermission {
public:
    virtual ~MicrophonePermission() = default;
    // True when the microphone may be used; asks the user if undecided.
    virtual void requestMicrophone(Reply<bool> reply) = 0;
};

class AudioCapturing {
public:
    using OnBuffer = std::function<void(std::shared_ptr<const AudioBuffer>)>;  // capture thread
    using OnLevel = std::function<void(float)>;                               // capture thread
    virtual ~AudioCapturing() = default;
    // Throws a LocalizedError (or std::exception) when the microphone cannot be started.
    virtual void start(const AudioFormat& outputFormat, OnBuffer onBuffer, OnLevel onLevel) = 0;
    // Safe when not running.
    virtual void stop() = 0;
};

}  // namespace zarn
