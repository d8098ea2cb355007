#include "platform/linux/keyhook/HookThread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zarn::keyhook {

std::shared_ptr<HookChannel> HookChannel::make(std::string& failure) {
    std::shared_ptr<HookChannel> channel(new HookChannel());
    if (::pipe2(channel->wake_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        failure = std::string("cannot create the hook's wake pipe: ") + std::strerror(errno);
        return nullptr;
    }
    return channel;
}

HookChannel::~HookChannel() {
    for (int fd : wake_) {
        if (fd >= 0) ::close(fd);
    }
}

void HookChannel::poke() {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(wake_[1], &byte, 1);
}

std::optional<HookChannel::Verdicts> HookChannel::take() {
    char buffer[64];
    while (::read(wake_[0], buffer, sizeof buffer) > 0) {
    }
    std::lock_guard lock(mutex_);
    if (stopRequested_) return std::nullopt;
    return std::exchange(verdicts_, {});
}

hotkey::Verdict HookChannel::verdictFor(std::uint64_t id) {
    return [weak = weak_from_this(), id](bool consume) {
        auto channel = weak.lock();
        if (!channel) return;
        {
            std::lock_guard lock(channel->mutex_);
            channel->verdicts_.emplace_back(id, consume);
        }
        channel->poke();
    };
}

void HookChannel::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    poke();
}

void HookThread::start(std::shared_ptr<HookChannel> channel, std::function<std::optional<std::string>()> run,
                       std::function<void(const std::string& reason)> died) {
    stop();
    channel_ = std::move(channel);
    thread_ = std::thread([run = std::move(run), died = std::move(died)] {
        if (auto reason = run()) died(*reason);
    });
}

void HookThread::stop() {
    if (channel_) channel_->requestStop();
    if (thread_.joinable()) thread_.join();
    channel_.reset();
}

}  // namespace zarn::keyhook
