#include "gui/guisupport.h"
#include "widgets/maskedit.h"

#include <QComboBox>

namespace {

// An empty schedule, and a model with one macro that the file dialogs choose.
struct MainViewTest : MainWindowTest {
    void SetUp() override {
        folder.CreateModel(model, {"Dygnsberäkning"});
        ASSERT_NO_THROW(db.OpenOrCreate());
        View().SetFileChooser(std::make_unique<CScriptedFileChooser>(model + ".vxm"));
    }
    const QString model = folder.File("modell");
};

// A new row is stored in display form, inactive; a change keeps the flag; both are relisted.
TEST_F(MainViewTest, NewAndChangedRowsAreStoredAndListed) {
    const int key = db.SaveRow("00:05", model, "Dygnsberäkning", -1, 1);
    Start();
    ScriptNextDialog([](QDialog& d) {
        ClickChild(d, "browseButton");
        Child<QComboBox>(d, "macroBox")->setCurrentIndex(0);
        ClickChild(d, "weekdayButton");
        Child<QComboBox>(d, "weekdayBox")->setCurrentIndex(1);
        QTest::keyClicks(Child<CMaskEdit>(d, "weekdayTimeEdit"), "0730");
        ClickChild(d, "okButton");
    });
    View().MenuCommands().newRow->trigger();
    ASSERT_EQ(View().Lines().LineCount(), 2);
    EXPECT_EQ(View().Lines().Line(1).startTime, "Måndag  07:30");
    EXPECT_EQ(View().Lines().Line(1).stateImage, StateImage(1));
    EXPECT_EQ(StoredRow(db, View().Lines().Line(1).key),
              (QStringList{"Måndag  07:30", model, "Dygnsberäkning", "0"}));

    List().setCurrentIndex(View().Lines().index(0, 0));
    ScriptNextDialog([](QDialog& d) {
        ClickChild(d, "absoluteButton");
        QTest::keyClicks(Child<CMaskEdit>(d, "absoluteEdit"), "2026121806");
        ClickChild(d, "okButton");
    });
    View().MenuCommands().changeRow->trigger();
    EXPECT_EQ(StoredRow(db, key), (QStringList{"2026-12-18 06:XX", model, "Dygnsberäkning", "1"}));
    ASSERT_EQ(View().Lines().LineCount(), 2);
    EXPECT_EQ(View().Lines().Line(0).startTime, "2026-12-18 06:XX");
    EXPECT_EQ(View().Lines().Line(0).stateImage, StateImage(2));
}

TEST_F(MainViewTest, SettingsOkRestartsOrStopsThePeriodicMinimising) {
    Start();
    const auto setHide = [&](bool hide) {
        ScriptNextDialog([hide](QDialog& d) {
            Child<QAbstractButton>(d, "hideCheck")->setChecked(hide);
            ClickChild(d, "okButton");
        });
        View().MenuCommands().settings->trigger();
    };
    setHide(true);
    EXPECT_TRUE(View().MinimizeTimer().isActive());
    EXPECT_EQ(View().MinimizeTimer().interval(), 10 * 60000);
    setHide(false);
    EXPECT_FALSE(View().MinimizeTimer().isActive());
}

} // namespace
