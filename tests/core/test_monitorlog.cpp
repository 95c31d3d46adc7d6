#include "schedule/monitorlog.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/file.h>
#include <sys/resource.h>
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

void WriteBytes(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
}

struct stat StatusOf(const QString& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
    return status;
}

// The trim as the rules for the log describe it, over the whole file at once: the last line's
// date less the span is the limit; a line goes when the start of its first 19 characters,
// blanks trimmed, is not shaped as a timestamp, when its date is no date, or when it is older
// than a valid limit.
QDate ReferenceDate(const QByteArray& line) {
    return QDate(std::atoi(line.mid(0, 4).constData()), std::atoi(line.mid(5, 2).constData()),
                 std::atoi(line.mid(8, 2).constData()));
}

bool ReferenceShape(const QByteArray& line) {
    const QByteArray head = line.left(19).trimmed();
    const QByteArray shape = "0000-00-00 00:00:00";
    for (qsizetype i = 0; i < head.size(); ++i) {
        const bool fits = shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(head[i]))
                                          : head[i] == shape[i];
        if (!fits)
            return false;
    }
    return true;
}

QByteArray ReferenceTrim(const QByteArray& log, int spanDays) {
    if (log.isEmpty())
        return {};
    QList<QByteArray> lines = log.split('\n');
    if (log.endsWith('\n'))
        lines.removeLast();
    const QDate limit = ReferenceDate(lines.last()).addDays(-std::max(spanDays, 0));
    QByteArray kept;
    for (const QByteArray& line : lines) {
        const QDate date = ReferenceDate(line);
        if (ReferenceShape(line) && date.isValid() && (!limit.isValid() || date >= limit))
            kept += line + '\n';
    }
    return kept;
}

// perDay launch lines on each day from first to last, in order.
QByteArray DatedLines(QDate first, QDate last, int perDay, const char* text) {
    QByteArray lines;
    for (QDate day = first; day <= last; day = day.addDays(1)) {
        for (int i = 0; i < perDay; ++i)
            lines += QStringLiteral("%1 10:%2:00 - %3 %4\n")
                         .arg(day.toString(Qt::ISODate))
                         .arg(i % 60, 2, 10, QChar('0'))
                         .arg(QString::fromUtf8(text))
                         .arg(i)
                         .toUtf8();
    }
    return lines;
}

const QDate kMay10(2024, 5, 10);

// A log with a recent first line, old lines further in, a slash-dated line and a hand-written
// note; days of launches until the 10th of May make it as long as asked.
QByteArray MixedLog(int perDay) {
    return "2024-05-09 07:00:00 - /m/först   Start\n" +
           DatedLines(kMay10.addDays(-20), kMay10.addDays(-12), perDay, "/m/gammal   Makro") +
           "2020-03-04 05:06:07 - /m/forntid   Makro\n"
           "2024/05/08 07:00:00 - /m/snedstreck   Makro\n"
           "Bytte modell i ugn 3 /Åsa\n" +
           DatedLines(kMay10.addDays(-6), kMay10, perDay, "/m/ny   Dygnsberäkning");
}

// Lines shorter than a timestamp, well and badly shaped: wherever a reader cuts the log into
// pieces, the cut falls into the start of a line.
QByteArray ShortLines(qsizetype size) {
    const QByteArray samples[] = {
        "2024-05-1",          "2024-05-10", "2024-05-10 0",      "2024/05/1", "",
        "2024-05-10 08:00:0", "x",          "  2024-05-10 08:00"};
    QByteArray lines;
    for (int i = 0; lines.size() < size; ++i)
        lines += samples[i % std::size(samples)] + '\n';
    return lines;
}

struct MonitorLogTest : testing::Test {
    CTestFolder folder;
    QString logPath = folder.LogFile();
    QString trimPath = folder.File(QStringLiteral("kvarnixmonitor.xxx"));
    CMonitorLog log{logPath, trimPath};
};

