#include "settings/monitorsettings.h"

#include "base/textutil.h"
#include "monitordb/systemdatabase.h"

namespace {

// Stored as 64-bit numbers: a value beyond an int keeps its sign instead of
// wrapping, so "nonzero means on" holds for every one of them.
int OrDefault(qint64 stored, int fallback) {
    return stored == 0 ? fallback : SaturatedInt(stored);
}

} // namespace

CMonitorSettings CMonitorSettings::Load(CSystemDatabase& db) {
    return Assemble(db, [&db](const QString& name) { return db.GetSetting(name); });
}

CMonitorSettings CMonitorSettings::Read(CSystemDatabase& db) {
    return Assemble(db, [&db](const QString& name) { return db.StoredNumber(name).value_or(0); });
}

// In the order the settings have always been read, so the missing ones are created in it.
CMonitorSettings CMonitorSettings::Assemble(CSystemDatabase& db,
                                            const std::function<qint64(const QString&)>& number) {
    CMonitorSettings settings;
    settings.showColumn4 = SaturatedInt(number(QStringLiteral("SHOW_KOL4")));
    settings.minimizeMinutes = OrDefault(number(QStringLiteral("HIDE_MINUTER")), 10);
    settings.minimizePeriodically = SaturatedInt(number(QStringLiteral("HIDE")));
    settings.logDays = OrDefault(number(QStringLiteral("LOGFILE")), 100);
    settings.pidDays = OrDefault(number(QStringLiteral("PID")), 10);
    settings.programPath = TrimmedRight(db.GetProgramPath());
    settings.mayWriteIp21 = SaturatedInt(number(QStringLiteral("SAVE")));
    settings.schedulerOn = SaturatedInt(number(QStringLiteral("DRIFT")));
    // One statement for all of them: the settings are read at every tick and refresh.
    const QHash<QString, QString> texts = db.TextSettings();
    settings.failureCommand = texts.value(QStringLiteral("KOR_VID_FEL"));
    settings.startOnCluster = texts.value(QStringLiteral("KOR_PA")) == QLatin1String(kOnCluster);
    settings.slurmPartition = texts.value(QStringLiteral("SLURM_PARTITION"));
    settings.slurmOptions = texts.value(QStringLiteral("SLURM_FLAGGOR"));
    return settings;
}
