#pragma once

#include <memory>
#include <string>

#include "base/SerialExecutor.h"
#include "contracts/Output.h"

namespace zarn::canberra {

// Event sounds through libcanberra's PulseAudio driver and the freedesktop sound theme
// (PipeWire desktops serve the same protocol). play() only posts: opening the sound
// server and starting the sound happen on a thread of its own, so a slow or missing
// server never delays a dictation. A server that cannot be reached is logged once;
// later plays try again quietly.
class CanberraSoundPlayer final : public SoundPlayer {
public:
    CanberraSoundPlayer();
    ~CanberraSoundPlayer() override;

    void play(const std::string& name) override;

    // The theme event a sound name stands for; unknown names are taken as event ids.
    static std::string eventFor(const std::string& name);

private:
    struct State;
    std::unique_ptr<State> state_;
    SerialExecutor executor_{"zarn-sounds"};  // last: joined before the state goes
};

}  // namespace zarn::canberra
