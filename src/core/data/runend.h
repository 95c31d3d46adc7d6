#pragma once

// Plain C++ without Qt: the run supervisor shares it.

#include <optional>
#include <string>

// The words a supervised run's end is stored as in the run history, beside its exit status,
// its signal or who cancelled it.
namespace StoredRunEnd {
inline constexpr char kFinished[] = "klar";
inline constexpr char kFailed[] = "misslyckades";
inline constexpr char kSignalled[] = "avslutades av signal";
inline constexpr char kTimedOut[] = "stoppades efter tidsgränsen";
inline constexpr char kCancelled[] = "avbröts";
inline constexpr char kLost[] = "förlorad";
} // namespace StoredRunEnd

// How a supervised calculation ended.
struct CRunEnd {
    std::string outcome; // one of StoredRunEnd's words
    // The exit status when the program exited, the signal when one ended it.
    std::optional<int> exitCode;
    std::optional<int> signal;
    // "operator på värd", for a cancelled run.
    std::string cancelledBy;
};

// The end as the operator reads it: "misslyckades (kod 3)", "avslutades av signal 9
// (SIGKILL)", "avbröts av anna på kvarn1".
std::string DescribeRunEnd(const CRunEnd& end);
