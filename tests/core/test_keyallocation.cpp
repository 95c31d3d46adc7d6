// Monitors starting on one missing file at the same moment create it once, store
// every name once and never hand out the same key.
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"

#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

namespace {

constexpr int kRowsEach = 250;
constexpr int kProcesses = 4;
constexpr int kLongestWaitMs = 120000;

TEST(KeyAllocation, ProcessesStartingAtOnceOnAMissingFileShareItWithoutDuplicates) {
    CTestFolder folder;
    QProcess savers[kProcesses];
    for (QProcess& saver : savers)
        saver.start(KVARNIX_SAVEROWS, {folder.DatabaseFile(), QString::number(kRowsEach)});
    QVector<int> keys;
    for (QProcess& saver : savers) {
        ASSERT_TRUE(saver.waitForFinished(kLongestWaitMs));
        EXPECT_EQ(saver.exitCode(), 0) << saver.readAllStandardError().toStdString();
        for (const QByteArray& line : saver.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                keys << line.toInt();
    }

    std::sort(keys.begin(), keys.end());
    QVector<int> expected(kProcesses * kRowsEach);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(keys, expected);
    CSystemDatabase db(folder.DatabaseFile());
    ASSERT_TRUE(db.Open());
    EXPECT_EQ(db.NextNumber("POST", false), kProcesses * kRowsEach + 1);
    CSqliteStatement duplicates = db.Connection().Prepare(
        "SELECT group_concat(NAMN) FROM (SELECT NAMN FROM SEKVENS GROUP BY NAMN "
        "HAVING COUNT(*) > 1)");
    ASSERT_TRUE(duplicates.Step());
    EXPECT_EQ(duplicates.ColumnText(0), "");
}

} // namespace
