#include "base/filedescriptor.h"
#include "log/monitorlog.h"
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
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

// The child ends when the work does.
pid_t InChild(const std::function<void()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        _exit(0);
    }
    EXPECT_GT(child, 0);
    return child;
}

// The texts the work returns, from a child process of its own; nothing when the work could not be
// done there.
std::optional<QStringList> FromChild(const std::function<std::optional<QStringList>()>& work) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    CFileDescriptor readEnd(ends[0]);
    CFileDescriptor writeEnd(ends[1]);
    const pid_t child = InChild([&] {
        const std::optional<QStringList> texts = work();
        if (!texts)
            _exit(1);
        for (const QString& text : *texts)
            WriteAll(writeEnd.Get(), text.toUtf8() + '\n');
    });
    writeEnd.Close();
    QByteArray received;
    char buffer[4096];
    for (ssize_t got; (got = ::read(readEnd.Get(), buffer, sizeof buffer)) > 0;)
        received.append(buffer, got);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    QStringList texts = QString::fromUtf8(received).split(u'\n');
    texts.removeLast();
    return texts;
}

// Permissions do not stop root, so root hands the work to nobody; false when it cannot.
bool RunsWherePermissionsCount(const passwd* nobody) {
    if (::geteuid() != 0)
        return true;
    return nobody && ::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 &&
           ::setuid(nobody->pw_uid) == 0;
}

void SetAge(const QString& path, qint64 seconds) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// The whole-log trim: a line goes when its head is no timestamp, its date none, or too old.
QDate ReferenceDate(const QByteArray& line) {
    return QDate(std::atoi(line.mid(0, 4).constData()), std::atoi(line.mid(5, 2).constData()),
                 std::atoi(line.mid(8, 2).constData()));
}

bool ReferenceShape(const QByteArray& line) {
    QByteArray head = line.left(19).trimmed();
    for (char& c : head)
        c = c >= '0' && c <= '9' ? '0' : c;
    return QByteArray("0000-00-00 00:00:00").startsWith(head);
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
            lines += QString::asprintf("%s 10:%02d:00 - %s %d\n",
                                       qPrintable(day.toString(Qt::ISODate)), i % 60, text, i)
                         .toUtf8();
    }
    return lines;
}

const QDate kMay10(2024, 5, 10);

// A recent first line, old lines further in, a slash-dated line and a hand-written note.
QByteArray MixedLog(int perDay) {
    return "2024-05-09 07:00:00 - /m/först   Start\n" +
           DatedLines(kMay10.addDays(-20), kMay10.addDays(-12), perDay, "/m/gammal   Makro") +
           "2020-03-04 05:06:07 - /m/forntid   Makro\n"
           "2024/05/08 07:00:00 - /m/snedstreck   Makro\n"
           "Bytte modell i ugn 3 /Åsa\n" +
           DatedLines(kMay10.addDays(-6), kMay10, perDay, "/m/ny   Dygnsberäkning");
}

// A process started with this sees the folder as a network share: flock() there becomes a lock
// of the whole process, as on NFS.
QProcessEnvironment NetworkShare(const QString& folder) {
    QProcessEnvironment share = QProcessEnvironment::systemEnvironment();
    share.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KVARNIX_FAKENFS));
    share.insert(QStringLiteral("KVARNIX_FAKE_NFS"), QFileInfo(folder).canonicalFilePath());
    return share;
}

struct MonitorLogTest : testing::Test {
    // Nothing but the log's own files: the tests look at every file in the folder.
    CTestFolder folder{CTestFolder::Supervisor::None};
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
    EXPECT_EQ(FileBytes(logPath), expected);
    log.TrimLog(1);
    EXPECT_EQ(FileBytes(logPath), expected);

    // A log edited by hand may end without a line break; the next line starts a line of its own.
    WriteBytes(logPath, "2024-05-10 08:00:00 - cut short");
    log.AppendLogLine(QStringLiteral("next"), LocalTime("2024-05-10 09:00:00"));
    EXPECT_EQ(FileBytes(logPath), "2024-05-10 08:00:00 - cut short\n2024-05-10 09:00:00 - next\n");
}

