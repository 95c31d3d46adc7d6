// The log viewer opened on a monitor log that has grown for years, until its dialog shows.
#include "base/stderrmessenger.h"
#include "monitorfolder.h"

#include "dialogs/dlgvisalogg.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

constexpr qint64 kLogBytes = 500LL * 1024 * 1024;
constexpr int kChunkLines = 100000;

bool WriteLongLog(const QString& path) {
    const QByteArray chunk = MonitorLogText(kChunkLines, QDate(2020, 1, 1), QDate(2020, 12, 31));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    while (file.size() < kLogBytes) {
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

qint64 PeakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

void LogViewerOpen(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kvarnixmonitor.log"));
    if (!dir.isValid() || !WriteLongLog(path)) {
        state.SkipWithError("the long log could not be written");
        return;
    }
    CStderrMessenger messenger;
    for (auto _ : state) {
        CDlgVisaLogg dialog(path, CDlgVisaLogg::LogKind::MonitorLog, messenger);
        QTimer::singleShot(0, &dialog, &QDialog::reject);
        benchmark::DoNotOptimize(dialog.Run());
    }
    state.counters["peak_resident_mb"] = static_cast<double>(PeakResidentMegabytes());
}
BENCHMARK(LogViewerOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
