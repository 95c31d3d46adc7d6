#include "application/kvarnixmonitorapp.h"

#include "base/messenger.h"
#include "base/stoprequest.h"
#include "commands/schedulecommands.h"
#include "dialogs/dlginloggning.h"
#include "dialogs/dlgmessage.h"
#include "files/programpaths.h"
#include "mainwindow/mainframe.h"
#include "mainwindow/mainview.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
#include "widgets/programicon.h"

#include <QGuiApplication>

std::optional<QString> CModalLoginDialogs::AskOperatorName() {
    CDlgInloggning dialog(m_messenger, nullptr, m_closeAfterMs);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Name();
}

void CModalLoginDialogs::ShowAlreadyStarted(const QString& text) {
    CDlgMessage dialog(text, nullptr, m_closeAfterMs);
    dialog.exec();
}

CKvarnixMonitorApp::CKvarnixMonitorApp(const CProgramPaths& paths, const CClock& clock,
                                       CMessenger& messenger, CLoginDialogs& dialogs)
    : m_paths(paths), m_clock(clock), m_messenger(messenger), m_dialogs(dialogs),
      m_lockFile(paths.LockFile()) {}

CKvarnixMonitorApp::~CKvarnixMonitorApp() {
    ExitInstance();
}

bool CKvarnixMonitorApp::InitInstance() {
    // Every window carries the program's picture, the login dialogs included;
    // the desktop matches the windows to the installed menu entry by its name.
    QGuiApplication::setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("kvarnixmonitor"));
    return PassLoginGate() && CreateMainFrame();
}

void CKvarnixMonitorApp::ExitInstance() {
    ReleaseLock();
}

bool CKvarnixMonitorApp::LoginStep() {
    const std::optional<QString> name = m_dialogs.AskOperatorName();
    return name && TakeLock(*name);
}

// The database is closed again before any dialog opens: it is shared with the
// running calculations and never held across a wait for the operator.
std::optional<bool> CKvarnixMonitorApp::ReadLoginCheck() {
    try {
        return CScheduleCommands(m_paths.MonitorDatabase()).ReadLoginCheckAtStart();
    } catch (const CDatabaseError& e) {
        // A wait for a held file that a stop ended is no fault.
        if (!ProcessStopRequested())
            m_messenger.ShowMessage(FaultText(e));
        return std::nullopt;
    }
}

bool CKvarnixMonitorApp::PassLoginGate() {
    const std::optional<bool> loginCheck = ReadLoginCheck();
    if (!loginCheck)
        return false;
    if (!*loginCheck)
        return true;
    return (!m_lockFile.Exists() || ClearStaleLock()) && LoginStep();
}

// A lock left behind by a crashed instance on this host would otherwise keep
// every start out until someone removed the file by hand.
bool CKvarnixMonitorApp::ClearStaleLock() {
    switch (m_lockFile.RemoveIfStale()) {
    case CLockFile::StaleResult::Removed:
        return true;
    case CLockFile::StaleResult::Held:
        ReportLockHolder();
        return false;
    case CLockFile::StaleResult::Failed:
        m_messenger.ShowMessage(m_lockFile.ErrorText());
        return false;
    }
    return false;
}

void CKvarnixMonitorApp::ReportLockHolder() {
    const std::optional<QString> holder = m_lockFile.ReadName();
    if (!holder) {
        m_messenger.ShowMessage(m_lockFile.ErrorText());
        return;
    }
    m_dialogs.ShowAlreadyStarted(
        QStringLiteral("Applikationen har redan startats av %1 ").arg(*holder));
}

// Another instance may have logged in since the lock file was looked for; the
// creation itself decides who runs.
bool CKvarnixMonitorApp::TakeLock(const QString& name) {
    // A second login of this instance writes the new name into a lock of its own.
    if (!ReleaseLock())
        return false;
    switch (m_lockFile.CreateWithName(name)) {
    case CLockFile::CreateResult::Created:
        m_ownsLockFile = true;
        return true;
    case CLockFile::CreateResult::AlreadyExists:
        ReportLockHolder();
        return false;
    case CLockFile::CreateResult::Failed:
        m_messenger.ShowMessage(m_lockFile.ErrorText());
        return false;
    }
    return false;
}

// False only when this instance's lock file is there and cannot be removed.
bool CKvarnixMonitorApp::ReleaseLock() {
    if (!m_ownsLockFile)
        return true;
    if (m_lockFile.Exists() && !m_lockFile.Remove()) {
        m_messenger.ShowMessage(m_lockFile.ErrorText());
        return false;
    }
    m_ownsLockFile = false;
    return true;
}

bool CKvarnixMonitorApp::CreateMainFrame() {
    m_frame = std::make_unique<CMainFrame>(m_settings, m_paths, m_clock, m_messenger);
    m_frame->View()->SetLoginStep([this] { return LoginStep(); });
    if (!m_frame->View()->InitialUpdate()) {
        m_frame.reset();
        return false;
    }
    m_frame->show();
    return true;
}
