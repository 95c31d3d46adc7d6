#include "gui/guisupport.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"
#include "ui/dlginmatning.h"
#include "ui/maskedit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A model with its macro database, a monitor database, and a Tuesday clock.
class DlgInmatningTest : public testing::Test {
protected:
    void SetUp() override {
        folder.CreateModel(model, {"Timberäkning", "Dygnsberäkning  ", "kontroll"});
        ASSERT_TRUE(db.OpenOrCreate());
    }

    int RunDialog(CDlgInmatning& dialog, std::function<void(QDialog&)> script) {
        ScriptNextDialog(std::move(script));
        return dialog.Run();
    }

    CTestFolder folder;
    const QString model = folder.File("Kvarn'Syd pump");
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile()};
    CScriptedFileChooser chooser{model + ".vxm"};
    CFakeClock clock{LocalTime("2026-12-08 10:00")};
};

TEST_F(DlgInmatningTest, NewRowAsksForMacroFirstThenForTimeAndComposesEachKind) {
    const auto composed = [&](const char* kindButton, std::function<void(QDialog&)> type) {
        CDlgInmatning dialog(-1, folder.DatabaseFile(), messenger, chooser, clock);
        const int result = RunDialog(dialog, [&](QDialog& d) {
            ClickChild(d, "okButton");
            ClickChild(d, "browseButton");
            Child<QComboBox>(d, "macroBox")->setCurrentIndex(0);
            ClickChild(d, "okButton");
            ClickChild(d, kindButton);
            type(d);
            ClickChild(d, "okButton");
        });
        EXPECT_EQ(result, CDlgInmatning::ResultOk);
        EXPECT_EQ(dialog.Model(), model);
        EXPECT_EQ(dialog.Macro(), "Dygnsberäkning");
        return dialog.Tid();
    };

    EXPECT_EQ(composed("absoluteButton", [](QDialog&) {}), "XXXX-XX-XX XX:XX");
    EXPECT_EQ(messenger.messages,
              (QStringList{"Du måste välja ett makro!", "Du måste ange en tid!"}));
    EXPECT_EQ(composed("absoluteButton",
                       [](QDialog& d) {
                           QTest::keyClicks(Child<CMaskEdit>(d, "absoluteEdit"), "20261224");
                       }),
              "2026-12-24 XX:XX");
    EXPECT_EQ(composed("cyclicButton", [](QDialog&) {}), "00:00");
    EXPECT_EQ(
        composed("cyclicButton",
                 [](QDialog& d) { QTest::keyClicks(Child<CMaskEdit>(d, "cyclicEdit"), "0130"); }),
        "01:30");
    // Tuesday's entry is chosen until the operator picks another day.
    EXPECT_EQ(composed("weekdayButton", [](QDialog&) {}), "2-00:00");
    EXPECT_EQ(composed("weekdayButton",
                       [](QDialog& d) {
                           Child<QComboBox>(d, "weekdayBox")->setCurrentIndex(4);
                           QTest::keyClicks(Child<CMaskEdit>(d, "weekdayTimeEdit"), "0730");
                       }),
              "4-07:30");
}

TEST_F(DlgInmatningTest, MacroListIsSortedAndTrimmedAndAMissingDatabaseLeavesItAlone) {
    CDlgInmatning dialog(-1, folder.DatabaseFile(), messenger, chooser, clock);
    QStringList listed;
    RunDialog(dialog, [&](QDialog& d) {
        ClickChild(d, "browseButton");
        chooser.path = folder.File("saknas.vxm");
        ClickChild(d, "browseButton");
        auto* macros = Child<QComboBox>(d, "macroBox");
        for (int i = 0; i < macros->count(); ++i)
            listed << macros->itemText(i);
        EXPECT_EQ(Child<QLineEdit>(d, "modelEdit")->text(), folder.File("saknas"));
    });
    EXPECT_EQ(listed, (QStringList{"Dygnsberäkning", "kontroll", "Timberäkning"}));
    EXPECT_EQ(messenger.messages,
              QStringList{QString("Filen %1 saknas.\nKontrollera att rätt modellfil är vald")
                              .arg(folder.File("saknas.mac"))});
}

TEST_F(DlgInmatningTest, ChangeModeLoadsAStoredWeekdayRowAndHandsItBack) {
    const int key = db.SaveRow("1-07:30", model, "Timberäkning", -1, 1);
    CDlgInmatning dialog(key, folder.DatabaseFile(), messenger, chooser, clock);
    const int result = RunDialog(dialog, [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "KvarnixMonitor - Ändra starttid");
        EXPECT_TRUE(Child<QRadioButton>(d, "weekdayButton")->isChecked());
        EXPECT_EQ(Child<QComboBox>(d, "weekdayBox")->currentText(), "Måndag");
        EXPECT_EQ(Child<QComboBox>(d, "macroBox")->currentText(), "Timberäkning");
        EXPECT_FALSE(Child<CMaskEdit>(d, "absoluteEdit")->isEnabled());
        ClickChild(d, "okButton");
    });
    EXPECT_EQ(result, CDlgInmatning::ResultOk);
    EXPECT_EQ(dialog.Tid(), "1-07:30");
    EXPECT_EQ(dialog.Implemented(), 1);
    EXPECT_TRUE(messenger.messages.isEmpty());
}

TEST_F(DlgInmatningTest, ChangeModeWithAMissingMacroDatabaseAsksWhetherToDeleteTheRow) {
    const int key = db.SaveRow("00:05", folder.File("flyttad"), "Kontroll", -1, 1);
    messenger.answers = {true, false};
    CDlgInmatning deleting(key, folder.DatabaseFile(), messenger, chooser, clock);
    EXPECT_EQ(deleting.Run(), CDlgInmatning::ResultDeleteRow);
    CDlgInmatning keeping(key, folder.DatabaseFile(), messenger, chooser, clock);
    EXPECT_EQ(keeping.Run(), CDlgInmatning::ResultKeepRow);
    ASSERT_EQ(messenger.questions.size(), 2);
    EXPECT_EQ(messenger.questions.first(),
              "Sökvägen felaktig. Ta bort raden och lägg in en\nny rad "
              "med rätt sökväg. Skall raden tas bort?");
}

TEST_F(DlgInmatningTest, MacroDatabaseThatIsNoDatabaseIsReportedLikeAMissingOne) {
    folder.WriteText(model + ".mac", "ingen databas");
    CDlgInmatning dialog(-1, folder.DatabaseFile(), messenger, chooser, clock);
    RunDialog(dialog, [&](QDialog& d) {
        ClickChild(d, "browseButton");
        EXPECT_EQ(Child<QComboBox>(d, "macroBox")->count(), 0);
    });
    ASSERT_EQ(messenger.messages.size(), 1);
    EXPECT_TRUE(messenger.messages.first().startsWith("Filen " + model + ".mac saknas."));
}

} // namespace