// Any log trims to the reference's result; a log it keeps whole stays the same file.
TEST_F(MonitorLogTest, TrimComesToTheLineByLineResultForEveryLog) {
    const QByteArray malformed =
        "2024-05-10\n2024-05-1\n \n\n2024-02-30 07:00:00 - no such day\n"
        " 2024-05-09 08:00:00 - one blank before\n  2024-05-09 08:00:00 - two blanks before\n"
        "2024-05-09 08:00:00 - windows\r\n2024-5-09 08:00:00 - short month\n"
        "2024-05-09T08:00:00 - iso\n2024-05-09 08:00:00\n";
    // Lines shorter than a timestamp, so every cut of the reader falls into a line's start.
    const QByteArray shortLines = QByteArray("2024-05-1\n2024-05-10\n2024-05-10 0\n2024/05/1\n\n"
                                             "2024-05-10 08:00:0\nx\n  2024-05-10 08:00\n")
                                      .repeated(30000);
    const QByteArray month = DatedLines(kMay10.addDays(-30), kMay10, 12, "/m/a   B");
    const std::pair<const char*, QByteArray> logs[] = {
        {"empty", ""},
        {"one line break", "\n"},
        {"midnight at the span's start", "2024-05-07 12:00:00 - a\n2024-05-08 23:59:59 - b\n"
                                         "2024-05-09 00:00:00 - c\n2024-05-10 08:00:00 - d\n"},
        // Summer time starts 2024-03-31 in Stockholm; the span counts calendar days.
        {"summer time within the span", "2024-03-27 23:59:59 - x\n2024-03-28 00:00:00 - y\n"
                                        "2024-04-02 06:30:00 - z\n"},
        {"short, recent first line, old lines further in", MixedLog(1)},
        {"22 KB, recent first line, old lines further in", MixedLog(20)},
        {"25 KB, first line dated 2030",
         "2030-01-01 00:00:00 - /m/framtid   Makro\n" +
             DatedLines(kMay10.addDays(-60), kMay10.addDays(-10), 10, "/m/gammal   Makro") +
             DatedLines(kMay10.addDays(-4), kMay10, 3, "/m/ny   Makro")},
        {"malformed lines", malformed + month + malformed},
        {"no line break at the end", month + "2024-05-10 23:00:00 - sist"},
        {"short last line without a line break", month + "2024-05-0"},
        {"hand-written last line", month + "Kontrollerat /Anna\n"},
        {"lines of megabytes and many short lines",
         "2024-04-01 10:00:00 - " + QByteArray(3 << 20, 'g') + '\n' + shortLines +
             "2024-05-09 10:00:00 - " + QByteArray(3 << 20, 'n') + "\n2024-05-10 10:00:00 - x\n"}};
    for (const auto& [name, content] : logs) {
        for (const int span : {5, 1, 0, -3, 100}) {
            WriteBytes(logPath, content);
            const ino_t before = StatusOf(logPath).st_ino;
            const QByteArray expected = ReferenceTrim(content, span);
            CMonitorLog(logPath, trimPath).TrimLog(span);
            EXPECT_EQ(FileBytes(logPath), expected) << name << ", span " << span;
            if (expected == content) {
                EXPECT_EQ(StatusOf(logPath).st_ino, before) << name << ", span " << span;
            }
        }
    }
}

