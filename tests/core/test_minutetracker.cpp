// The minutes a wake-up evaluates, at the exact edges of each of its windows.
#include "rules/minutetracker.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace {

struct CEvaluated {
    int wildcard;
    int fixed;
    bool operator==(const CEvaluated& other) const {
        return wildcard == other.wildcard && fixed == other.fixed;
    }
};

void PrintTo(const CEvaluated& evaluated, std::ostream* out) {
    *out << "{" << evaluated.wildcard << " wildcard, " << evaluated.fixed << " fixed}";
}

// After a claim of 10:00 (the latest fixed minute too), a wake-up the given minutes later.
CEvaluated After(qint64 minutes, bool claimedHere = true) {
    const QDateTime claimed = LocalTime("2026-12-07 10:00");
    const qint64 at = CMinuteTracker::WallClockMinute(claimed);
    CMinuteTracker tracker(CMinuteTracker::State{at, at});
    const CMinuteTracker::Minutes evaluated =
        tracker.Advance(claimed.addSecs(60 * minutes), claimedHere);
    return {int(evaluated.forWildcardRows.size()), int(evaluated.forFixedRows.size())};
}

TEST(MinuteTracker, EachWindowEndsExactlyAtItsEdge) {
    // Late by up to five minutes: every missed minute, for both kinds of row.
    EXPECT_EQ(After(1), (CEvaluated{1, 1}));
    EXPECT_EQ(After(5), (CEvaluated{5, 5}));
    // Later: rows with an "X" in their time run in real time, fixed times catch up.
    EXPECT_EQ(After(6), (CEvaluated{1, 6}));
    EXPECT_EQ(After(180), (CEvaluated{1, 180}));
    // Beyond three hours fixed times catch up the last three hours only.
    EXPECT_EQ(After(181), (CEvaluated{1, 180}));
    EXPECT_EQ(After(600), (CEvaluated{1, 180}));
    // The same minute again: nothing.
    EXPECT_EQ(After(0), (CEvaluated{0, 0}));
    // Back by up to three hours: "X" rows in real time, fixed times wait for the clock.
    EXPECT_EQ(After(-1), (CEvaluated{1, 0}));
    EXPECT_EQ(After(-180), (CEvaluated{1, 0}));
    // Back by more: a correction, only the current minute.
    EXPECT_EQ(After(-181), (CEvaluated{1, 1}));
}

// Only a claim of its own can show a scheduler its clock going back.
TEST(MinuteTracker, AnotherSchedulersClaimAheadOfTheClockIsWaitedFor) {
    for (const qint64 minutes : {0LL, -1LL, -180LL, -181LL, -600LL})
        EXPECT_EQ(After(minutes, false), (CEvaluated{0, 0})) << minutes;
    EXPECT_EQ(After(1, false), (CEvaluated{1, 1}));
    EXPECT_EQ(After(6, false), (CEvaluated{1, 6}));
}

} // namespace
