#include "gui/guisupport.h"
#include "mainwindow/mainstatusbar.h"
#include "schedulelist/linedelegate.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionMenuItem>

namespace {

// Two rows, the first inactive, in the shown window.
struct ValidCtrlTest : MainWindowTest {
    void SetUp() override {
        ASSERT_NO_THROW(db.OpenOrCreate());
        first = db.SaveRow("00:05", "/m/forsta", "Makro", -1, 0);
        second = db.SaveRow("00:05", "/m/andra", "Makro", -1, 1);
        Start();
        list = &List();
    }
    int Image(int line) { return int(View().Lines().Line(line).stateImage); }
    int Selected() { return list->currentIndex().row(); }
    int first = -1;
    int second = -1;
    CScheduleListView* list = nullptr;
};

// Up to x = 20 a click stores the flag, keeping colour and selection; x = 21 selects instead.
TEST_F(ValidCtrlTest, CheckBoxStripStoresTheActiveFlagWithoutMovingTheSelection) {
    db.SetCounter(second, 4);
    db.SetSetting(QString("RUNFLAGG%1").arg(second), 1);
    View().RefreshRunStates();
    ASSERT_EQ(Image(1), 4);
    list->setCurrentIndex(View().Lines().index(1, 0));
    ClickLine(0, 20);
    EXPECT_EQ(Image(0), 2);
    EXPECT_TRUE(db.IsImplemented(first));
    EXPECT_EQ(Selected(), 1);
    ClickLine(1, 10);
    EXPECT_EQ(Image(1), 3);
    EXPECT_FALSE(db.IsImplemented(second));
    EXPECT_EQ(db.GetCounter(second), 0);
    ClickLine(1, 10);
    EXPECT_EQ(Image(1), 4);
    EXPECT_TRUE(db.IsImplemented(second));

    ClickLine(0, 21);
    ClickLine(-1, 10);
    EXPECT_EQ(Image(0), 2);
    EXPECT_EQ(Image(1), 4);
    EXPECT_EQ(Selected(), 0);
    View().MenuCommands().resetRunFlags->trigger();
    EXPECT_EQ(Image(1), 2);
    EXPECT_FALSE(db.IsRunFlagSet(second));
}

// The menu acts on its line; a deletion asks first and leaves no line selected for the commands.
TEST_F(ValidCtrlTest, ContextMenuActsOnItsLineAndADeletionLeavesNoSelection) {
    const CMainView::Commands& commands = View().MenuCommands();
    EXPECT_FALSE(commands.changeRow->isEnabled() || commands.deleteRow->isEnabled());
    ClickLine(-1, 40, Qt::RightButton);
    EXPECT_EQ(list->ContextRow(), -1);
    EXPECT_FALSE(list->ContextMenu()->isVisible());
    db.SetSetting(QString("RUNFLAGG%1").arg(first), 1);
    View().RefreshRunStates();
    ASSERT_EQ(Image(0), 3);
    ClickLine(0, 40, Qt::RightButton);
    EXPECT_EQ(list->ContextRow(), 0);
    EXPECT_TRUE(list->ContextMenu()->isVisible());
    QStringList shown;
    for (const QAction* action : list->ContextMenu()->actions())
        shown << action->text();
    EXPECT_EQ(shown, QStringList({"Aktivera", "Avaktivera", "", "Återställ beräkningsflaggan",
                                  "Ändra", "Ta bort", "", "Visa modelllogg", "Öppna modellen",
                                  "Information", "Kör nu", "Körhistorik", "Avbryt körning"}));

    RunContextCommand(0, "Aktivera");
    EXPECT_EQ(Image(0), 2);
    EXPECT_TRUE(db.IsImplemented(first));
    RunContextCommand(0, "Återställ beräkningsflaggan");
    EXPECT_FALSE(db.IsRunFlagSet(first));
    EXPECT_TRUE(commands.deleteRow->isEnabled() && commands.changeRow->isEnabled());
    messenger.answers = {false};
    RunContextCommand(0, "Ta bort");
    EXPECT_EQ(messenger.questions, QStringList{"Raden kommer att tas bort. Vill du detta?"});
    EXPECT_EQ(View().Lines().LineCount(), 2);
    EXPECT_TRUE(db.RowExists(first));
    messenger.answers = {true};
    commands.deleteRow->trigger();
    ASSERT_EQ(View().Lines().LineCount(), 1);
    EXPECT_EQ(View().Lines().Line(0).key, second);
    EXPECT_FALSE(db.RowExists(first));
    EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
    EXPECT_FALSE(commands.changeRow->isEnabled() || commands.deleteRow->isEnabled());
}

// The model column takes what the others leave; all texts fit, also in a font three times as large.
TEST_F(ValidCtrlTest, ColumnsFillTheWindowAndFitTheTextsInTheFontInUse) {
    QHeaderView* header = list->header();
    list->resize(1400, 300);
    EXPECT_EQ(header->length(), list->viewport()->width());
    const int wideModel = header->sectionSize(1);
    list->resize(1200, 300);
    EXPECT_EQ(header->length(), list->viewport()->width());
    EXPECT_EQ(header->sectionSize(1), wideModel - 200);
    list->resize(500, 300);
    EXPECT_EQ(header->sectionSize(1), 270);

    const QVector<int> specWidths = {120, 270, 170, 110, 110};
    EXPECT_EQ(CLineDelegate::TextOffsets(specWidths), (QVector<int>{20, 124, 394, 564, 674}));
    const QStringList times = {"2026-12-07 00:43:20", "Uppgift saknas"};
    QStringList texts[] = {{"XXXX-XX-XX XX:XX", "2026-12-07 11:1_"}, {}, {}, times, times};
    for (const char* day : {"Söndag", "Måndag", "Tisdag", "Onsdag", "Torsdag", "Fredag", "Lördag"})
        texts[0] << QString(day) + "  18:00";
    const int headerMargins = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin);
    QFont font = list->font();
    for (const int pointSize : {font.pointSize(), 3 * font.pointSize()}) {
        font.setPointSize(pointSize);
        list->setFont(font);
        const QFontMetrics metrics(list->font());
        for (int column = 0; column < 5; ++column) {
            const int width = header->sectionSize(column);
            const QString heading = View().Lines().headerData(column, Qt::Horizontal).toString();
            SCOPED_TRACE(QString("%1 pt, %2").arg(pointSize).arg(heading).toStdString());
            EXPECT_GE(width, specWidths[column]);
            EXPECT_GE(width,
                      QFontMetrics(header->font()).horizontalAdvance(heading) + headerMargins);
            for (const QString& text : texts[column])
                EXPECT_GE(width, (column == 0 ? 20 : 4) + metrics.horizontalAdvance(text))
                    << text.toStdString();
        }
        const int lineHeight = list->visualRect(View().Lines().index(0, 0)).height();
        EXPECT_GE(lineHeight, std::max(metrics.height(), 16) + 1);
    }
}