// A repeated trimmer sees every edit, append and replacement made between its trims.
TEST_F(MonitorLogTest, TrimFollowsEveryChangeMadeBetweenTwoTrims) {
    const QByteArray base = DatedLines(kMay10.addDays(-5), kMay10, 100, "/m/modell   Makro") +
                            "2024-05-10 23:00:00 - z\n";
    // Written over the log, also with its file times put back, or renamed onto it with them.
    enum class How { Written, TimesKept, RenamedTimesKept };
    const auto edit = [this](const QByteArray& content, How how) {
        const struct stat before = StatusOf(logPath);
        const QString path =
            how == How::RenamedTimesKept ? folder.File(QStringLiteral("annan.log")) : logPath;
        // A change within the clock tick of the file times of the last trim would show as none.
        QThread::msleep(20);
        WriteBytes(path, content);
        const timespec times[] = {before.st_atim, before.st_mtim};
        if (how != How::Written) {
            ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path), times, 0), 0);
        }
        if (how == How::RenamedTimesKept) {
            ASSERT_EQ(::rename(QFile::encodeName(path), QFile::encodeName(logPath)), 0);
        }
    };
    const std::tuple<const char*, QByteArray, How> edits[] = {
        {"a line made malformed, same size",
         QByteArray(base).replace(base.indexOf('\n', base.size() / 2) + 5, 1, "/"), How::Written},
        {"a line made old, same size and time", "2023" + base.mid(4), How::TimesKept},
        {"replaced by an old log of the same size and time", "2022" + base.mid(4),
         How::RenamedTimesKept},
        {"a note appended", base + "Notering\n", How::Written},
        {"a later line appended", base + "2024-05-13 08:00:00 - /m/senare   Makro\n", How::Written},
        {"cut short", base.left(base.size() / 3), How::Written},
        {"emptied", "", How::Written}};
    const auto appendOwnLine = [this](const char* stamp) {
        log.AppendLogLine(QStringLiteral("/m/egen   Makro"), LocalTime(stamp));
    };
    for (const auto& [name, content, how] : edits) {
        for (const bool appendsAfterTheEdit : {false, true}) {
            WriteBytes(logPath, base);
            log.TrimLog(5);
            ASSERT_EQ(FileBytes(logPath), base) << name;
            edit(content, how);
            if (appendsAfterTheEdit)
                appendOwnLine("2024-05-10 23:30:00");
            const QByteArray edited = FileBytes(logPath);
            log.TrimLog(5);
            EXPECT_EQ(FileBytes(logPath), ReferenceTrim(edited, 5)) << name;
        }
        // Its own append keeps the log known, also when the new day makes the oldest day go.
        appendOwnLine("2024-05-11 06:00:00");
        const QByteArray appended = FileBytes(logPath);
        log.TrimLog(5);
        EXPECT_EQ(FileBytes(logPath), ReferenceTrim(appended, 5)) << name;
    }
}

// No link planted beside the log, at the old fixed name or a likely other one, is followed.
TEST_F(MonitorLogTest, TrimNeverWritesThroughALinkBesideTheLog) {
    const QString target = folder.File(QStringLiteral("mål.txt"));
    const QString missing = folder.File(QStringLiteral("saknad.txt"));
    WriteBytes(target, "orörd\n");
    QStringList entries = {"kvarnixmonitor.xxx",     "kvarnixmonitor.xxx.XXXXXX",
                           "kvarnixmonitor.xxx.tmp", "kvarnixmonitor.log.tmp",
                           "kvarnixmonitor.log~",    "kvarnixmonitor.tmp",
                           ".kvarnixmonitor.log.swp"};
    for (const QString& link : entries)
        ASSERT_TRUE(
            QFile::link(folder.File(link) == trimPath ? missing : target, folder.File(link)));
    WriteBytes(logPath, DatedLines(kMay10.addDays(-9), kMay10, 30, "/m/modell   Makro") + "Not\n");
    for (const int span : {9, 6, 3, 0}) {
        log.TrimLog(span);
        log.AppendLogLine(QStringLiteral("/m/modell   Makro"), LocalTime("2024-05-10 23:00:00"));
    }
    EXPECT_EQ(FileBytes(target), "orörd\n");
    EXPECT_TRUE(S_ISREG(StatusOf(logPath).st_mode));
    // The last day's lines and the four appended ones.
    EXPECT_EQ(folder.ReadLines(logPath).size(), 30 + 4);
    entries += {"mål.txt", "kvarnixmonitor.log"};
    entries.sort();
    EXPECT_EQ(QDir(folder.Path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name),
              entries);
}

