#include "dialogs/dlginmatning.h"
#include "gui/guisupport.h"
#include "monitordb/sqliteconnection.h"
#include "widgets/maskedit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

namespace {

// A model with its macro database, a monitor database, and a Tuesday clock.
struct DlgInmatningTest : testing::Test {
    void SetUp() override {
        folder.CreateModel(model, {"Timberäkning", "Dygnsberäkning  ", "kontroll"});
        ASSERT_NO_THROW(db.OpenOrCreate());
    }

    int RunDialog(CDlgInmatning& dialog, std::function<void(QDialog&)> script) {
        ScriptNextDialog(std::move(script));
        return dialog.Run();
    }
    CTestFolder folder;
    CScheduleCommands schedule{folder.DatabaseFile()};
    const QString model = folder.File("Kvarn'Syd pump");
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile()};
    CScriptedFileChooser chooser{model + ".vxm"};
    CFakeClock clock{LocalTime("2026-12-08 10:00")};
};

// The focus starts on the model. OK wants a macro, a kind and that kind's field whole (half an
// interval runs every minute); each kind composes its time, the weekday the clock's until another
// is picked.
TEST_F(DlgInmatningTest, NewRowAsksForMacroKindAndAWholeTimeAndComposesEachKind) {
    struct Case {
        const char* kindButton;
        const char* field;
        std::function<void(QDialog&, CMaskEdit*)> erase; // none: the field as it opens
        const char* fillIn;
        const char* tid;
    };
    const Case cases[] = {
        {"absoluteButton", "absoluteEdit", {}, "", "XXXX-XX-XX XX:XX"},
        {"cyclicButton", "cyclicEdit", {}, "", "00:00"},
        {"weekdayButton", "weekdayTimeEdit", {}, "", "2-00:00"},
        {"absoluteButton", "absoluteEdit",
         [](QDialog&, CMaskEdit* f) { QTest::keyClick(f, Qt::Key_Delete); }, "20261224",
         "2026-12-24 XX:XX"},
        {"cyclicButton", "cyclicEdit",
         [](QDialog&, CMaskEdit* f) {
             QTest::mouseDClick(f, Qt::LeftButton);
             QTest::keyClick(f, Qt::Key_C, Qt::ControlModifier);
         },
         "0130", "01:30"},
        {"weekdayButton", "weekdayTimeEdit",
         [](QDialog& d, CMaskEdit* f) {
             Child<QComboBox>(d, "weekdayBox")->setCurrentIndex(4);
             QTest::keyClicks(f, "07");
             QTest::keyClick(f, Qt::Key_Backspace);
         },
         "07", "4-07:00"},
    };
    for (const Case& c : cases) {
        messenger.messages.clear();
        CDlgInmatning dialog(-1, schedule, messenger, chooser, clock);
        const int result = RunDialog(dialog, [&](QDialog& d) {
            EXPECT_EQ(d.focusWidget(), Child<QLineEdit>(d, "modelEdit"));
            ClickChild(d, "okButton");
            ClickChild(d, "browseButton");
            Child<QComboBox>(d, "macroBox")->setCurrentIndex(0);
            ClickChild(d, "okButton");
            auto* field = Child<CMaskEdit>(d, c.field);
            if (c.erase) {
                ClickChild(d, "cyclicButton");
                QTest::keyClick(Child<CMaskEdit>(d, "cyclicEdit"), Qt::Key_Delete);
            }
            ClickChild(d, c.kindButton);
            if (c.erase) {
                c.erase(d, field);
                ClickChild(d, "okButton");
                EXPECT_TRUE(d.isVisible()) << c.tid;
                EXPECT_EQ(d.focusWidget(), field) << c.tid;
                QTest::keyClick(field, Qt::Key_Home);
            }
            QTest::keyClicks(field, c.fillIn);
            ClickChild(d, "okButton");
        });
        EXPECT_EQ(result, CDlgInmatning::ResultOk) << c.tid;
        EXPECT_EQ(dialog.Model(), model);
        EXPECT_EQ(dialog.Macro(), "Dygnsberäkning");
        EXPECT_EQ(dialog.Tid(), c.tid);
        QStringList told{"Du måste välja ett makro!", "Du måste ange en tid!"};
        if (c.erase)
            told << "Du måste ange en fullständig tid!";
        EXPECT_EQ(messenger.messages, told) << c.tid;
    }
}