// A start time whose entry was left with a "_" shows it below the line's digits.
TEST_F(ValidCtrlTest, AnUnderscoreInAStartTimeIsDrawn) {
    const QString tid = "2026-12-07 11:1_";
    db.SaveRow(tid, "/m/tredje", "Makro", -1, 1);
    View().Lines().SetRows(db.LoadAllRows());
    ASSERT_EQ(View().Lines().Line(2).startTime, tid);
    const QRect cell = list->visualRect(View().Lines().index(2, 0));
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

// Only a SAVE of 0 refuses, in blue on red; a DRIFT of 0 shows the program off.
TEST_F(ValidCtrlTest, StatusPanesShowPermissionAndProgram) {
    settings.mayWriteIp21 = 0;
    const CMainStatusBar::PaneContent refused = CMainStatusBar::PermissionPane(settings);
    EXPECT_EQ(refused.text, "Ger inte tillstånd att skriva i IP21-databasen");
    EXPECT_EQ(refused.background, QColor(255, 0, 0));
    EXPECT_EQ(refused.textColor, QColor(0, 0, 255));
    settings.mayWriteIp21 = 1;
    EXPECT_EQ(CMainStatusBar::PermissionPane(settings).text,
              "Ger tillstånd att skriva i IP21-databasen");
    settings.programPath = "/opt/kvarnix/Kvarnix.exe";
    settings.schedulerOn = 0;
    EXPECT_EQ(CMainStatusBar::ProgramPane(settings).text, "Avstängd");
    settings.schedulerOn = 1;
    EXPECT_EQ(CMainStatusBar::ProgramPane(settings).text, "Kvarnix.exe");
}

// Shows an action as a menu would, with the shortcut text it adds itself.
struct MenuProbe : QMenu {
    QString ShownText(QAction* action) {
        QStyleOptionMenuItem option;
        initStyleOption(&option, action);
        return option.text;
    }
};

// Ctrl+N reaches the dialog, the menu names the key once; only Avsluta closes the window.
TEST_F(ValidCtrlTest, CtrlNOpensTheNewRowDialogAndOnlyAvslutaClosesTheWindow) {
    EXPECT_EQ(MenuProbe().ShownText(View().MenuCommands().newRow), "&Ny Rad\tCtrl+N");
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QString opened;
    ScriptNextDialog([&opened](QDialog& dialog) { opened = dialog.windowTitle(); });
    QTest::keyClick(list, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(opened, "KvarnixMonitor - Ny starttid");
    frame.close();
    EXPECT_TRUE(frame.isVisible());
    frame.OnExit();
    EXPECT_FALSE(frame.isVisible());
}

} // namespace
