// Stands in for the calculation program: takes the six launch arguments, reports
// through the monitor database and the model's log the way the real program does,
// and spends a configurable time "calculating" in between.

#include "base/stderrmessenger.h"

#include "log/monitorlog.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

constexpr int kExitDatabaseFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kBusyWaitMs = 120000;
constexpr int kDefaultSeconds = 20;
constexpr int kMeasurementLagSeconds = 60;
constexpr QLatin1String kModelSuffix(".vxm");

struct LaunchArguments {
    QString modelFile;
    QString macro;
    int key = 0;
    QString databasePath;
};

QString Usage() {
    return QStringLiteral(
               "usage: kvarnixsim <model>.vxm <macro> <key> <save> <monitor database> 1\n"
               "  KVARNIXSIM_SECONDS   calculation time in seconds (default %1)\n"
               "  KVARNIXSIM_ARGS_FILE arguments are appended here, ended by \"--\"\n"
               "  KVARNIXSIM_EXIT      exit status after the calculation (default 0)\n"
               "  KVARNIXSIM_OUTPUT_BYTES  bytes written to standard output first, in lines\n"
               "                       numbered from 1, and a line on standard error\n"
               "  KVARNIXSIM_IGNORE_TERM   1: SIGTERM does not stop the calculation")
        .arg(kDefaultSeconds);
}

// Tests compare the exact argument vector the monitor handed over, so it is
// recorded before anything can reject it.
void RecordArguments(const QStringList& arguments) {
    const QString path = qEnvironmentVariable("KVARNIXSIM_ARGS_FILE");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        PrintError(QStringLiteral("kvarnixsim: cannot record arguments in %1: %2")
                       .arg(path, file.errorString()));
        return;
    }
    for (const QString& argument : arguments)
        file.write(argument.toUtf8() + '\n');
    file.write("--\n");
}

std::optional<int> ParseDecimal(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+$"));
    bool inRange = false;
    const int value = text.toInt(&inRange);
    if (!decimal.match(text).hasMatch() || !inRange)
        return std::nullopt;
    return value;
}

bool IsModelFile(const QString& text) {
    return text.size() > kModelSuffix.size() && text.endsWith(kModelSuffix);
}

// Empty when the arguments follow the launch form; otherwise the first thing wrong with them.
QString FormProblem(const QStringList& arguments) {
    if (arguments.size() != 6)
        return QStringLiteral("%1 arguments instead of 6").arg(arguments.size());
    if (!IsModelFile(arguments[0]))
        return QStringLiteral("argument 1 is no model file ending in .vxm");
    if (arguments[1].isEmpty())
        return QStringLiteral("argument 2, the macro name, is empty");
    if (!ParseDecimal(arguments[2]))
        return QStringLiteral("argument 3, the row key, is no decimal number");
    if (!ParseDecimal(arguments[3]))
        return QStringLiteral("argument 4, SAVE, is no decimal number");
    if (arguments[4].isEmpty())
        return QStringLiteral("argument 5, the monitor database, is empty");
    if (arguments[5] != QLatin1String("1"))
        return QStringLiteral("argument 6 is not the constant 1");
    return {};
}

std::optional<int> CalculationSeconds() {
    if (!qEnvironmentVariableIsSet("KVARNIXSIM_SECONDS"))
        return kDefaultSeconds;
    const std::optional<int> seconds = ParseDecimal(qEnvironmentVariable("KVARNIXSIM_SECONDS"));
    if (!seconds || *seconds < 0)
        return std::nullopt;
    return seconds;
}

QString ModelPath(const LaunchArguments& launch) {
    return launch.modelFile.chopped(kModelSuffix.size());
}

QString NumberName(const char* prefix, int key) {
    return QLatin1String(prefix) + QString::number(key);
}

void AppendModelLog(const LaunchArguments& launch, const QString& text) {
    // The model's log is only ever appended to here; trimming it is not our business.
    const CMonitorLog modelLog(ModelPath(launch) + QStringLiteral(".log"), QString());
    modelLog.AppendLogLine(text, QDateTime::currentDateTime());
}

