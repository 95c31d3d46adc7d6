#include "data/runend.h"

#include <cstring>

namespace {

std::string SignalName(int signal) {
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : std::string("okänd");
}

} // namespace

std::string DescribeRunEnd(const CRunEnd& end) {
    if (end.outcome == StoredRunEnd::kFailed)
        return end.outcome + " (kod " + std::to_string(end.exitCode.value_or(0)) + ")";
    if (end.outcome == StoredRunEnd::kSignalled)
        return end.outcome + " " + std::to_string(end.signal.value_or(0)) + " (" +
               SignalName(end.signal.value_or(0)) + ")";
    if (end.outcome == StoredRunEnd::kCancelled)
        return end.outcome + " av " + end.cancelledBy;
    return end.outcome;
}
