#include "schedule/monitorlog.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Collects the messages of the log's diagnostic category while it lives.
class CDiagnosticCapture {
public:
    CDiagnosticCapture() : m_previous(qInstallMessageHandler(&Collect)) { s_messages.clear(); }
    ~CDiagnosticCapture() { qInstallMessageHandler(m_previous); }
    const QStringList& Messages() const { return s_messages; }

private:
    static void Collect(QtMsgType, const QMessageLogContext& context, const QString& message) {
        if (qstrcmp(context.category, "kvarnix.log") == 0)
            s_messages << message;
    }
    static inline QStringList s_messages;
    QtMessageHandler m_previous;
};

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ino_t Inode(const QString& path) {
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_ino;
}

class MonitorLogTest : public testing::Test {
protected:
    QString TrimFile() const { return m_folder.File(QStringLiteral("kvarnixmonitor.xxx")); }
    void WriteLog(const QStringList& lines) const {
        m_folder.WriteText(m_folder.LogFile(), lines.join(u'\n') + u'\n');
    }
    QStringList LogLines() const { return m_folder.ReadLines(m_folder.LogFile()); }

    CTestFolder m_folder;
    CMonitorLog m_log{m_folder.LogFile(), TrimFile()};
};

TEST_F(MonitorLogTest, FirstAppendCreatesTheLogThatTrimmingLeftAlone) {
    m_log.TrimLog(100);
    EXPECT_FALSE(QFile::exists(m_folder.LogFile()));

    m_log.AppendLogLine(QStringLiteral("/data/ugn   Start"), LocalTime("2024-03-10 06:30:05"));
    EXPECT_EQ(ReadBytes(m_folder.LogFile()), "2024-03-10 06:30:05 - /data/ugn   Start\n");
}

TEST_F(MonitorLogTest, OneDaySpanKeepsTheDayBeforeTheLastLineAndDropsOlder) {
    m_folder.WriteText(TrimFile(), QStringLiteral("left by an interrupted trim"));
    WriteLog({"2024-05-07 12:00:00 - a", "2024-05-08 23:59:59 - b", "2024-05-09 00:00:00 - c",
              "2024-05-10 08:00:00 - d"});
    m_log.TrimLog(1);
    EXPECT_EQ(LogLines(), QStringList({"2024-05-09 00:00:00 - c", "2024-05-10 08:00:00 - d"}));
    EXPECT_FALSE(QFile::exists(TrimFile()));
}

TEST_F(MonitorLogTest, SpanIsCountedInCalendarDaysAcrossAClockChange) {
    // Summer time starts 2024-03-31 in Stockholm; that day has 23 hours.
    WriteLog({"2024-03-05 23:59:59 - dropped", "2024-03-06 00:00:00 - exactly thirty days",
              "2024-04-05 06:30:00 - last"});
    m_log.TrimLog(30);
    EXPECT_EQ(LogLines(), QStringList({"2024-03-06 00:00:00 - exactly thirty days",
                                       "2024-04-05 06:30:00 - last"}));

    m_log.TrimLog(-5);
    EXPECT_EQ(LogLines(), QStringList({"2024-04-05 06:30:00 - last"}));
}

TEST_F(MonitorLogTest, LinesWithoutAValidTimestampAreDroppedWhateverTheirAge) {
    WriteLog({"2024/05/10 07:00:00 - slashes", "Bytte modell i ugn 3 /Anna", "",
              "2024-02-30 07:00:00 - no such day", "2024-05-10 08:00:00 - kept"});
    m_log.TrimLog(100);
    EXPECT_EQ(LogLines(), QStringList({"2024-05-10 08:00:00 - kept"}));
}

TEST_F(MonitorLogTest, LastLineWithoutADateDropsNothingForAge) {
    WriteLog({"2001-01-01 10:00:00 - old", "2024-02-30 07:00:00 - no such day",
              "2024-05-10 08:00:00 - new", "Anteckning utan datum"});
    m_log.TrimLog(1);
    EXPECT_EQ(LogLines(), QStringList({"2001-01-01 10:00:00 - old", "2024-05-10 08:00:00 - new"}));
}

TEST_F(MonitorLogTest, NonAsciiTextSurvivesAppendAndTrim) {
    const QString text =
        QStringLiteral("/data/Kvarn åäö ÅÄÖ \"citat\" 100% C:\\väg\\fil   Sätt_igång");
    m_log.AppendLogLine(text, LocalTime("2024-01-01 10:00:00"));
    m_log.AppendLogLine(text, LocalTime("2024-05-10 10:00:00"));
    m_log.TrimLog(30);
    EXPECT_EQ(LogLines(), QStringList({"2024-05-10 10:00:00 - " + text}));
}

TEST_F(MonitorLogTest, RewritesTheLogOnlyWhenSomethingChanges) {
    WriteLog({"2024-05-09 08:00:00 - a", "2024-05-10 08:00:00 - b"});
    const ino_t before = Inode(m_folder.LogFile());
    m_log.TrimLog(100);
    EXPECT_EQ(Inode(m_folder.LogFile()), before);

    m_folder.WriteText(m_folder.LogFile(), QStringLiteral("2024-05-10 08:00:00 - cut short"));
    m_log.TrimLog(100);
    m_log.AppendLogLine(QStringLiteral("next"), LocalTime("2024-05-10 09:00:00"));
    EXPECT_EQ(LogLines(),
              QStringList({"2024-05-10 08:00:00 - cut short", "2024-05-10 09:00:00 - next"}));
}

TEST_F(MonitorLogTest, FailedTrimLeavesTheOldLogByteIdentical) {
    WriteLog({"2024-01-01 08:00:00 - old", "2024-05-10 08:00:00 - new"});
    const QByteArray before = ReadBytes(m_folder.LogFile());
    const CDiagnosticCapture diagnostics;

    ASSERT_TRUE(QDir().mkdir(TrimFile())); // the trim file cannot be created
    m_log.TrimLog(1);
    EXPECT_EQ(ReadBytes(m_folder.LogFile()), before);

    ASSERT_TRUE(QDir().rmdir(TrimFile()));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), TrimFile())); // nor written
    m_log.TrimLog(1);
    EXPECT_EQ(ReadBytes(m_folder.LogFile()), before);
    EXPECT_FALSE(QFileInfo(TrimFile()).isSymLink());
    EXPECT_EQ(diagnostics.Messages().size(), 2);
}

TEST_F(MonitorLogTest, AppendToAMissingFolderLosesTheLineWithADiagnosticOnly) {
    const QString missing = m_folder.File(QStringLiteral("saknas/kvarnixmonitor.log"));
    const CMonitorLog log(missing, m_folder.File(QStringLiteral("saknas/kvarnixmonitor.xxx")));
    const CDiagnosticCapture diagnostics;

    EXPECT_NO_THROW(log.AppendLogLine(QStringLiteral("x"), LocalTime("2024-05-10 08:00")));
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(
        diagnostics.Messages(),
        QStringList(QStringLiteral("KvarnixMonitors loggfil kunde inte öppnas %1").arg(ENOENT)));
}

} // namespace
