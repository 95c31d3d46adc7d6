#include "app/monitorsettings.h"
#include "gui/guisupport.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"
#include "ui/dlgprogramval.h"

#include <QCheckBox>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

// Settings as the running program loaded them: stored zeros replaced by defaults.
class DlgProgramValTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.Open());
        db.SetSetting("SAVE", 1);
        db.SetSetting("HIDE", 1);
        settings = CMonitorSettings::Load(db);
        settings.programPath = "/opt/kvarnix/Kvarnix.exe";
    }

    int RunDialog(std::function<void(QDialog&)> script) {
        CDlgProgramVal dialog(settings, folder.DatabaseFile(), messenger, chooser, [this] {
            ++logins;
            return loginAnswer;
        });
        ScriptNextDialog(std::move(script));
        return dialog.Run();
    }

    // SAVE, DRIFT, HIDE_MINUTER, HIDE, LOGFILE, PID, INLOGGNINGSKONTROLL.
    QList<int> Stored() {
        QList<int> values;
        for (const char* key :
             {"SAVE", "DRIFT", "HIDE_MINUTER", "HIDE", "LOGFILE", "PID", "INLOGGNINGSKONTROLL"})
            values << db.GetSetting(key);
        return values;
    }

    CTestFolder folder;
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile(), messenger};
    CScriptedFileChooser chooser{"/opt/ny/Kvarnix.exe"};
    CMonitorSettings settings;
    int logins = 0;
    bool loginAnswer = false;
};

TEST_F(DlgProgramValTest, OkStoresTheShownValuesAndTheSettingsRowButNoTypedPath) {
    EXPECT_EQ(RunDialog([](QDialog& d) {
                  Child<QLineEdit>(d, "programPathEdit")->setText("/tmp/skrivet");
                  ClickChild(d, "okButton");
              }),
              CDlgProgramVal::ResultOk);
    EXPECT_EQ(Stored(), (QList<int>{1, 0, 10, 1, 100, 10, 0}));
    QString tid, model, macro;
    int implemented = -1;
    db.LoadRow(0, tid, model, macro, implemented);
    EXPECT_EQ(QStringList({tid, model, macro}),
              QStringList({"- - - -", "/opt/kvarnix/Kvarnix.exe", "- - - -"}));
    EXPECT_EQ(implemented, 0);
}

TEST_F(DlgProgramValTest, CancelAndEscapeStoreNothingEvenAfterBrowsing) {
    for (const int key : {0, int(Qt::Key_Escape)}) {
        EXPECT_EQ(RunDialog([&](QDialog& d) {
                      ClickChild(d, "browseButton");
                      ClickChild(d, "driftCheck");
                      key ? QTest::keyClick(&d, Qt::Key(key)) : ClickChild(d, "cancelButton");
                      EXPECT_FALSE(d.isVisible());
                  }),
                  CDlgProgramVal::ResultCancel);
    }
    EXPECT_EQ(Stored(), (QList<int>{1, 0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(db.RowExists(0));
    EXPECT_EQ(settings.programPath, "/opt/kvarnix/Kvarnix.exe");
}

TEST_F(DlgProgramValTest, LoginCheckIsStoredOnlyWhenTheLoginStepSucceeds) {
    const auto switchOn = [](QDialog& d) {
        ClickChild(d, "browseButton");
        ClickChild(d, "loginCheck");
        Child<QLineEdit>(d, "logDaysEdit")->setText("30");
        ClickChild(d, "okButton");
    };
    EXPECT_EQ(RunDialog(switchOn), CDlgProgramVal::ResultOk);
    EXPECT_EQ(Stored(), (QList<int>{1, 0, 10, 1, 30, 10, 0}));
    EXPECT_EQ(settings.logFile, 100);
    EXPECT_EQ(db.GetProgramPath(), chooser.path);
    EXPECT_EQ(settings.programPath, chooser.path);

    loginAnswer = true;
    RunDialog(switchOn);
    EXPECT_EQ(db.GetSetting("INLOGGNINGSKONTROLL"), 1);
    EXPECT_EQ(settings.logFile, 30);

    RunDialog([](QDialog& d) {
        ClickChild(d, "loginCheck");
        ClickChild(d, "okButton");
    });
    EXPECT_EQ(db.GetSetting("INLOGGNINGSKONTROLL"), 0);
    EXPECT_EQ(logins, 2);
}

TEST_F(DlgProgramValTest, AFieldWithoutAPositiveWholeNumberIsRefusedAndNothingStored) {
    RunDialog([](QDialog& d) {
        Child<QLineEdit>(d, "logDaysEdit")->setText("abc");
        ClickChild(d, "driftCheck");
        ClickChild(d, "okButton");
        Child<QLineEdit>(d, "logDaysEdit")->setText("30");
        Child<QLineEdit>(d, "hideMinutesEdit")->setText("0");
        ClickChild(d, "okButton");
        EXPECT_TRUE(d.isVisible());
    });
    EXPECT_EQ(messenger.messages,
              (QStringList{"Ange ett heltal större än 0 i fältet Loggens längd.",
                           "Ange ett heltal större än 0 i fältet Minimera fönstret efter."}));
    EXPECT_EQ(Stored(), (QList<int>{1, 0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(db.RowExists(0));
    EXPECT_EQ(settings.drift, 0);
}

} // namespace
