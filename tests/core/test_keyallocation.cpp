// Two monitors saving rows on one file at the same moment never hand out the same key.
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"

#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

namespace {

constexpr int kRowsEach = 500;
constexpr int kLongestWaitMs = 120000;

TEST(KeyAllocation, TwoProcessesSavingAtOnceGetDistinctKeys) {
    CTestFolder folder;
    CSystemDatabase db(folder.DatabaseFile());
    ASSERT_TRUE(db.OpenOrCreate());
    db.Close();

    QProcess savers[2];
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
    QVector<int> expected(2 * kRowsEach);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(keys, expected);
    ASSERT_TRUE(db.Open());
    EXPECT_EQ(db.NextNumber("POST", false), 2 * kRowsEach + 1);
}

} // namespace