void AddPidRecord(const LaunchArguments& launch, const QDateTime& now) {
    CSqliteConnection connection;
    connection.Open(launch.databasePath, CSqliteConnection::OpenMode::ExistingFile, kBusyWaitMs);
    connection.Prepare(QStringLiteral("INSERT INTO PID (TID, PID, MODELL) VALUES (?, ?, ?)"))
        .Bind(1, now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        .Bind(2, static_cast<int>(QCoreApplication::applicationPid()))
        .Bind(3, ModelPath(launch))
        .Run();
}

// The monitor may hold the file for a while; the simulator waits as a calculation would.
void StartCalculation(const LaunchArguments& launch) {
    CSystemDatabase database(launch.databasePath, kBusyWaitMs);
    database.Open();
    database.SetSetting(NumberName("RUNFLAGG", launch.key), 1);
    AddPidRecord(launch, QDateTime::currentDateTime());
    AppendModelLog(launch, QStringLiteral("Beräkning startad med makrot ") + launch.macro);
}

void FinishCalculation(const LaunchArguments& launch) {
    CSystemDatabase database(launch.databasePath, kBusyWaitMs);
    database.Open();
    const QDateTime now = QDateTime::currentDateTime();
    const int seconds = static_cast<int>(now.toSecsSinceEpoch());
    database.SetSetting(NumberName("CALC_TIME", launch.key), seconds);
    database.SetSetting(NumberName("MES_TIME", launch.key), seconds - kMeasurementLagSeconds);
    AppendModelLog(launch, QStringLiteral("Beräkning klar"));
    // Cleared last: the monitor must not start the row again before its results are stored.
    database.SetSetting(NumberName("RUNFLAGG", launch.key), 0);
}

// Numbered lines, so that a test can tell which part of a long output was kept.
void WriteOutput(qint64 bytes) {
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    for (qint64 line = 1, written = 0; written < bytes; ++line) {
        QByteArray text = QByteArray::number(line).rightJustified(9, '0') + " utdata\n";
        text.truncate(int(std::min<qint64>(text.size(), bytes - written)));
        out.write(text);
        written += text.size();
    }
    out.flush();
    std::fputs("kvarnixsim: standard error\n", stderr);
    std::fflush(stderr);
}

int RunCalculation(const LaunchArguments& launch, int seconds) {
    // Opening would create a missing database, and a stray file helps nobody.
    if (!QFileInfo::exists(launch.databasePath)) {
        PrintError(
            QStringLiteral("kvarnixsim: no monitor database at %1").arg(launch.databasePath));
        return kExitDatabaseFailure;
    }
    try {
        StartCalculation(launch);
        WriteOutput(qEnvironmentVariable("KVARNIXSIM_OUTPUT_BYTES").toLongLong());
        QThread::sleep(static_cast<unsigned long>(seconds));
        FinishCalculation(launch);
    } catch (const CDatabaseError& failure) {
        PrintError(QStringLiteral("kvarnixsim: %1").arg(FaultText(failure)));
        return kExitDatabaseFailure;
    }
    return qEnvironmentVariableIntValue("KVARNIXSIM_EXIT");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIntValue("KVARNIXSIM_IGNORE_TERM") == 1)
        std::signal(SIGTERM, SIG_IGN);
    const QStringList arguments = application.arguments().mid(1);
    RecordArguments(arguments);

    const QString problem = FormProblem(arguments);
    if (!problem.isEmpty()) {
        PrintError(QStringLiteral("kvarnixsim: %1\n%2").arg(problem, Usage()));
        return kExitUsage;
    }
    const std::optional<int> seconds = CalculationSeconds();
    if (!seconds) {
        PrintError(QStringLiteral("kvarnixsim: KVARNIXSIM_SECONDS must be a whole number >= 0\n") +
                   Usage());
        return kExitUsage;
    }
    // SAVE only has to be well-formed: the simulator writes no process data.
    const LaunchArguments launch{arguments[0], arguments[1], *ParseDecimal(arguments[2]),
                                 arguments[4]};
    return RunCalculation(launch, *seconds);
}
