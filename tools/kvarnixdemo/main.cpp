// Prepares a folder to try the monitor in: two models with their macro databases,
// and a monitor database whose schedule shows every kind of start time, with the
// calculation simulator as the calculation program.

#include "base/stderrmessenger.h"

#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QVector>
#include <cstdio>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kBusyTimeoutMs = 5000;
// Far enough ahead to start the monitor and watch the rows come due.
constexpr int kWeekdayRowLeadSeconds = 3 * 60;
constexpr int kAbsoluteRowLeadSeconds = 5 * 60;
constexpr QLatin1String kSettingsText("- - - -");

// The blank and the apostrophe are there on purpose: both must survive every
// step from the schedule to the calculation program's command line.
const QStringList& ModelNames() {
    static const QStringList names{QStringLiteral("Pumpstation Norr"), QStringLiteral("Kvarn'Syd")};
    return names;
}

const QStringList& MacroNames() {
    static const QStringList names{QStringLiteral("Dygnsberäkning"), QStringLiteral("Timberäkning"),
                                   QStringLiteral("Kontroll")};
    return names;
}

struct DemoRow {
    QString tid;
    QString model;
    QString macro;
    bool active;
};

void PrintLine(const QString& text) {
    std::puts(qPrintable(text));
}

QString StoredWeekdayText(const QDateTime& time) {
    return QString::number(time.date().dayOfWeek() % 7) + QLatin1Char('-') +
           time.toString(QStringLiteral("HH:mm"));
}

QVector<DemoRow> ScheduleRows(const QStringList& models, const QDateTime& now) {
    const QString& north = models[0];
    const QString& south = models[1];
    const QString absolute =
        now.addSecs(kAbsoluteRowLeadSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return {
        {QStringLiteral("XXXX-XX-XX XX:XX"), north, MacroNames()[2], true},
        {QStringLiteral("00:02"), south, MacroNames()[1], true},
        {StoredWeekdayText(now.addSecs(kWeekdayRowLeadSeconds)), north, MacroNames()[0], true},
        {absolute, south, MacroNames()[0], true},
        {QStringLiteral("00:01"), south, MacroNames()[2], false},
    };
}

bool WriteModelFile(const QString& modelPath) {
    QFile file(modelPath + QStringLiteral(".vxm"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        PrintError(QStringLiteral("kvarnixdemo: cannot write %1: %2")
                       .arg(file.fileName(), file.errorString()));
        return false;
    }
    file.write(QStringLiteral("Demomodell %1\n").arg(QFileInfo(modelPath).fileName()).toUtf8());
    return true;
}

void CreateMacroDatabase(const QString& modelPath) {
    const QString path = modelPath + QStringLiteral(".mac");
    // Left over from a run that stopped half-way, it would already hold the table.
    QFile::remove(path);
    CSqliteConnection connection;
    connection.Open(path, CSqliteConnection::OpenMode::CreateFile, kBusyTimeoutMs);
    connection.Execute(QStringLiteral("CREATE TABLE MACRONAMN (NAMN TEXT, KEY INTEGER)"));
    CSqliteStatement insert =
        connection.Prepare(QStringLiteral("INSERT INTO MACRONAMN (NAMN, KEY) VALUES (?, ?)"));
    for (int i = 0; i < MacroNames().size(); ++i) {
        insert.Bind(1, MacroNames()[i]).Bind(2, i + 1).Run();
        insert.Reset();
    }
}

bool CreateModels(const QStringList& models) {
    for (const QString& model : models) {
        if (!WriteModelFile(model))
            return false;
        CreateMacroDatabase(model);
        PrintLine(QStringLiteral("model    %1.vxm  (macros in %1.mac: %2)")
                      .arg(model, MacroNames().join(QStringLiteral(", "))));
    }
    return true;
}

void AddScheduleRow(CSystemDatabase& database, const DemoRow& row) {
    const int key = database.SaveRow(row.tid, row.model, row.macro, -1, 0);
    // Setting the active flag also zeroes the countdown, so a cyclic row is due
    // at the monitor's first tick.
    database.SetImplemented(row.active ? 1 : 0, key);
    PrintLine(QStringLiteral("row %1    %2  %3  %4  %5")
                  .arg(key)
                  .arg(row.active ? QStringLiteral("active  ") : QStringLiteral("inactive"),
                       row.tid.leftJustified(16), QFileInfo(row.model).fileName().leftJustified(16),
                       row.macro));
}

void CreateMonitorDatabase(const QString& path, const QString& simulator,
                           const QStringList& models) {
    CSystemDatabase database(path);
    database.OpenOrCreate();
    database.SaveRow(kSettingsText, simulator, kSettingsText, 0, 0);
    database.SetSetting(QStringLiteral("DRIFT"), 1);
    database.SetSetting(QStringLiteral("SAVE"), 0);
    PrintLine(QStringLiteral("database %1  (DRIFT 1, SAVE 0, calculation program %2)")
                  .arg(path, simulator));
    for (const DemoRow& row : ScheduleRows(models, QDateTime::currentDateTime()))
        AddScheduleRow(database, row);
}

int PrepareDemo(const QString& folder, const QString& simulator) {
    const QDir dir(folder);
    const QString databasePath = dir.filePath(QStringLiteral("kvarnixmonitor.mdb"));
    if (QFileInfo::exists(databasePath)) {
        PrintError(QStringLiteral("kvarnixdemo: %1 already exists; delete the folder first")
                       .arg(databasePath));
        return kExitFailure;
    }
    const QString modelFolder = dir.filePath(QStringLiteral("modeller"));
    if (!QDir().mkpath(modelFolder)) {
        PrintError(QStringLiteral("kvarnixdemo: cannot create %1").arg(modelFolder));
        return kExitFailure;
    }
    QStringList models;
    for (const QString& name : ModelNames())
        models << QDir(modelFolder).filePath(name);

    try {
        if (!CreateModels(models))
            return kExitFailure;
        CreateMonitorDatabase(databasePath, simulator, models);
    } catch (const CDatabaseError& failure) {
        PrintError(QStringLiteral("kvarnixdemo: %1").arg(FaultText(failure)));
        return kExitFailure;
    }
    PrintLine(QStringLiteral("The monitor uses the database beside its own program file: "
                             "start it as %1/kvarnixmonitor (a link will do).")
                  .arg(dir.path()));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3) {
        PrintError(QStringLiteral("usage: kvarnixdemo <folder> <path of kvarnixsim>"));
        return kExitUsage;
    }
    const QFileInfo simulator(arguments[2]);
    if (!simulator.isFile() || !simulator.isExecutable()) {
        PrintError(QStringLiteral("kvarnixdemo: %1 is no executable file").arg(arguments[2]));
        return kExitUsage;
    }
    return PrepareDemo(QDir(arguments[1]).absolutePath(), simulator.absoluteFilePath());
}