TEST_F(MonitorLogTest, AppendWritesEachTextOnOneTimestampedLine) {
    log.TrimLog(100);
    EXPECT_FALSE(QFile::exists(logPath));
    const std::pair<QString, QString> cases[] = {
        {"/data/Kvarn åäö ÅÄÖ \"citat\" 100% C:\\väg\\fil   Sätt_igång",
         "/data/Kvarn åäö ÅÄÖ \"citat\" 100% C:\\väg\\fil   Sätt_igång"},
        {"/m/två\nrader   Makro", "/m/två rader   Makro"},
        {"/m/a\r\nb\rc   M\vN\fO", "/m/a  b c   M N O"},
        {QString::fromUtf16(u"/m/x\u0085y\u2028z   Ma\u2029kro"), "/m/x y z   Ma kro"}};
    QByteArray expected;
    int second = 10;
    for (const auto& [text, written] : cases) {
        const QString stamp = QStringLiteral("2024-05-10 10:00:%1").arg(second++);
        log.AppendLogLine(text, LocalTime(stamp));
        expected += (stamp + " - " + written + '\n').toUtf8();
    }
    EXPECT_EQ(ReadBytes(logPath), expected);
    log.TrimLog(1);
    EXPECT_EQ(ReadBytes(logPath), expected);

    // A log edited by hand may end without a line break; the next line starts a line of its own.
    WriteBytes(logPath, "2024-05-10 08:00:00 - cut short");
    log.AppendLogLine(QStringLiteral("next"), LocalTime("2024-05-10 09:00:00"));
    EXPECT_EQ(ReadBytes(logPath), "2024-05-10 08:00:00 - cut short\n2024-05-10 09:00:00 - next\n");
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
    for (const auto& [span, lines] : cases) {
        QStringList written = lines;
        QStringList kept = lines.filter(QRegularExpression(QStringLiteral("^\\+")));
        written.replaceInStrings(QRegularExpression(QStringLiteral("^[-+]")), {});
        kept.replaceInStrings(QRegularExpression(QStringLiteral("^\\+")), {});
        folder.WriteText(logPath, written.join('\n') + '\n');
        log.TrimLog(span);
        EXPECT_EQ(folder.ReadLines(logPath), kept) << "span " << span;
    }
}

// Whatever the log holds, however long it is and wherever its old lines are, the trim comes to
// the reference's result, and leaves a log it does not change as it was.
TEST_F(MonitorLogTest, TrimComesToTheLineByLineResultForEveryLog) {
    const QByteArray malformed =
        "2024-05-10\n2024-05-1\n \n\n2024-02-30 07:00:00 - no such day\n"
        " 2024-05-09 08:00:00 - one blank before\n  2024-05-09 08:00:00 - two blanks before\n"
        "2024-05-09 08:00:00 - windows\r\n2024-5-09 08:00:00 - short month\n"
        "2024-05-09T08:00:00 - iso\n2024-05-09 08:00:00\n";
    const std::pair<const char*, QByteArray> logs[] = {
        {"empty", ""},
        {"one line break", "\n"},
        {"short, recent first line, old lines further in", MixedLog(1)},
        {"22 KB, recent first line, old lines further in", MixedLog(20)},
        {"25 KB, first line dated 2030",
         "2030-01-01 00:00:00 - /m/framtid   Makro\n" +
             DatedLines(kMay10.addDays(-60), kMay10.addDays(-10), 10, "/m/gammal   Makro") +
             DatedLines(kMay10.addDays(-4), kMay10, 3, "/m/ny   Makro")},
        {"malformed lines",
         malformed + DatedLines(kMay10.addDays(-30), kMay10, 12, "/m/a   B") + malformed},
        {"no line break at the end",
         DatedLines(kMay10.addDays(-30), kMay10, 12, "/m/a   B") + "2024-05-10 23:00:00 - sist"},
        {"short last line without a line break",
         DatedLines(kMay10.addDays(-30), kMay10, 12, "/m/a   B") + "2024-05-0"},
        {"hand-written last line",
         DatedLines(kMay10.addDays(-30), kMay10, 12, "/m/a   B") + "Kontrollerat /Anna\n"},
        {"lines of megabytes and many short lines",
         "2024-04-01 10:00:00 - " + QByteArray(3 << 20, 'g') + '\n' + ShortLines(5 << 19) +
             "2024-05-09 10:00:00 - " + QByteArray(3 << 20, 'n') + "\n2024-05-10 10:00:00 - x\n"}};
    for (const auto& [name, content] : logs) {
        for (const int span : {5, 1, 0, -3, 100}) {
            WriteBytes(logPath, content);
            const ino_t before = StatusOf(logPath).st_ino;
            const QByteArray expected = ReferenceTrim(content, span);
            CMonitorLog(logPath, trimPath).TrimLog(span);
            EXPECT_EQ(ReadBytes(logPath), expected) << name << ", span " << span;
            if (expected == content) {
                EXPECT_EQ(StatusOf(logPath).st_ino, before) << name << ", span " << span;
            }
        }
    }
}

