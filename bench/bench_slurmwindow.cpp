// The window while its scheduler hands a minute of 200 due rows to a one-node Slurm cluster of
// its own (as root), offscreen, in process: all submitted, the longest block of the window's
// event loop meanwhile, and the submissions a second. Prints one figure a line as
// "name value".
#include "base/clock.h"
#include "base/stderrmessenger.h"
#include "files/programpaths.h"
#include "loopblockmeter.h"
#include "mainwindow/mainframe.h"
#include "mainwindow/mainview.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "settings/monitorsettings.h"
#include "support/slurmcluster.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kRows = 200;
constexpr int kLongestWaitMs = 300000;

void Print(const char* name, double value) {
    std::printf("%s %.1f\n", name, value);
    std::fflush(stdout);
}

// Every row due every minute, sent held to the cluster: the figure is the handing over.
bool PrepareFolder(const QTemporaryDir& dir, const CProgramPaths& paths,
                   const CSlurmCluster& cluster) {
    if (!QFile::link(QStringLiteral(KVARNIX_RUNNER), paths.RunSupervisor()))
        return false;
    CSystemDatabase db(paths.MonitorDatabase());
    db.OpenOrCreate();
    CSqliteTransaction transaction(db.Connection());
    db.SaveRow(QStringLiteral("- - - -"), QStringLiteral("/bin/true"), QStringLiteral("- - - -"), 0,
               0);
    db.SetSetting(QStringLiteral("DRIFT"), 1);
    db.SetTextSetting(QStringLiteral("KOR_PA"), QStringLiteral("slurm"));
    db.SetTextSetting(QStringLiteral("SLURM_PARTITION"), cluster.Partition());
    db.SetTextSetting(QStringLiteral("SLURM_FLAGGOR"), QStringLiteral("--hold"));
    for (int row = 0; row < kRows; ++row)
        db.SaveRow(QStringLiteral("XXXX-XX-XX XX:XX"),
                   dir.filePath(QStringLiteral("rad%1").arg(row)), QStringLiteral("Makro"), -1, 1);
    transaction.Commit();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const CSlurmCluster cluster;
    if (!cluster.IsUp()) {
        std::fprintf(stderr, "Inget Slurm-kluster: %s\n", qPrintable(cluster.Problem()));
        return 1;
    }
    qputenv("SLURM_CONF", cluster.ConfigFile().toLocal8Bit());
    const QTemporaryDir dir;
    const CProgramPaths paths(dir.filePath(QStringLiteral("kvarnixmonitor")));
    if (!PrepareFolder(dir, paths, cluster))
        return 1;
    const CSystemClock clock;
    CStderrMessenger messenger;
    CMonitorSettings settings;
    CMainFrame frame(settings, paths, clock, messenger);
    frame.show();
    int submitted = 0;
    int refused = 0;
    QElapsedTimer batch;
    QObject::connect(&frame.View()->Runner(), &CSchedulerRunner::Launched,
                     [&](const CLaunchReport& report) {
                         if (!batch.isValid())
                             batch.start();
                         ++(report.started ? submitted : refused);
                     });
    const CLoopBlockMeter loopBlock;
    if (!frame.View()->InitialUpdate())
        return 1;
    QElapsedTimer waited;
    waited.start();
    while (submitted + refused < kRows && waited.elapsed() < kLongestWaitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    Print("slurm_batch_submitted", submitted);
    Print("slurm_batch_refused", refused);
    Print("slurm_batch_loop_block_ms", double(loopBlock.LongestMs()));
    Print("slurm_batch_submissions_per_s",
          submitted * 1000.0 / double(std::max<qint64>(1, batch.elapsed())));
    cluster.Run(QStringLiteral("scancel"), {QStringLiteral("--partition=") + cluster.Partition()});
    return submitted == kRows ? 0 : 1;
}
