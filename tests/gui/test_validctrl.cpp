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

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionMenuItem>
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

    // The line that moves up into the deleted one's place is not selected.
    ASSERT_TRUE(frame.View()->MenuCommands().deleteRow->isEnabled());
    messenger.answers = {true};
    list->OnDelete();
    ASSERT_EQ(frame.View()->Lines().LineCount(), 1);
    EXPECT_FALSE(db.RowExists(1));
    EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
    EXPECT_FALSE(frame.View()->MenuCommands().deleteRow->isEnabled());
    EXPECT_FALSE(frame.View()->MenuCommands().changeRow->isEnabled());
}

TEST_F(ValidCtrlTest, ColumnTextsStartAtTheirOffsets) {
    EXPECT_EQ(CLineDelegate::TextOffsets({120, 270, 170, 110, 110}),
              (QVector<int>{20, 124, 394, 564, 674}));
}

// Every column holds its heading and its widest usual text at the offset the
// line drawing gives it, and every line the font's full height above its
// separator, in the list's own font and in one three times as large.
TEST_F(ValidCtrlTest, ColumnsAndLinesFitTheTextsInTheFontInUse) {
    const QString dateTime = "2026-12-07 00:43:20";
    const struct {
        int specWidth;
        int textOffset;
        QStringList texts;
    } columns[] = {
        {120,
         20,
         {"XXXX-XX-XX XX:XX", "2026-12-07 11:1_", "Söndag  18:00", "Måndag  18:00", "Tisdag  18:00",
          "Onsdag  18:00", "Torsdag  18:00", "Fredag  18:00", "Lördag  18:00"}},
        {270, 4, {}},
        {170, 4, {}},
        {110, 4, {dateTime, "Uppgift saknas"}},
        {110, 4, {dateTime, "Uppgift saknas"}},
    };
    const int headerMargins = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin);
    QFont font = list->font();
    for (const int pointSize : {font.pointSize(), 3 * font.pointSize()}) {
        font.setPointSize(pointSize);
        list->setFont(font);
        const QFontMetrics metrics(list->font());
        const QFontMetrics headerMetrics(list->header()->font());
        for (int column = 0; column < 5; ++column) {
            const int width = list->header()->sectionSize(column);
            const QString heading =
                frame.View()->Lines().headerData(column, Qt::Horizontal).toString();
            SCOPED_TRACE(QString("%1 pt, %2").arg(pointSize).arg(heading).toStdString());
            EXPECT_GE(width, columns[column].specWidth);
            EXPECT_GE(width, headerMetrics.horizontalAdvance(heading) + headerMargins);
            for (const QString& text : columns[column].texts)
                EXPECT_GE(width, columns[column].textOffset + metrics.horizontalAdvance(text))
                    << text.toStdString();
        }
        const int lineHeight = list->visualRect(frame.View()->Lines().index(0, 0)).height();
        EXPECT_GE(lineHeight, std::max(metrics.height(), 16) + 1);
    }
}

// The model column takes what the others leave, but never less than its own width.
TEST_F(ValidCtrlTest, ModelColumnStretchesWithTheWindow) {
    QHeaderView* header = list->header();
    list->resize(1400, 300);
    EXPECT_EQ(header->length(), list->viewport()->width());
    const int wideModel = header->sectionSize(1);
    list->resize(1200, 300);
    EXPECT_EQ(header->length(), list->viewport()->width());
    EXPECT_EQ(header->sectionSize(1), wideModel - 200);
    list->resize(500, 300);
    EXPECT_EQ(header->sectionSize(1), 270);
}

// A start time whose entry was left with a "_" shows it below the line's digits.
TEST_F(ValidCtrlTest, AnUnderscoreInAStartTimeIsDrawn) {
    const QString tid = "2026-12-07 11:1_";
    db.SaveRow(tid, "/m/tredje", "Makro", -1, 1);
    frame.View()->Lines().SetRows(db.LoadAllRows());
    ASSERT_EQ(frame.View()->Lines().Line(2).startTime, tid);
    const QRect cell = list->visualRect(frame.View()->Lines().index(2, 0));
    const QImage line = list->viewport()
                            ->grab(QRect(0, cell.top(), list->viewport()->width(), cell.height()))
                            .toImage();
    const QFontMetrics metrics(list->font());
    const int left = cell.left() + 20 + metrics.horizontalAdvance(tid.chopped(1));
    int darkPixels = 0;
    for (int x = left + 1; x < left + metrics.horizontalAdvance("_") - 1; ++x)
        for (int y = 0; y < line.height(); ++y)
            darkPixels += qGray(line.pixel(x, y)) < 128;
    EXPECT_GT(darkPixels, 0);
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

// Shows an action as a menu would, with the shortcut text it adds itself.
struct MenuProbe : QMenu {
    QString ShownText(QAction* action) {
        QStyleOptionMenuItem option;
        initStyleOption(&option, action);
        return option.text;
    }
};

TEST_F(ValidCtrlTest, CtrlNOpensTheNewRowDialogAndTheMenuNamesTheKeyOnce) {
    QAction* newRow = frame.View()->MenuCommands().newRow;
    EXPECT_EQ(MenuProbe().ShownText(newRow), "&Ny Rad\tCtrl+N");

    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QString opened;
    ScriptNextDialog([&opened](QDialog& dialog) { opened = dialog.windowTitle(); });
    QTest::keyClick(list, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(opened, "KvarnixMonitor - Ny starttid");
}

TEST_F(ValidCtrlTest, OnlyAvslutaClosesTheMainWindow) {
    frame.close();
    EXPECT_TRUE(frame.isVisible());
    frame.OnExit();
    EXPECT_FALSE(frame.isVisible());
}

} // namespace