// One object trims the log over and over, as the scheduler does, while the log is appended to,
// edited and replaced by others between its trims.
TEST_F(MonitorLogTest, TrimFollowsEveryChangeMadeBetweenTwoTrims) {
    const QByteArray base = DatedLines(kMay10.addDays(-5), kMay10, 100, "/m/modell   Makro") +
                            "2024-05-10 23:00:00 - z\n";
    const auto editInPlace = [this](QByteArray text) {
        // File times advance in clock ticks; an edit within the tick of the last trim would
        // look like no edit at all.
        QThread::msleep(20);
        QFile file(logPath);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(text);
    };
    const std::pair<const char*, std::function<void(const QByteArray&)>> edits[] = {
        {"a line made malformed, same size",
         [&](QByteArray text) {
             editInPlace(text.replace(text.indexOf('\n', text.size() / 2) + 5, 1, "/"));
         }},
        {"a line made old, same size, modification time put back",
         [&](QByteArray text) {
             const struct stat before = StatusOf(logPath);
             editInPlace(text.replace(0, 4, "2023"));
             const timespec times[] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(logPath), times, 0), 0);
         }},
        {"replaced by an old log of the same size and time",
         [&](QByteArray text) {
             const QString other = folder.File(QStringLiteral("annan.log"));
             WriteBytes(other, text.replace(0, 4, "2022"));
             const struct stat before = StatusOf(logPath);
             const timespec times[] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(other), times, 0), 0);
             ASSERT_EQ(::rename(QFile::encodeName(other), QFile::encodeName(logPath)), 0);
         }},
        {"a note appended",
         [&](const QByteArray& text) { WriteBytes(logPath, text + "Notering\n"); }},
        {"a later line appended",
         [&](const QByteArray& text) {
             WriteBytes(logPath, text + "2024-05-13 08:00:00 - /m/senare   Makro\n");
         }},
        {"cut short",
         [&](const QByteArray& text) { WriteBytes(logPath, text.left(text.size() / 3)); }},
        {"emptied", [&](const QByteArray&) { WriteBytes(logPath, {}); }}};
    const auto appendOwnLine = [this](const char* stamp) {
        log.AppendLogLine(QStringLiteral("/m/egen   Makro"), LocalTime(stamp));
        return ReadBytes(logPath);
    };
    for (const auto& [name, edit] : edits) {
        // Edited after a trim, then trimmed.
        WriteBytes(logPath, base);
        log.TrimLog(5);
        ASSERT_EQ(ReadBytes(logPath), base) << name;
        edit(base);
        const QByteArray edited = ReadBytes(logPath);
        log.TrimLog(5);
        EXPECT_EQ(ReadBytes(logPath), ReferenceTrim(edited, 5)) << name;

        // Edited after a trim, then appended to by the object and trimmed.
        WriteBytes(logPath, base);
        log.TrimLog(5);
        edit(base);
        const QByteArray appendedToEdited = appendOwnLine("2024-05-10 23:30:00");
        log.TrimLog(5);
        EXPECT_EQ(ReadBytes(logPath), ReferenceTrim(appendedToEdited, 5)) << name;

        // A line the object appends to a log it knows keeps the log known, also when the line's
        // day makes the oldest day go.
        const QByteArray appended = appendOwnLine("2024-05-11 06:00:00");
        log.TrimLog(5);
        EXPECT_EQ(ReadBytes(logPath), ReferenceTrim(appended, 5)) << name;
    }
}

// Nothing planted beside the log, at the old fixed name or a likely other one, is written
// through or replaced; the log stays a file of its own.
TEST_F(MonitorLogTest, TrimNeverWritesThroughALinkBesideTheLog) {
    const QString target = folder.File(QStringLiteral("mål.txt"));
    const QString missing = folder.File(QStringLiteral("saknad.txt"));
    WriteBytes(target, "orörd\n");
    const QStringList planted = {trimPath,
                                 trimPath + ".XXXXXX",
                                 trimPath + ".tmp",
                                 logPath + ".tmp",
                                 logPath + "~",
                                 folder.File(QStringLiteral("kvarnixmonitor.tmp")),
                                 folder.File(QStringLiteral(".kvarnixmonitor.log.swp"))};
    for (const QString& link : planted)
        ASSERT_TRUE(QFile::link(link == trimPath ? missing : target, link));
    const QByteArray original =
        DatedLines(kMay10.addDays(-9), kMay10, 30, "/m/modell   Makro") + "Notering\n";
    WriteBytes(logPath, original);
    for (const int span : {9, 6, 3, 0}) {
        log.TrimLog(span);
        log.AppendLogLine(QStringLiteral("/m/modell   Makro"), LocalTime("2024-05-10 23:00:00"));
    }
    EXPECT_EQ(ReadBytes(target), "orörd\n");
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(S_ISREG(StatusOf(logPath).st_mode));
    // The last day's lines and the four appended ones.
    EXPECT_EQ(folder.ReadLines(logPath).size(), 30 + 4);
    QStringList expectedEntries = planted;
    expectedEntries << target << logPath;
    QStringList entries;
    for (const QFileInfo& entry :
         QDir(folder.Path())
             .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        entries << entry.filePath();
    std::sort(entries.begin(), entries.end());
    std::sort(expectedEntries.begin(), expectedEntries.end());
    EXPECT_EQ(entries, expectedEntries);
}

TEST_F(MonitorLogTest, FailuresLeaveTheLogAndNoNewFileWithADiagnosticEach) {
    const QByteArray original = DatedLines(kMay10.addDays(-9), kMay10, 90, "/m/modell   Makro");
    WriteBytes(logPath, original);
    const QString elsewhere = QStringLiteral("/dev/shm/kvarnix-test-%1.xxx").arg(::getpid());
    const CDiagnostics diagnostics;

    // The new file cannot be created, nor put in the log's place from another file system.
    for (const QString& trimFile :
         {folder.File(QStringLiteral("saknas/kvarnixmonitor.xxx")), elsewhere}) {
        CMonitorLog(logPath, trimFile).TrimLog(1);
        EXPECT_EQ(ReadBytes(logPath), original) << trimFile.toStdString();
    }
    EXPECT_TRUE(QDir(QStringLiteral("/dev/shm"))
                    .entryList({QFileInfo(elsewhere).fileName() + "*"}, QDir::AllEntries)
                    .isEmpty());

    // Nor written in full: a child process may write no more than 4 KB to any file.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        log.TrimLog(1);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(ReadBytes(logPath), original);
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden),
              QStringList("kvarnixmonitor.log"));

    // A log in a folder that does not exist loses the line only.
    CMonitorLog(folder.File(QStringLiteral("saknas/kvarnixmonitor.log")), trimPath)
        .AppendLogLine(QStringLiteral("x"), LocalTime("2024-05-10 08:00"));
    ASSERT_EQ(diagnostics.messages.size(), 3);
    EXPECT_TRUE(
        diagnostics.messages.last().startsWith("KvarnixMonitors loggfil kunde inte öppnas "));
}

