// Appends numbered lines to a monitor log from several threads at once, each through a log
// object of its own as the monitor's threads do, and trims the log every few lines. Before each
// trim the thread appends a line dated long ago, so that every trim writes a new log. For tests
// that run it beside other writers of one log.
//   kvarnix_appendlines <log> <trim file> <name> <threads> <lines per thread> [<padding>]
// The lines read "<name> <thread>-<line>", followed by a blank and padding × "x" when padding is
// given: a long line takes a while to write.
#include "base/stderrmessenger.h"

#include "log/monitorlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <thread>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr int kLinesBetweenTrims = 10;
constexpr int kSpanDays = 5;

void AppendAndTrim(const QString& logPath, const QString& trimPath, const QString& name, int thread,
                   int lineCount, const QString& padding) {
    const CMonitorLog log(logPath, trimPath);
    const QDateTime now(QDate(2024, 5, 10), QTime(12, 0));
    for (int line = 0; line < lineCount; ++line) {
        log.AppendLogLine(QStringLiteral("%1 %2-%3").arg(name).arg(thread).arg(line) + padding,
                          now);
        if (line % kLinesBetweenTrims == kLinesBetweenTrims - 1) {
            log.AppendLogLine(QStringLiteral("gammal"), now.addDays(-2 * kSpanDays));
            log.TrimLog(kSpanDays);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool isThreadCount = false;
    bool isLineCount = false;
    bool isPadding = true;
    const int threadCount = arguments.value(4).toInt(&isThreadCount);
    const int lineCount = arguments.value(5).toInt(&isLineCount);
    const int paddingLength = arguments.size() == 7 ? arguments[6].toInt(&isPadding) : 0;
    if ((arguments.size() != 6 && arguments.size() != 7) || !isThreadCount || !isLineCount ||
        !isPadding || threadCount < 1 || paddingLength < 0) {
        PrintError(QStringLiteral("Användning: kvarnix_appendlines <logg> <trimfil> <namn> "
                                  "<trådar> <rader per tråd> [<utfyllnad>]"));
        return kExitUsage;
    }
    const QString padding = paddingLength > 0 ? u' ' + QString(paddingLength, u'x') : QString();
    std::vector<std::thread> threads;
    for (int thread = 0; thread < threadCount; ++thread)
        threads.emplace_back(AppendAndTrim, arguments[1], arguments[2], arguments[3], thread,
                             lineCount, padding);
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}
