#pragma once

#include "application/kvarnixmonitorapp.h"
#include "commands/schedulecommands.h"
#include "dialogs/filechooser.h"
#include "files/programpaths.h"
#include "mainwindow/mainframe.h"
#include "mainwindow/mainview.h"
#include "monitordb/systemdatabase.h"
#include "schedulelist/schedulelistview.h"
#include "settings/monitorsettings.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHelpEvent>
#include <QMenu>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

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

// The tooltip a rest of the mouse at position shows over widget; empty when it shows none.
inline QString ToolTipAt(QWidget* widget, const QPoint& position) {
    // A tooltip that is told to go stays a moment; the one asked for must not be taken for it.
    QToolTip::hideText();
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
    QHelpEvent event(QEvent::ToolTip, position, widget->mapToGlobal(position));
    QApplication::sendEvent(widget, &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// A path of 300 characters whose file is "pumpstation-norr".
inline QString LongModelPath() {
    const QString name = QStringLiteral("/pumpstation-norr");
    QString folders = QStringLiteral("/anlaggningar");
    for (int part = 1; folders.size() < 300; ++part)
        folders += QStringLiteral("/delsystem-%1").arg(part);
    return folders.left(300 - name.size()) + name;
}

// A stored row: start time, model, macro and active flag.
inline QStringList StoredRow(CSystemDatabase& db, int key) {
    const CScheduleRow row = db.LoadRow(key);
    return {row.startTime, row.model, row.macro, QString::number(row.implemented)};
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

    CMainView& View() { return *frame.View(); }
    CScheduleListView& List() { return *frame.View()->List(); }
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
        for (QAction* command : List().ContextMenu()->actions())
            if (command->text() == text)
                return command->trigger();
        ADD_FAILURE() << text.toStdString();
    }
};

// Answers the login with the test's name (none cancels) and records what the operator is told.
struct CScriptedLoginDialogs : CLoginDialogs {
    std::optional<QString> AskOperatorName() override {
        ++asked;
        return answer;
    }
    void ShowAlreadyStarted(const QString& text) override { shown << text; }

    std::optional<QString> answer = QStringLiteral("Olle");
    int asked = 0;
    QStringList shown;
};

// A lock file byte for byte: the name on the first line, then the process id and host name.
inline QString LockText(const QString& name, qint64 pid = ::getpid(),
                        const QString& host = QSysInfo::machineHostName()) {
    return name + '\n' + QString::number(pid) + '\n' + host + '\n';
}

// The start-up gate over a fresh monitor database with the login check on.
struct LoginGate : testing::Test {
    CTestFolder folder;
    CProgramPaths paths{folder.ProgramFile()};
    CSystemClock clock;
    CRecordingMessenger messenger;
    CScriptedLoginDialogs dialogs;
    CKvarnixMonitorApp app{paths, clock, messenger, dialogs};
    QString lockPath = paths.LockFile();

    void SetUp() override { SetLoginCheck(1); }
    void SetLoginCheck(int value) {
        CSystemDatabase db(paths.MonitorDatabase());
        db.OpenOrCreate();
        db.SetSetting("INLOGGNINGSKONTROLL", value);
    }
    void WriteLock(const QString& text) { folder.WriteText(lockPath, text); }
    QString ReadLock() const {
        QFile file(lockPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "<missing>";
    }
};