// A new file that cannot be made or written, a held log, a log that is no file: a diagnostic each.
TEST_F(MonitorLogTest, FailuresLeaveTheLogAndNoNewFileWithADiagnosticEach) {
    const QByteArray original = DatedLines(kMay10.addDays(-9), kMay10, 90, "/m/modell   Makro");
    WriteBytes(logPath, original);
    const QString elsewhere = QStringLiteral("/dev/shm/kvarnix-test-%1.xxx").arg(::getpid());
    const CDiagnostics diagnostics;
    for (const QString& trimFile :
         {folder.File(QStringLiteral("saknas/kvarnixmonitor.xxx")), elsewhere}) {
        CMonitorLog(logPath, trimFile).TrimLog(1);
        EXPECT_EQ(FileBytes(logPath), original) << trimFile.toStdString();
    }
    EXPECT_TRUE(QDir(QStringLiteral("/dev/shm"))
                    .entryList({QFileInfo(elsewhere).fileName() + "*"}, QDir::AllEntries)
                    .isEmpty());
    // The child process may write no more than 4 KB to any file.
    const pid_t child = InChild([this] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        log.TrimLog(1);
    });
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(FileBytes(logPath), original);
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden),
              QStringList("kvarnixmonitor.log"));
    CMonitorLog(folder.File(QStringLiteral("saknas/kvarnixmonitor.log")), trimPath)
        .AppendLogLine(QStringLiteral("x"), LocalTime("2024-05-10 08:00"));
    ASSERT_EQ(diagnostics.messages.size(), 3);
    EXPECT_TRUE(diagnostics.messages[2].startsWith("KvarnixMonitors loggfil kunde inte öppnas "));

    const CMonitorLog impatient(logPath, trimPath, std::chrono::milliseconds(200));
    CFileDescriptor holder(::open(QFile::encodeName(logPath).constData(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.Get(), LOCK_EX), 0);
    impatient.AppendLogLine(QStringLiteral("/m/väntar   Makro"), LocalTime("2024-05-10 09:00"));
    impatient.TrimLog(1);
    holder.Close();
    EXPECT_EQ(FileBytes(logPath), original);
    ASSERT_EQ(diagnostics.messages.size(), 5);
    EXPECT_TRUE(diagnostics.messages[3].endsWith("2024-05-10 09:00:00 - /m/väntar   Makro"));
    ASSERT_TRUE(QFile::remove(logPath));
    ASSERT_EQ(::mkfifo(QFile::encodeName(logPath).constData(), 0600), 0);
    // Whoever reads the pipe gets the line; no trim touches it, and the first one says so.
    const CFileDescriptor reader(
        ::open(QFile::encodeName(logPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    impatient.AppendLogLine(QStringLiteral("/m/rör   Makro"), LocalTime("2024-05-10 09:00"));
    impatient.TrimLog(1);
    impatient.TrimLog(1);
    QByteArray piped(100, '\0');
    piped.truncate(std::max<ssize_t>(0, ::read(reader.Get(), piped.data(), piped.size())));
    EXPECT_EQ(piped, "2024-05-10 09:00:00 - /m/rör   Makro\n");
    ASSERT_EQ(diagnostics.messages.size(), 6);
    EXPECT_EQ(diagnostics.messages[5],
              "KvarnixMonitors loggfil är ingen vanlig fil och trimmades inte");
}

// Neither an append nor a trim follows a link at the log's path, dangling or not: nothing outside
// the folder is created or written, and the link stays as it was.
TEST_F(MonitorLogTest, NoLinkAtTheLogsPathIsFollowed) {
    const CTestFolder elsewhere;
    const QString existing = elsewhere.File(QStringLiteral("annan.log"));
    const QString missing = elsewhere.File(QStringLiteral("saknad.log"));
    // Old lines that a trim would drop.
    const QByteArray content = DatedLines(kMay10.addDays(-9), kMay10, 3, "/m/annan   Makro");
    WriteBytes(existing, content);
    const QString linkProblem = "Monitorloggen " + logPath +
                                " är en symbolisk länk; monitorn följer den inte. Ta bort länken.";
    for (const QString& target : {existing, missing}) {
        ASSERT_TRUE(QFile::link(target, logPath));
        CMonitorLog linked(logPath, trimPath);
        QStringList heard;
        linked.SetFaultListener([&heard](const QString& problem) { heard << problem; });
        linked.AppendLogLine(QStringLiteral("/m/länkad   Makro"), LocalTime("2024-05-10 23:00"));
        linked.TrimLog(1);
        EXPECT_TRUE(QFileInfo(logPath).isSymLink()) << target.toStdString();
        EXPECT_EQ(heard, QStringList(linkProblem)) << target.toStdString();
        ASSERT_TRUE(QFile::remove(logPath));
    }
    EXPECT_EQ(FileBytes(existing), content);
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(QDir(folder.Path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// The operator hears of a fault once, whether appends or trims meet it and however often, and of
// its end once; the diagnostic log has one line for it. The listener may write to the log.
TEST_F(MonitorLogTest, AFaultIsToldOnceWhenItStartsAndOnceWhenItEnds) {
    const CDiagnostics diagnostics;
    // Short, so that a listener called while the log is held waits no longer than this.
    CMonitorLog impatient(logPath, trimPath, std::chrono::milliseconds(200));
    QStringList heard;
    impatient.SetFaultListener([&](const QString& problem) {
        heard << problem;
        impatient.AppendLogLine(problem.isEmpty() ? QStringLiteral("loggen fungerar igen")
                                                  : QStringLiteral("loggen fungerar inte"),
                                LocalTime("2024-05-10 08:30"));
    });
    const auto appendAndTrim = [&impatient](const char* stamp) {
        impatient.AppendLogLine(QStringLiteral("/m/modell   Makro"), LocalTime(stamp));
        impatient.TrimLog(5);
    };
    ASSERT_TRUE(QDir().mkdir(logPath));
    appendAndTrim("2024-05-10 08:00");
    appendAndTrim("2024-05-10 08:01");
    const QString folderInTheWay = "Monitorloggen " + logPath +
                                   " är en mapp. Ta bort eller flytta mappen, så skapar monitorn "
                                   "loggen på nytt.";
    EXPECT_EQ(heard, QStringList(folderInTheWay));
    EXPECT_EQ(diagnostics.messages, QStringList("KvarnixMonitors loggfil kunde inte öppnas 21"));

    ASSERT_TRUE(QDir().rmdir(logPath));
    impatient.TrimLog(5);
    EXPECT_EQ(heard.size(), 1) << "a trim that works says nothing of the appends";
    appendAndTrim("2024-05-10 08:02");
    appendAndTrim("2024-05-10 08:03");
    EXPECT_EQ(heard, QStringList({folderInTheWay, QString()}));
    EXPECT_EQ(FileBytes(logPath), "2024-05-10 08:02:00 - /m/modell   Makro\n"
                                  "2024-05-10 08:30:00 - loggen fungerar igen\n"
                                  "2024-05-10 08:03:00 - /m/modell   Makro\n");

    // Another fault after the end of the first is a fault of its own.
    ASSERT_TRUE(QFile::remove(logPath));
    ASSERT_TRUE(QFile::link(folder.File(QStringLiteral("borta.log")), logPath));
    appendAndTrim("2024-05-10 08:04");
    appendAndTrim("2024-05-10 08:05");
    EXPECT_EQ(heard, QStringList({folderInTheWay, QString(),
                                  "Monitorloggen " + logPath +
                                      " är en symbolisk länk; monitorn följer den inte. Ta bort "
                                      "länken."}));
    EXPECT_EQ(diagnostics.messages, QStringList({"KvarnixMonitors loggfil kunde inte öppnas 21",
                                                 "KvarnixMonitors loggfil kunde inte öppnas 40"}));
}

// A log the monitor may not write to: the append and the trim both meet it, and the operator is
// told once what to do; once the file may be written again, both work and the end is told.
TEST_F(MonitorLogTest, AReadOnlyLogIsToldWithWhatToDo) {
    const QByteArray recent = DatedLines(kMay10, kMay10, 3, "/m/modell   Makro");
    WriteBytes(logPath, recent);
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && nobody) {
        ASSERT_EQ(::chown(QFile::encodeName(logPath).constData(), nobody->pw_uid, nobody->pw_gid),
                  0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder.Path()).constData(), 0711), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(logPath).constData(), 0444), 0);
    const std::optional<QStringList> heard = FromChild([&]() -> std::optional<QStringList> {
        if (!RunsWherePermissionsCount(nobody))
            return std::nullopt;
        CMonitorLog log(logPath, trimPath);
        QStringList problems;
        log.SetFaultListener([&problems](const QString& problem) { problems << problem; });
        log.TrimLog(5);
        log.AppendLogLine(QStringLiteral("/m/modell   Makro"), LocalTime("2024-05-10 09:00"));
        log.TrimLog(5);
        ::chmod(QFile::encodeName(logPath).constData(), 0644);
        log.TrimLog(5);
        log.AppendLogLine(QStringLiteral("/m/modell   Makro"), LocalTime("2024-05-10 09:01"));
        return problems;
    });
    if (!heard)
        GTEST_SKIP() << "a test as root needs to run this as the user nobody, which it could not";
    EXPECT_EQ(*heard, QStringList({"Monitorloggen " + logPath +
                                       " går inte att skriva i (Permission denied). Ge monitorn "
                                       "skrivrätt till filen och mappen den ligger i.",
                                   QString()}));
    EXPECT_EQ(FileBytes(logPath), recent + "2024-05-10 09:01:00 - /m/modell   Makro\n");
}

// A line that does not fit on the disk is taken back whole, and the operator told.
TEST_F(MonitorLogTest, ALineThatCannotBeWrittenIsTakenBackAndTold) {
    const QByteArray recent = DatedLines(kMay10, kMay10, 90, "/m/modell   Makro");
    ASSERT_LT(recent.size(), 4096);
    WriteBytes(logPath, recent);
    const std::optional<QStringList> heard = FromChild([this] {
        // No file of the child may grow beyond 4 KB.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        QStringList problems;
        log.SetFaultListener([&problems](const QString& problem) { problems << problem; });
        for (int i = 0; i < 3; ++i) {
            log.AppendLogLine(QString(1000, u'x'), LocalTime("2024-05-10 09:00"));
            log.TrimLog(5);
        }
        return std::optional<QStringList>(problems);
    });
    ASSERT_TRUE(heard);
    EXPECT_EQ(*heard,
              QStringList("Monitorloggen " + logPath +
                          " går inte att skriva i (File too large). Kontrollera filen och mappen "
                          "den ligger i."));
    EXPECT_EQ(FileBytes(logPath), recent);
}

// A trim killed before its new log took the log's place leaves that file behind. A later trim
// removes it once no trim can still be writing it, and nothing that only looks like one.
TEST_F(MonitorLogTest, ATrimRemovesWhatKilledTrimsLeftBehindAndNothingElse) {
    WriteBytes(logPath, DatedLines(kMay10, kMay10, 3, "/m/modell   Makro"));
    const qint64 old = 11 * 60;
    const auto leave = [this](const char* name, qint64 age) {
        WriteBytes(folder.File(name), "2024-05-10 08:00:00 - halv");
        SetAge(folder.File(name), age);
    };
    leave("kvarnixmonitor.xxx.Ab12Cd", old);
    leave("kvarnixmonitor.xxx.Zz9yX8", 9 * 60);
    leave("kvarnixmonitor.xxx.Ab12C", old);
    leave("kvarnixmonitor.xxx.Ab12Cde", old);
    leave("kvarnixmonitor.xxx.Ab-2Cd", old);
    leave("kvarnixmonitor.xxx-Ab12Cd", old);
    leave("kvarnixmonitor.log.Ab12Cd", old);
    leave("mål.txt", old);
    QStringList kept = QDir(folder.Path()).entryList(QDir::Files);
    kept.removeOne(QStringLiteral("kvarnixmonitor.xxx.Ab12Cd"));
    ASSERT_TRUE(QFile::link(folder.File(QStringLiteral("mål.txt")),
                            folder.File(QStringLiteral("kvarnixmonitor.xxx.Lk12Cd"))));
    SetAge(folder.File(QStringLiteral("kvarnixmonitor.xxx.Lk12Cd")), old);
    ASSERT_TRUE(QDir(folder.Path()).mkdir(QStringLiteral("kvarnixmonitor.xxx.Dir123")));
    SetAge(folder.File(QStringLiteral("kvarnixmonitor.xxx.Dir123")), old);
    kept << QStringLiteral("kvarnixmonitor.xxx.Lk12Cd")
         << QStringLiteral("kvarnixmonitor.xxx.Dir123");
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && nobody) {
        leave("kvarnixmonitor.xxx.Nb12Cd", old);
        ASSERT_EQ(
            ::lchown(QFile::encodeName(folder.File(QStringLiteral("kvarnixmonitor.xxx.Nb12Cd")))
                         .constData(),
                     nobody->pw_uid, nobody->pw_gid),
            0);
        kept << QStringLiteral("kvarnixmonitor.xxx.Nb12Cd");
    }
    CMonitorLog(logPath, trimPath).TrimLog(5);
    kept.sort();
    EXPECT_EQ(QDir(folder.Path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDir::Name),
              kept);
    EXPECT_EQ(FileBytes(folder.File(QStringLiteral("mål.txt"))), "2024-05-10 08:00:00 - halv");
}

// Beside another appending and trimming process every line stays whole, once and in order.
TEST_F(MonitorLogTest, NoLineIsLostWhileAnotherProcessAppendsAndTrims) {
    const QDateTime start = LocalTime("2024-05-10 12:00:00");
    // Long enough that the other process appends while a trim reads and writes it.
    WriteBytes(logPath, DatedLines(kMay10.addDays(-2), kMay10, 20000, "/m/förut   Makro"));
    QStringList expected;
    for (int i = 0; i < 500; ++i)
        expected << QStringLiteral("barn %1").arg(i);
    const pid_t child = InChild([&] {
        const CMonitorLog other(logPath, trimPath);
        for (int i = 0; i < expected.size(); ++i) {
            other.AppendLogLine(expected[i], start.addSecs(i));
            if (i % 50 == 0)
                other.TrimLog(5);
            ::usleep(200);
        }
    });
    while (waitpid(child, nullptr, WNOHANG) == 0) {
        // An old line to drop makes every trim write a new log.
        log.AppendLogLine(QStringLiteral("gammal"), start.addDays(-10));
        log.TrimLog(5);
    }
    log.TrimLog(5);
    const QRegularExpression launchLine(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d - (barn \\d+|gammal|/m/förut   Makro \\d+)$"));
    QStringList childTexts;
    for (const QString& line : folder.ReadLines(logPath)) {
        EXPECT_TRUE(launchLine.match(line).hasMatch()) << line.toStdString();
        if (line.contains(QStringLiteral(" - barn ")))
            childTexts << line.section(QStringLiteral(" - "), 1);
    }
    EXPECT_EQ(childTexts, expected);
}

// On a network share the lock on the log belongs to the process, not to a descriptor: the threads
// of one process must still take turns, and no close may drop the lock another thread holds.
TEST_F(MonitorLogTest, NoLineIsLostOnANetworkShareWhileThreadsOfSeveralProcessesAppendAndTrim) {
    const QByteArray old =
        DatedLines(kMay10.addDays(-20), kMay10.addDays(-10), 1000, "/m/förut   Makro");
    // Long enough that the others append while a trim reads and writes it.
    const QByteArray kept = DatedLines(kMay10.addDays(-2), kMay10, 5000, "/m/kvar   Makro");
    WriteBytes(logPath, old + kept);
    const QProcessEnvironment share = NetworkShare(folder.Path());
    const QStringList names = {QStringLiteral("första"), QStringLiteral("andra"),
                               QStringLiteral("tredje")};
    const int threadCount = 3;
    const int lineCount = 400;
    QProcess writers[3];
    for (int i = 0; i < 3; ++i)
        StartProgram(writers[i], QStringLiteral(KVARNIX_APPENDLINES), share,
                     {logPath, trimPath, names[i], QString::number(threadCount),
                      QString::number(lineCount)});
    for (QProcess& writer : writers) {
        ASSERT_TRUE(writer.waitForFinished(120000));
        EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
    }

    // Every trim dropped what was old when it began and kept the rest in its place.
    const QByteArray trimmed = FileBytes(logPath);
    ASSERT_TRUE(trimmed.startsWith(kept) && trimmed.endsWith('\n'))
        << trimmed.left(80).toStdString();
    const QRegularExpression appendedLine(
        QStringLiteral("^2024-0\\d-\\d\\d 12:00:00 - ((första|andra|tredje) \\d-\\d+|gammal)$"));
    QStringList torn;
    QMap<QString, int> counts;
    for (const QString& line :
         QString::fromUtf8(trimmed.sliced(kept.size()).chopped(1)).split(u'\n')) {
        if (appendedLine.match(line).hasMatch())
            ++counts[line.sliced(22)];
        else
            torn << line;
    }
    EXPECT_TRUE(torn.isEmpty()) << torn.size()
                                << " torn, the first: " << torn.value(0).toStdString();
    QStringList lost;
    QStringList doubled;
    for (const QString& name : names) {
        for (int thread = 0; thread < threadCount; ++thread) {
            for (int line = 0; line < lineCount; ++line) {
                const QString text = QStringLiteral("%1 %2-%3").arg(name).arg(thread).arg(line);
                const int count = counts.take(text);
                if (count != 1)
                    (count == 0 ? lost : doubled) << text;
            }
        }
    }
    EXPECT_TRUE(lost.isEmpty()) << lost.size() << " lost: " << lost.join(", ").toStdString();
    EXPECT_TRUE(doubled.isEmpty())
        << doubled.size() << " doubled: " << doubled.join(", ").toStdString();
    counts.remove(QStringLiteral("gammal"));
    EXPECT_EQ(counts.keys(), QStringList());
}

// Closing a second descriptor of the log before the write would drop the process's lock on a
// network share, and let another process in while the line is half written.
TEST_F(MonitorLogTest, AnAppendOnANetworkShareHoldsTheLockUntilItsLineIsWritten) {
    const QByteArray before = DatedLines(kMay10, kMay10, 10, "/m/förut   Makro");
    WriteBytes(logPath, before);
    const int padding = 8 << 20; // takes milliseconds to write
    QProcess writer;
    StartProgram(writer, QStringLiteral(KVARNIX_APPENDLINES), NetworkShare(folder.Path()),
                 {logPath, trimPath, QStringLiteral("lång"), QStringLiteral("1"),
                  QStringLiteral("1"), QString::number(padding)});
    // The whole-file lock flock() becomes on the share.
    const CFileDescriptor log(::open(QFile::encodeName(logPath).constData(), O_RDWR | O_CLOEXEC));
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    QList<off_t> sizesSeenLocked;
    while (!writer.waitForFinished(0)) {
        lock.l_type = F_WRLCK;
        if (::fcntl(log.Get(), F_SETLK, &lock) != 0)
            continue;
        sizesSeenLocked << StatusOf(logPath).st_size;
        lock.l_type = F_UNLCK;
        ::fcntl(log.Get(), F_SETLK, &lock);
    }
    const QByteArray line = "2024-05-10 12:00:00 - lång 0-0 " + QByteArray(padding, 'x') + '\n';
    ASSERT_EQ(FileBytes(logPath), before + line);
    const QList<off_t> whole = {off_t(before.size()), off_t(before.size() + line.size())};
    sizesSeenLocked.removeIf([&whole](off_t size) { return whole.contains(size); });
    EXPECT_EQ(sizesSeenLocked, QList<off_t>());
}

// A monitor killed while it trims leaves the old log or the new one, never a torn one.
TEST_F(MonitorLogTest, KilledWhileTrimmingLeavesAWholeLog) {
    const QByteArray original =
        DatedLines(QDate(2026, 2, 1), QDate(2026, 2, 28), 600, "/m/modell   Makro");
    WriteBytes(logPath, original);
    const pid_t child = InChild([this] {
        for (int span = 27; span >= 0; --span)
            log.TrimLog(span);
    });
    QThread::msleep(40);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const QByteArray left = FileBytes(logPath);
    EXPECT_TRUE(left.startsWith("2026-02-") && original.endsWith(left)) << left.size();
}

} // namespace
