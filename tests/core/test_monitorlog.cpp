#include "schedule/monitorlog.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Collects the messages of the log's diagnostic category while it lives.
struct CDiagnostics {
    CDiagnostics() { messages.clear(); }
    ~CDiagnostics() { qInstallMessageHandler(previous); }
    static inline QStringList messages;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (qstrcmp(context.category, "kvarnix.log") == 0)
                messages << message;
        });
};

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct MonitorLogTest : testing::Test {
    CTestFolder folder;
    QString logPath = folder.LogFile();
    QString trimPath = folder.File(QStringLiteral("kvarnixmonitor.xxx"));
    CMonitorLog log{logPath, trimPath};
};

TEST_F(MonitorLogTest, AppendWritesTheTimestampedLineAsGivenAndTrimKeepsIt) {
    log.TrimLog(100);
    EXPECT_FALSE(QFile::exists(logPath));
    const QString text =
        QStringLiteral("/data/Kvarn åäö ÅÄÖ \"citat\" 100% C:\\väg\\fil   Sätt_igång");
    log.AppendLogLine(text, LocalTime("2024-01-01 10:00:00"));
    EXPECT_EQ(ReadBytes(logPath), ("2024-01-01 10:00:00 - " + text + "\n").toUtf8());
    log.AppendLogLine(text, LocalTime("2024-05-10 10:00:00"));
    log.TrimLog(30);
    EXPECT_EQ(folder.ReadLines(logPath), QStringList("2024-05-10 10:00:00 - " + text));
}

// Each line is marked "+" when the trim keeps it and "-" when it drops it.
TEST_F(MonitorLogTest, TrimKeepsTheDatedLinesOfTheSpanBeforeTheLastLine) {
    const std::pair<int, QStringList> cases[] = {
        {1,
         {"-2024-05-07 12:00:00 - a", "-2024-05-08 23:59:59 - b", "+2024-05-09 00:00:00 - c",
          "+2024-05-10 08:00:00 - d"}},
        // Summer time starts 2024-03-31 in Stockholm; the span counts calendar days.
        {30, {"-2024-03-05 23:59:59 - x", "+2024-03-06 00:00:00 - y", "+2024-04-05 06:30:00 - z"}},
        {-5, {"-2024-04-04 23:59:59 - x", "+2024-04-05 06:30:00 - z"}},
        // Lines without a valid date go; a last one drops nothing for its age.
        {1,
         {"+2001-01-01 10:00:00 - old", "-2024/05/10 07:00:00 - slashes", "-",
          "-2024-02-30 07:00:00 - no such day", "+2024-05-10 08:00:00 - new",
          "-Bytte modell i ugn 3 /Anna"}}};
    folder.WriteText(trimPath, QStringLiteral("left by an interrupted trim"));
    for (const auto& [span, lines] : cases) {
        QStringList written = lines;
        QStringList kept = lines.filter(QRegularExpression(QStringLiteral("^\\+")));
        written.replaceInStrings(QRegularExpression(QStringLiteral("^[-+]")), {});
        kept.replaceInStrings(QRegularExpression(QStringLiteral("^\\+")), {});
        folder.WriteText(logPath, written.join('\n') + '\n');
        log.TrimLog(span);
        EXPECT_EQ(folder.ReadLines(logPath), kept) << "span " << span;
    }
    EXPECT_FALSE(QFile::exists(trimPath));
}

TEST_F(MonitorLogTest, RewritesTheLogOnlyWhenSomethingChanges) {
    folder.WriteText(logPath, QStringLiteral("2024-05-09 08:00:00 - a\n2024-05-10 08:00:00 - b\n"));
    struct stat before {};
    struct stat after {};
    ::stat(QFile::encodeName(logPath).constData(), &before);
    log.TrimLog(100);
    ::stat(QFile::encodeName(logPath).constData(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    folder.WriteText(logPath, QStringLiteral("2024-05-10 08:00:00 - cut short"));
    log.TrimLog(100);
    log.AppendLogLine(QStringLiteral("next"), LocalTime("2024-05-10 09:00:00"));
    EXPECT_EQ(folder.ReadLines(logPath),
              QStringList({"2024-05-10 08:00:00 - cut short", "2024-05-10 09:00:00 - next"}));
}

TEST_F(MonitorLogTest, FailuresLeaveEverythingAsItWasWithADiagnosticEach) {
    folder.WriteText(logPath,
                     QStringLiteral("2024-01-01 08:00:00 - old\n2024-05-10 08:00:00 - new\n"));
    const QByteArray before = ReadBytes(logPath);
    const CDiagnostics diagnostics;
    ASSERT_TRUE(QDir().mkdir(trimPath)); // the trim file cannot be created
    log.TrimLog(1);
    EXPECT_EQ(ReadBytes(logPath), before);
    ASSERT_TRUE(QDir().rmdir(trimPath));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), trimPath)); // nor written
    log.TrimLog(1);
    EXPECT_EQ(ReadBytes(logPath), before);
    EXPECT_FALSE(QFileInfo(trimPath).isSymLink());
    const CMonitorLog nowhere(folder.File(QStringLiteral("saknas/kvarnixmonitor.log")),
                              folder.File(QStringLiteral("saknas/kvarnixmonitor.xxx")));
    EXPECT_NO_THROW(nowhere.AppendLogLine(QStringLiteral("x"), LocalTime("2024-05-10 08:00")));
    EXPECT_EQ(diagnostics.messages.size(), 3);
}

} // namespace

namespace {

// A long log is first judged by its two ends: while its first line is recent
// enough it is left as it is, a stray line included, until a trim must
// rewrite it anyway.
TEST_F(MonitorLogTest, LongLogIsRewrittenOnlyWhenItsOldestLineMustGo) {
    QString text;
    for (int day = 1; day <= 30; ++day)
        for (int i = 0; i < 40; ++i)
            text +=
                QString("2026-11-%1 10:00:00 - /m/modell   Makro\n").arg(day, 2, 10, QChar('0'));
    text.insert(text.indexOf("2026-11-15"), "handskriven anteckning\n");
    folder.WriteText(logPath, text);

    log.TrimLog(100);
    EXPECT_EQ(ReadBytes(logPath), text.toUtf8());

    log.TrimLog(20);
    const QStringList lines = folder.ReadLines(logPath);
    EXPECT_EQ(lines.size(), 21 * 40);
    EXPECT_TRUE(lines.first().startsWith("2026-11-10"));
}

} // namespace

namespace {

// A monitor killed while it trims leaves the old log or the new one, never a
// torn one: whatever remains is a whole run of the original's last lines.
TEST_F(MonitorLogTest, KilledWhileTrimmingLeavesAWholeLog) {
    QStringList original;
    for (int day = 1; day <= 28; ++day)
        for (int i = 0; i < 600; ++i)
            original << QString("2026-02-%1 10:00:%2 - /m/modell   Makro")
                            .arg(day, 2, 10, QChar('0'))
                            .arg(i % 60, 2, 10, QChar('0'));
    folder.WriteText(logPath, original.join('\n') + '\n');

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int span = 27; span >= 0; --span)
            log.TrimLog(span);
        _exit(0);
    }
    QThread::msleep(40);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    const QStringList left = folder.ReadLines(logPath);
    ASSERT_FALSE(left.isEmpty());
    EXPECT_EQ(left, original.mid(original.size() - left.size()));
    EXPECT_TRUE(ReadBytes(logPath).endsWith('\n'));
}

} // namespace
