#pragma once

#include "app/mainfrm.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "schedule/kvarnixmonitorview.h"
#include "support/testsupport.h"
#include "ui/filechooser.h"
#include "ui/validctrl.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

// Answers the file dialogs with a path the test chose.
class CScriptedFileChooser : public CFileChooser {
public:
    explicit CScriptedFileChooser(QString path = {}) : path(std::move(path)) {}
    QString ChooseModelFile(QWidget*) override { return path; }
    QString ChooseCalculationProgram(QWidget*) override { return path; }
    QString path;
};

// Runs script in the next modal dialog's loop, then cancels it if still open: no test hangs.
inline void ScriptNextDialog(std::function<void(QDialog&)> script) {
    QTimer::singleShot(0, [script = std::move(script)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        script(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}

template <typename Widget> Widget* Child(QWidget& parent, const char* name) {
    return parent.findChild<Widget*>(QString::fromLatin1(name));
}

inline void ClickChild(QWidget& parent, const char* name) {
    QTest::mouseClick(Child<QAbstractButton>(parent, name), Qt::LeftButton);
}

// A stored row: start time, model, macro and active flag.
inline QStringList StoredRow(CSystemDatabase& db, int key) {
    QString tid, model, macro;
    int implemented = -1;
    EXPECT_TRUE(db.LoadRow(key, tid, model, macro, implemented)) << key;
    return {tid, model, macro, QString::number(implemented)};
}

// The main window over the monitor database of a fresh folder, on a clock that stands still.
struct MainWindowTest : testing::Test {
    CTestFolder folder;
    CRecordingMessenger messenger;
    CSystemDatabase db{folder.DatabaseFile()};
    CProgramPaths paths{folder.ProgramFile()};
    CFakeClock clock{LocalTime("2026-12-08 10:00:20")};
    CMonitorSettings settings;
    CMainFrame frame{settings, paths, clock, messenger};

    CKvarnixMonitorView& View() { return *frame.View(); }
    CValidCtrl& List() { return *frame.View()->List(); }
    void Start() {
        frame.show();
        ASSERT_TRUE(View().InitialUpdate());
    }
    // Clicks a line x pixels from the list's left edge; line -1 is the space below the last.
    void ClickLine(int line, int x, Qt::MouseButton button = Qt::LeftButton) {
        const int y = line < 0 ? List().viewport()->height() - 2
                               : List().visualRect(View().Lines().index(line, 0)).center().y();
        QTest::mouseClick(List().viewport(), button, {}, QPoint(x, y));
    }
    // Picks the command of the context menu opened on line.
    void RunContextCommand(int line, const QString& text) {
        ClickLine(line, 40, Qt::RightButton);
        List().ContextMenu()->close();
        const QList<QAction*> commands = List().ContextMenu()->actions();
        const auto command = std::find_if(commands.begin(), commands.end(),
                                          [&](QAction* action) { return action->text() == text; });
        ASSERT_NE(command, commands.end()) << text.toStdString();
        (*command)->trigger();
    }
};
