// The built monitor, started in a folder of its own, runs a due row through the
// calculation simulator at the next minute, as an operator would see it happen.
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kLongestWaitMs = 75000;

TEST(EndToEnd, MonitorStartsTheDueRowAndShowsItsStoredTimes) {
    CTestFolder folder;
    ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
    const QString model = folder.File("Pumpstation Norr");
    folder.WriteText(model + ".vxm", "modell");

    CRecordingMessenger messenger;
    CSystemDatabase db(folder.DatabaseFile());
    ASSERT_TRUE(db.OpenOrCreate());
    db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
    db.SetSetting("DRIFT", 1);
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, "Dygnsberäkning", -1, 1);
    db.Close();

    const QString argsFile = folder.File("args.txt");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("KVARNIXSIM_ARGS_FILE", argsFile);
    environment.insert("KVARNIXSIM_SECONDS", "1");
    QProcess monitor;
    monitor.setProcessEnvironment(environment);
    monitor.setProgram(folder.ProgramFile());
    monitor.start();
    ASSERT_TRUE(monitor.waitForStarted());

    const auto finished = [&] {
        return folder.ReadLines(argsFile).size() >= 7 &&
               !folder.ReadLines(folder.LogFile()).isEmpty() && db.Open() &&
               db.GetTimeText(0, key) != "Uppgift saknas" && !db.IsRunFlagSet(key);
    };
    QElapsedTimer waited;
    waited.start();
    bool done = false;
    while (!(done = finished()) && waited.elapsed() < kLongestWaitMs) {
        db.Close();
        QThread::msleep(250);
    }
    monitor.kill();
    monitor.waitForFinished();
    ASSERT_TRUE(done) << "nothing ran within 75 s; monitor said: "
                      << monitor.readAllStandardError().toStdString();

    EXPECT_EQ(folder.ReadLines(argsFile).mid(0, 7),
              (QStringList{model + ".vxm", "Dygnsberäkning", QString::number(key), "0",
                           folder.DatabaseFile(), "1", "--"}));
    const QStringList log = folder.ReadLines(folder.LogFile());
    EXPECT_TRUE(log.first().endsWith(" - " + model + "   Dygnsberäkning"))
        << log.first().toStdString();
    EXPECT_NE(db.GetTimeText(1, key), "Uppgift saknas");
    EXPECT_TRUE(messenger.messages.isEmpty());
}

} // namespace
