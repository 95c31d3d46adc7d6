#include "app/mainfrm.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "app/statusbarw.h"
#include "gui/guisupport.h"
#include "monitordb/systemdatabase.h"
#include "schedule/kvarnixmonitorview.h"
#include "support/testsupport.h"
#include "ui/linedelegate.h"
#include "ui/validctrl.h"

#include <QMenu>
#include <gtest/gtest.h>

namespace {

class ValidCtrlTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.OpenOrCreate());
        db.SaveRow("00:05", "/m/forsta", "Makro", -1, 0);
        db.SaveRow("00:05", "/m/andra", "Makro", -1, 1);
        frame.show();
        ASSERT_TRUE(frame.View()->InitialUpdate());
        list = frame.View()->List();
    }

    QPoint OnLine(int line, int x) {
        const QRect cell = list->visualRect(frame.View()->Lines().index(line, 0));
        return QPoint(x, cell.center().y());
    }
    void Click(Qt::MouseButton button, const QPoint& at) {
        QTest::mouseClick(list->viewport(), button, {}, at);
    }
    int Image(int line) { return frame.View()->Lines().Line(line).stateImage; }
    int Selected() { return list->currentIndex().row(); }

    CTestFolder folder;
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile()};
    CProgramPaths paths{folder.ProgramFile()};
    CFakeClock clock{LocalTime("2026-12-08 10:00")};
    CMonitorSettings settings;
    CMainFrame frame{settings, paths, clock, messenger};
    CValidCtrl* list = nullptr;
};

TEST_F(ValidCtrlTest, CheckBoxStripTogglesWithoutMovingTheSelection) {
    list->setCurrentIndex(frame.View()->Lines().index(1, 0));
    Click(Qt::LeftButton, OnLine(0, 20));
    EXPECT_EQ(Image(0), 2);
    EXPECT_EQ(Selected(), 1);
    EXPECT_TRUE(db.IsImplemented(1));

    Click(Qt::LeftButton, OnLine(0, 21));
    EXPECT_EQ(Image(0), 2);
    EXPECT_EQ(Selected(), 0);

    Click(Qt::LeftButton, QPoint(10, list->viewport()->height() - 2));
    EXPECT_EQ(Image(0), 2);
    EXPECT_EQ(Image(1), 2);
}

TEST_F(ValidCtrlTest, RightClickOpensTheMenuOnlyOnALine) {
    Click(Qt::RightButton, OnLine(1, 40));
    EXPECT_EQ(list->ContextRow(), 1);
    EXPECT_TRUE(list->ContextMenu()->isVisible());
    list->ContextMenu()->close();

    Click(Qt::RightButton, QPoint(40, list->viewport()->height() - 2));
    EXPECT_EQ(list->ContextRow(), -1);
    EXPECT_FALSE(list->ContextMenu()->isVisible());
}

TEST_F(ValidCtrlTest, ContextCommandsActOnTheMenuLine) {
    db.SetSetting("RUNFLAGG1", 1);
    frame.View()->ShowStoredRunStates(db);
    ASSERT_EQ(Image(0), 3);
    Click(Qt::RightButton, OnLine(0, 40));
    list->ContextMenu()->close();

    list->OnActivate();
    EXPECT_EQ(Image(0), 2);
    EXPECT_TRUE(db.IsImplemented(1));

    messenger.answers = {false};
    list->OnDelete();
    EXPECT_EQ(frame.View()->Lines().LineCount(), 2);
    EXPECT_TRUE(db.RowExists(1));

    list->OnResetRunFlag();
    EXPECT_FALSE(db.IsRunFlagSet(1));
}

TEST_F(ValidCtrlTest, ColumnTextsStartAtTheirOffsets) {
    EXPECT_EQ(CLineDelegate::TextOffsets({120, 270, 170, 110, 110}),
              (QVector<int>{20, 124, 394, 564, 674}));
}

TEST_F(ValidCtrlTest, StatusPanesShowPermissionAndProgram) {
    settings.save = 0;
    const CStatusBarW::PaneContent refused = CStatusBarW::PermissionPane(settings);
    EXPECT_EQ(refused.text, "Ger inte tillstånd att skriva i IP21-databasen");
    EXPECT_EQ(refused.background, QColor(255, 0, 0));
    EXPECT_EQ(refused.textColor, QColor(0, 0, 255));
    settings.save = 1;
    EXPECT_EQ(CStatusBarW::PermissionPane(settings).text,
              "Ger tillstånd att skriva i IP21-databasen");

    settings.programPath = "/opt/kvarnix/Kvarnix.exe";
    settings.drift = 0;
    EXPECT_EQ(CStatusBarW::ProgramPane(settings).text, "Avstängd");
    settings.drift = 1;
    EXPECT_EQ(CStatusBarW::ProgramPane(settings).text, "Kvarnix.exe");
}

TEST_F(ValidCtrlTest, OnlyAvslutaClosesTheMainWindow) {
    frame.close();
    EXPECT_TRUE(frame.isVisible());
    frame.OnExit();
    EXPECT_FALSE(frame.isVisible());
}

} // namespace