// Another monitor that holds the log for ever, or a log that is no file, makes the log's work
// give up in time, never wait for ever.
TEST_F(MonitorLogTest, GivesUpOnALogHeldTooLongOrNoFile) {
    const QByteArray original = "2024-01-01 08:00:00 - old\n2024-05-10 08:00:00 - new\n";
    WriteBytes(logPath, original);
    const CMonitorLog impatient(logPath, trimPath, std::chrono::milliseconds(200));
    const CDiagnostics diagnostics;
    {
        const int holder = ::open(QFile::encodeName(logPath).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        impatient.AppendLogLine(QStringLiteral("/m/väntar   Makro"), LocalTime("2024-05-10 09:00"));
        impatient.TrimLog(1);
        ::close(holder);
    }
    EXPECT_EQ(ReadBytes(logPath), original);
    ASSERT_EQ(diagnostics.messages.size(), 2);
    EXPECT_TRUE(diagnostics.messages.first().endsWith("2024-05-10 09:00:00 - /m/väntar   Makro"));

    ASSERT_TRUE(QFile::remove(logPath));
    ASSERT_EQ(::mkfifo(QFile::encodeName(logPath).constData(), 0600), 0);
    impatient.AppendLogLine(QStringLiteral("/m/rör   Makro"), LocalTime("2024-05-10 09:00"));
    impatient.TrimLog(1);
    EXPECT_EQ(diagnostics.messages.size(), 4);
}

// Another monitor on the same folder appends and trims while this one does; every line it
// appends is in the log at the end, once, in its order, and every line is whole.
TEST_F(MonitorLogTest, NoLineIsLostWhileAnotherProcessAppendsAndTrims) {
    constexpr int kChildLines = 500;
    const QDateTime start = LocalTime("2024-05-10 12:00:00");
    // Long enough that the other process appends while a trim reads and writes it.
    WriteBytes(logPath, DatedLines(kMay10.addDays(-2), kMay10, 20000, "/m/förut   Makro"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const CMonitorLog other(logPath, trimPath);
        for (int i = 0; i < kChildLines; ++i) {
            other.AppendLogLine(QStringLiteral("barn %1").arg(i), start.addSecs(i));
            if (i % 50 == 0)
                other.TrimLog(5);
            ::usleep(200);
        }
        _exit(0);
    }
    while (waitpid(child, nullptr, WNOHANG) == 0) {
        // An old line to drop makes every trim write a new log.
        log.AppendLogLine(QStringLiteral("gammal"), start.addDays(-10));
        log.TrimLog(5);
    }
    log.TrimLog(5);
    QStringList childTexts;
    QStringList expected;
    const QRegularExpression launchLine(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d - (barn \\d+|gammal|/m/förut   Makro \\d+)$"));
    for (const QString& line : folder.ReadLines(logPath)) {
        EXPECT_TRUE(launchLine.match(line).hasMatch()) << line.toStdString();
        if (line.contains(QStringLiteral(" - barn ")))
            childTexts << line.section(QStringLiteral(" - "), 1);
    }
    for (int i = 0; i < kChildLines; ++i)
        expected << QStringLiteral("barn %1").arg(i);
    EXPECT_EQ(childTexts, expected);
}

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
