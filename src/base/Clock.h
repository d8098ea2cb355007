#pragma once

#include <chrono>

namespace zarn {

using SystemTime = std::chrono::system_clock::time_point;

// Wall-clock time; tests substitute virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual SystemTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    SystemTime now() const override { return std::chrono::system_clock::now(); }
    static SystemClock& shared();
};

// Seconds between two instants as a double, the unit run records use.
inline double secondsBetween(SystemTime from, SystemTime to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace zarn
