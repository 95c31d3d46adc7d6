#include "dialogs/dlgprogramval.h"
#include "gui/guisupport.h"

#include <QComboBox>
#include <QLineEdit>

namespace {

// Settings as the running program loaded them: stored zeros replaced by defaults.
struct DlgProgramValTest : testing::Test {
    void SetUp() override {
        db.OpenOrCreate();
        db.SetSetting("SAVE", 1);
        db.SetSetting("HIDE", 1);
        settings = CMonitorSettings::Load(db);
        settings.programPath = "/opt/kvarnix/Kvarnix.exe";
    }

    int RunDialog(std::function<void(QDialog&)> script) {
        CDlgProgramVal dialog(settings, schedule, messenger, chooser,
                              [this] { return loginAnswer; });
        ScriptNextDialog(std::move(script));
        return dialog.Run();
    }
    // SAVE, DRIFT, HIDE_MINUTER, HIDE, LOGFILE, PID, INLOGGNINGSKONTROLL.
    QList<qint64> Stored() {
        QList<qint64> values;
        for (const char* key :
             {"SAVE", "DRIFT", "HIDE_MINUTER", "HIDE", "LOGFILE", "PID", "INLOGGNINGSKONTROLL"})
            values << db.GetSetting(key);
        return values;
    }
    CTestFolder folder;
    CScheduleCommands schedule{folder.DatabaseFile()};
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile()};
    CScriptedFileChooser chooser{"/opt/ny/Kvarnix.exe"};
    CMonitorSettings settings;
    bool loginAnswer = false;
};

TEST_F(DlgProgramValTest, UntouchedOkStoresTheShownValuesAndTheSettingsRowButNoTypedPath) {
    EXPECT_EQ(RunDialog([](QDialog& d) {
                  auto* path = Child<QLineEdit>(d, "programPathEdit");
                  QTest::keyClicks(path, "/tmp/skrivet");
                  EXPECT_EQ(path->text(), "/opt/kvarnix/Kvarnix.exe");
                  EXPECT_EQ(path->toolTip(), "/opt/kvarnix/Kvarnix.exe");
                  ClickChild(d, "okButton");
              }),
              CDlgProgramVal::ResultOk);
    EXPECT_EQ(Stored(), (QList<qint64>{1, 0, 10, 1, 100, 10, 0}));
    EXPECT_EQ(StoredRow(db, 0),
              (QStringList{"- - - -", "/opt/kvarnix/Kvarnix.exe", "- - - -", "0"}));
}

// Every field checked before storing; a cancelled login keeps the check off and the log span.
TEST_F(DlgProgramValTest, StoresNothingUntilOkPassesAndTheLoginCheckOnlyAfterALogin) {
    EXPECT_EQ(RunDialog([](QDialog& d) {
                  Child<QLineEdit>(d, "hideMinutesEdit")->setText("0");
                  Child<QLineEdit>(d, "logDaysEdit")->setText("abc");
                  ClickChild(d, "okButton");
                  Child<QLineEdit>(d, "hideMinutesEdit")->setText("5");
                  ClickChild(d, "browseButton");
                  ClickChild(d, "okButton");
                  EXPECT_TRUE(d.isVisible());
                  ClickChild(d, "cancelButton");
              }),
              CDlgProgramVal::ResultCancel);
    EXPECT_EQ(messenger.messages,
              (QStringList{"Ange ett heltal större än 0 i fältet Minimera fönstret efter.",
                           "Ange ett heltal större än 0 i fältet Loggens längd."}));
    EXPECT_EQ(Stored(), (QList<qint64>{1, 0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(db.RowExists(0));
    EXPECT_EQ(settings.programPath, "/opt/kvarnix/Kvarnix.exe");

    const auto switchOn = [this](QDialog& d) {
        ClickChild(d, "browseButton");
        EXPECT_EQ(Child<QLineEdit>(d, "programPathEdit")->toolTip(), chooser.path);
        ClickChild(d, "loginCheck");
        Child<QLineEdit>(d, "logDaysEdit")->setText("30");
        ClickChild(d, "okButton");
    };
    EXPECT_EQ(RunDialog(switchOn), CDlgProgramVal::ResultOk);
    EXPECT_EQ(Stored(), (QList<qint64>{1, 0, 10, 1, 30, 10, 0}));
    EXPECT_EQ(settings.logDays, 100);
    EXPECT_EQ(db.GetProgramPath(), chooser.path);
    loginAnswer = true;
    RunDialog(switchOn);
    EXPECT_EQ(db.GetSetting("INLOGGNINGSKONTROLL"), 1);
    EXPECT_EQ(settings.logDays, 30);
}

} // namespace

// Slurm chosen where its commands cannot be found: said in Swedish, the dialog stays open and
// nothing is stored; once they are found, the choice, partition and options are stored as typed.
TEST_F(DlgProgramValTest, TheClusterIsChosenOnlyWhereItsCommandsAreFound) {
    const QByteArray path = qgetenv("PATH");
    const QString message = "Beräkningarna kan inte startas i Slurm-klustret: Slurm-kommandona "
                            "sbatch, squeue, scancel finns inte i sökvägen (PATH) på den här "
                            "datorn. Installera Slurms klientprogram (Debian-paketet "
                            "slurm-client).";
    EXPECT_EQ(
        RunDialog([&](QDialog& d) {
            auto* partition = Child<QLineEdit>(d, "slurmPartitionEdit");
            EXPECT_FALSE(partition->isEnabled());
            auto* where = Child<QComboBox>(d, "startOnCombo");
            where->setFocus();
            QTest::keyClick(where, Qt::Key_Down);
            EXPECT_EQ(where->currentText(), "i Slurm-klustret");
            EXPECT_TRUE(partition->isEnabled());
            QTest::keyClicks(partition, "gpu-natt");
            // Qt Test types ASCII only.
            Child<QLineEdit>(d, "slurmOptionsEdit")->setText("--mem=2G --comment=\"två ord\"");
            qputenv("PATH", folder.Path().toLocal8Bit());
            ClickChild(d, "okButton");
            qputenv("PATH", path);
            EXPECT_TRUE(d.isVisible());
            EXPECT_EQ(messenger.messages, QStringList{message});
            EXPECT_EQ(db.TextSettings().value("KOR_PA"), "");
            ClickChild(d, "okButton");
        }),
        CDlgProgramVal::ResultOk);
    EXPECT_EQ(messenger.messages.size(), 1);
    EXPECT_EQ(db.TextSettings().value("KOR_PA"), "slurm");
    EXPECT_EQ(db.TextSettings().value("SLURM_PARTITION"), "gpu-natt");
    EXPECT_EQ(db.TextSettings().value("SLURM_FLAGGOR"), "--mem=2G --comment=\"två ord\"");
    const CMonitorSettings stored = CMonitorSettings::Read(db);
    EXPECT_TRUE(stored.startOnCluster);
    EXPECT_EQ(stored.slurmPartition, "gpu-natt");

    EXPECT_EQ(RunDialog([](QDialog& d) {
                  auto* where = Child<QComboBox>(d, "startOnCombo");
                  EXPECT_EQ(where->currentText(), "i Slurm-klustret");
                  EXPECT_EQ(Child<QLineEdit>(d, "slurmPartitionEdit")->text(), "gpu-natt");
                  where->setCurrentIndex(0);
                  ClickChild(d, "okButton");
              }),
              CDlgProgramVal::ResultOk);
    EXPECT_EQ(db.TextSettings().value("KOR_PA"), "dator");
    EXPECT_EQ(db.TextSettings().value("SLURM_PARTITION"), "gpu-natt");
}
