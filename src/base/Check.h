#pragma once

// Debug checks of the thread discipline and of one-shot callbacks. On in builds without
// NDEBUG and wherever ZARN_DCHECK_ON is defined (the sanitizer build); off, they cost nothing.
#if !defined(NDEBUG) || defined(ZARN_DCHECK_ON)
#define ZARN_DCHECK_IS_ON 1
#else
#define ZARN_DCHECK_IS_ON 0
#endif

namespace zarn {

inline constexpr bool kDchecksOn = ZARN_DCHECK_IS_ON;

// Prints where and what, then aborts: a broken contract is a programming fault.
[[noreturn]] void dcheckFailed(const char* file, int line, const char* message);

}  // namespace zarn

#define ZARN_DCHECK(condition, message)                                                   \
    do {                                                                                  \
        if constexpr (::zarn::kDchecksOn) {                                               \
            if (!(condition)) ::zarn::dcheckFailed(__FILE__, __LINE__, message);          \
        }                                                                                 \
    } while (false)
