#include "base/Clock.h"

namespace zarn {

SystemClock& SystemClock::shared() {
    static SystemClock clock;
    return clock;
}

}  // namespace zarn
