#include "base/Check.h"

#include <cstdio>
#include <cstdlib>

namespace zarn {

void dcheckFailed(const char* file, int line, const char* message) {
    std::fprintf(stderr, "zarn: check failed at %s:%d: %s\n", file, line, message);
    std::fflush(stderr);
    std::abort();
}

}  // namespace zarn