// A model whose macros cannot be read leaves no macro of the model before it to store.
TEST_F(DlgInmatningTest, MacroListSortsAsSwedishAndHoldsOnlyTheChosenModelsMacros) {
    const QString swedish = folder.File("svensk");
    folder.CreateModel(swedish, {"Öster", "Ärlig", "zon", "Åsa", "Zebra", "Ödla", "apa", "Ål"});
    const auto brokenMacroDatabase = [&](const char* name, const char* createStatement) {
        const QString broken = folder.File(name);
        CSqliteConnection database;
        database.Open(broken + ".mac", CSqliteConnection::OpenMode::CreateFile, 1000);
        database.Execute(createStatement);
        return broken;
    };
    const std::pair<QString, QString> unreadable[] = {
        {brokenMacroDatabase("utan nyckel", "CREATE TABLE MACRONAMN (NAMN TEXT)"), "KEY"},
        {brokenMacroDatabase("utan tabell", "CREATE TABLE MAKRON (NAMN TEXT, KEY INTEGER)"),
         "MACRONAMN"},
        {folder.File("saknas"), "saknas.mac saknas"},
        {folder.File("ingen databas"), "ingen databas.mac är ingen makrodatabas."},
    };
    folder.WriteText(folder.File("ingen databas.mac"), "ingen databas");
    for (const auto& [model, reported] : unreadable) {
        const QString brokenModel = model;
        messenger.messages.clear();
        CDlgInmatning dialog(-1, schedule, messenger, chooser, clock);
        QStringList listed;
        RunDialog(dialog, [&](QDialog& d) {
            chooser.path = swedish + ".vxm";
            ClickChild(d, "browseButton");
            auto* macros = Child<QComboBox>(d, "macroBox");
            for (int i = 0; i < macros->count(); ++i)
                listed << macros->itemText(i);
            macros->setCurrentIndex(0);
            chooser.path = brokenModel + ".vxm";
            ClickChild(d, "browseButton");
            EXPECT_EQ(macros->count(), 0) << brokenModel.toStdString();
            EXPECT_EQ(Child<QLineEdit>(d, "modelEdit")->text(), brokenModel);
            ClickChild(d, "absoluteButton");
            ClickChild(d, "okButton");
        });
        EXPECT_EQ(listed,
                  (QStringList{"apa", "Zebra", "zon", "Ål", "Åsa", "Ärlig", "Ödla", "Öster"}));
        ASSERT_EQ(messenger.messages.size(), 2);
        EXPECT_TRUE(messenger.messages.first().contains(reported))
            << messenger.messages.first().toStdString();
        EXPECT_EQ(messenger.messages.last(), "Du måste välja ett makro!");
    }
}

// The stored row shown and handed back in a fixed-size dialog; one of a moved model may go.
TEST_F(DlgInmatningTest, ChangeModeLoadsTheStoredRowOrAsksWhetherToDeleteIt) {
    const int key = db.SaveRow("1-07:30", model, "Timberäkning", -1, 1);
    CDlgInmatning dialog(key, schedule, messenger, chooser, clock);
    const int result = RunDialog(dialog, [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "KvarnixMonitor - Ändra starttid");
        EXPECT_TRUE(Child<QRadioButton>(d, "weekdayButton")->isChecked());
        EXPECT_EQ(Child<QComboBox>(d, "weekdayBox")->currentText(), "Måndag");
        EXPECT_EQ(Child<QComboBox>(d, "macroBox")->currentText(), "Timberäkning");
        EXPECT_FALSE(Child<CMaskEdit>(d, "absoluteEdit")->isEnabled());
        const QSize shown = d.size();
        d.resize(shown * 2);
        EXPECT_EQ(d.size(), shown);
        EXPECT_EQ(d.minimumSize(), d.maximumSize());
        ClickChild(d, "okButton");
    });
    EXPECT_EQ(result, CDlgInmatning::ResultOk);
    EXPECT_EQ(dialog.Tid(), "1-07:30");
    EXPECT_EQ(dialog.Implemented(), 1);
    EXPECT_TRUE(messenger.messages.isEmpty() && messenger.questions.isEmpty());

    const int moved = db.SaveRow("00:05", folder.File("flyttad"), "Kontroll", -1, 1);
    messenger.answers = {true, false};
    CDlgInmatning deleting(moved, schedule, messenger, chooser, clock);
    EXPECT_EQ(deleting.Run(), CDlgInmatning::ResultDeleteRow);
    CDlgInmatning keeping(moved, schedule, messenger, chooser, clock);
    EXPECT_EQ(keeping.Run(), CDlgInmatning::ResultKeepRow);
    ASSERT_EQ(messenger.questions.size(), 2);
    EXPECT_EQ(messenger.questions.first(),
              "Sökvägen felaktig. Ta bort raden och lägg in en\nny rad "
              "med rätt sökväg. Skall raden tas bort?");
}

} // namespace
