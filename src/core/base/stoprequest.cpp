#include "base/stoprequest.h"

namespace {
// Constant-initialised, so a signal handler may set it at any moment.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

std::atomic<bool>& ProcessStopRequested() {
    return g_stopRequested;
}
