// Starts on a monitor database as the monitor does (creating a missing file, reading settings
// and run flags not yet stored), then saves new rows as the entry dialog does, one transaction
// each, and prints the key each one got, one a line. For tests that run several at once on one
// file.
//   kvarnix_saverows <monitor database> <row count>
#include "base/stderrmessenger.h"

#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "monitordb/systemdatabase.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool isNumber = false;
    const int rowCount = arguments.value(2).toInt(&isNumber);
    if (arguments.size() != 3 || !isNumber || rowCount < 0) {
        PrintError(QStringLiteral("Användning: kvarnix_saverows <monitordatabas> <antal rader>"));
        return kExitUsage;
    }
    try {
        CSystemDatabase db(arguments[1]);
        db.OpenOrCreate();
        db.GetSetting(QStringLiteral("HIDE_MINUTER"));
        db.RunFlags({7, 8, 9});
        db.IsRunFlagSet(10);
        for (int i = 0; i < rowCount; ++i) {
            const int key =
                db.SaveRow(QStringLiteral("00:05"), QStringLiteral("/modeller/modell%1").arg(i),
                           QStringLiteral("Dygnsberäkning"), -1, 1);
            std::printf("%d\n", key);
        }
    } catch (const CDatabaseError& e) {
        PrintError(FaultText(e));
        return kExitFailure;
    }
    return 0;
}
