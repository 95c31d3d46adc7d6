#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "gui/guisupport.h"
#include "monitordb/systemdatabase.h"
#include "schedule/kvarnixmonitorview.h"
#include "support/testsupport.h"
#include "ui/maskedit.h"

#include "ui/validctrl.h"
#include <QAction>
#include <QComboBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class MainViewTest : public testing::Test {
protected:
    void SetUp() override {
        folder.CreateModel(model, {"Dygnsberäkning"});
        ASSERT_TRUE(db.OpenOrCreate());
    }

    void Start() {
        view.SetFileChooser(std::make_unique<CScriptedFileChooser>(model + ".vxm"));
        view.resize(850, 400);
        view.show();
        ASSERT_TRUE(view.InitialUpdate());
    }

    void SelectLine(int line) { view.List()->setCurrentIndex(view.Lines().index(line, 0)); }

    QString StoredTid(int key) {
        QString tid, storedModel, macro;
        int implemented = -1;
        db.LoadRow(key, tid, storedModel, macro, implemented);
        return tid;
    }

    // Clicks a line x pixels from its left edge.
    void ClickLine(int line, int x) {
        const QRect cell = view.List()->visualRect(view.Lines().index(line, 0));
        QTest::mouseClick(view.List()->viewport(), Qt::LeftButton, {},
                          QPoint(cell.left() + x, cell.center().y()));
    }

    CTestFolder folder;
    const QString model = folder.File("modell");
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile()};
    CProgramPaths paths{folder.ProgramFile()};
    CFakeClock clock{LocalTime("2026-12-08 10:00")};
    CMonitorSettings settings;
    CKvarnixMonitorView view{settings, paths, clock, messenger};
};

TEST_F(MainViewTest, NewWeekdayRowIsListedAndStoredInDisplayFormInactive) {
    Start();
    ScriptNextDialog([](QDialog& d) {
        ClickChild(d, "browseButton");
        Child<QComboBox>(d, "macroBox")->setCurrentIndex(0);
        ClickChild(d, "weekdayButton");
        Child<QComboBox>(d, "weekdayBox")->setCurrentIndex(1);
        QTest::keyClicks(Child<CMaskEdit>(d, "weekdayTimeEdit"), "0730");
        ClickChild(d, "okButton");
    });
    view.MenuCommands().newRow->trigger();

    ASSERT_EQ(view.Lines().LineCount(), 1);
    const CScheduleLine& line = view.Lines().Line(0);
    EXPECT_EQ(line.startTime, "Måndag  07:30");
    EXPECT_EQ(line.key, 1);
    EXPECT_EQ(line.stateImage, 1);
    EXPECT_EQ(StoredTid(1), "Måndag  07:30");
    EXPECT_FALSE(db.IsImplemented(1));
}

// After a deletion no line is selected, so the commands on a selected line
// are greyed again rather than left on a line the operator never picked.
TEST_F(MainViewTest, ChangeAndDeleteNeedASelectionAndDeleteAnsweredNoKeepsTheRow) {
    const int key = db.SaveRow("00:05", model, "Dygnsberäkning", -1, 1);
    const int nextKey = db.SaveRow("00:10", model, "Dygnsberäkning", -1, 0);
    Start();
    EXPECT_FALSE(view.MenuCommands().changeRow->isEnabled());
    EXPECT_FALSE(view.MenuCommands().deleteRow->isEnabled());

    SelectLine(0);
    EXPECT_TRUE(view.MenuCommands().deleteRow->isEnabled());
    messenger.answers = {false};
    view.MenuCommands().deleteRow->trigger();
    EXPECT_EQ(messenger.questions, QStringList{"Raden kommer att tas bort. Vill du detta?"});
    EXPECT_EQ(view.Lines().LineCount(), 2);
    EXPECT_TRUE(db.RowExists(key));

    messenger.answers = {true};
    view.MenuCommands().deleteRow->trigger();
    ASSERT_EQ(view.Lines().LineCount(), 1);
    EXPECT_EQ(view.Lines().Line(0).key, nextKey);
    EXPECT_FALSE(db.RowExists(key));
    EXPECT_TRUE(view.List()->selectionModel()->selectedRows().isEmpty());
    EXPECT_FALSE(view.MenuCommands().changeRow->isEnabled());
    EXPECT_FALSE(view.MenuCommands().deleteRow->isEnabled());
}

TEST_F(MainViewTest, ConfirmedChangeIsStoredAndRebuildsTheList) {
    const int key = db.SaveRow("00:05", model, "Dygnsberäkning", -1, 1);
    Start();
    SelectLine(0);
    ScriptNextDialog([](QDialog& d) {
        ClickChild(d, "absoluteButton");
        QTest::keyClicks(Child<CMaskEdit>(d, "absoluteEdit"), "2026121806");
        ClickChild(d, "okButton");
    });
    view.MenuCommands().changeRow->trigger();

    EXPECT_EQ(StoredTid(key), "2026-12-18 06:XX");
    ASSERT_EQ(view.Lines().LineCount(), 1);
    EXPECT_EQ(view.Lines().Line(0).startTime, "2026-12-18 06:XX");
    EXPECT_EQ(view.Lines().Line(0).stateImage, 2);
}

TEST_F(MainViewTest, CheckBoxClickStoresTheActiveFlagAndKeepsTheRunningColour) {
    const int key = db.SaveRow("00:05", model, "Dygnsberäkning", -1, 1);
    db.SetCounter(key, 4);
    db.SetSetting(QString("RUNFLAGG%1").arg(key), 1);
    Start();
    ASSERT_EQ(view.Lines().Line(0).stateImage, 4);

    ClickLine(0, 21);
    EXPECT_EQ(view.Lines().Line(0).stateImage, 4);
    EXPECT_TRUE(db.IsImplemented(key));

    ClickLine(0, 10);
    EXPECT_EQ(view.Lines().Line(0).stateImage, 3);
    EXPECT_FALSE(db.IsImplemented(key));
    EXPECT_EQ(db.GetCounter(key), 0);

    ClickLine(0, 10);
    EXPECT_EQ(view.Lines().Line(0).stateImage, 4);
    EXPECT_TRUE(db.IsImplemented(key));

    view.MenuCommands().resetRunFlags->trigger();
    EXPECT_EQ(view.Lines().Line(0).stateImage, 2);
    EXPECT_FALSE(db.IsRunFlagSet(key));
}

TEST_F(MainViewTest, SettingsOkRestartsOrStopsThePeriodicMinimising) {
    Start();
    const auto setHide = [&](bool hide) {
        ScriptNextDialog([hide](QDialog& d) {
            Child<QAbstractButton>(d, "hideCheck")->setChecked(hide);
            ClickChild(d, "okButton");
        });
        view.MenuCommands().settings->trigger();
    };
    setHide(true);
    EXPECT_TRUE(view.MinimizeTimer().isActive());
    EXPECT_EQ(view.MinimizeTimer().interval(), 10 * 60000);
    setHide(false);
    EXPECT_FALSE(view.MinimizeTimer().isActive());
}

} // namespace
