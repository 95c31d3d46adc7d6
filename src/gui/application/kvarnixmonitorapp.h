#pragma once

#include "dialogs/dlgmessage.h"
#include "files/lockfile.h"
#include "settings/monitorsettings.h"

#include <QString>
#include <memory>
#include <optional>

class CClock;
class CMainFrame;
class CMessenger;
class CProgramPaths;

// The two questions of the login gate, behind an interface so that the gate
// can be driven without modal windows.
class CLoginDialogs {
public:
    virtual ~CLoginDialogs() = default;
    // The operator's name, or nothing when the login was cancelled.
    virtual std::optional<QString> AskOperatorName() = 0;
    // Tells the operator that another instance runs; returns once it is closed.
    virtual void ShowAlreadyStarted(const QString& text) = 0;
};

// The login and message dialogs, run modally without a parent window.
class CModalLoginDialogs : public CLoginDialogs {
public:
    // Both dialogs close themselves after closeAfterMs when nobody answers.
    explicit CModalLoginDialogs(CMessenger& messenger,
                                int closeAfterMs = CSelfClosingDialog::kCloseAfterMs)
        : m_messenger(messenger), m_closeAfterMs(closeAfterMs) {}
    std::optional<QString> AskOperatorName() override;
    void ShowAlreadyStarted(const QString& text) override;

private:
    CMessenger& m_messenger;
    int m_closeAfterMs;
};

// Starts the monitor: waits for its database, lets only one logged-in instance
// run when the login check is on (a lock whose process is gone does not count),
// and opens the main window. At exit it takes away the lock file, but only the
// one this instance wrote.
class CKvarnixMonitorApp {
public:
    CKvarnixMonitorApp(const CProgramPaths& paths, const CClock& clock, CMessenger& messenger,
                       CLoginDialogs& dialogs);
    CKvarnixMonitorApp(const CKvarnixMonitorApp&) = delete;
    CKvarnixMonitorApp& operator=(const CKvarnixMonitorApp&) = delete;
    // Runs the exit step if it has not run, so a start that fails after the
    // login leaves no lock behind.
    ~CKvarnixMonitorApp();

    // True when the event loop is to run, false when the program is to end.
    bool InitInstance();
    // Removes the lock file if this instance wrote it.
    void ExitInstance();

    // Asks for the operator's name and writes it into the lock file. False when
    // the login was cancelled, another instance holds the lock (which the
    // operator is told) or the file could not be written (likewise).
    bool LoginStep();

    CMainFrame* MainFrame() const { return m_frame.get(); }

private:
    std::optional<bool> ReadLoginCheck();
    bool PassLoginGate();
    // True when the lock file found at start-up was stale and is gone now.
    bool ClearStaleLock();
    void ReportLockHolder();
    bool TakeLock(const QString& name);
    bool ReleaseLock();
    bool CreateMainFrame();

    const CProgramPaths& m_paths;
    const CClock& m_clock;
    CMessenger& m_messenger;
    CLoginDialogs& m_dialogs;
    CLockFile m_lockFile;
    // Only a lock file this instance created is ever removed by it: any other
    // belongs to a running instance that a removal would let a second one join.
    bool m_ownsLockFile = false;
    CMonitorSettings m_settings;
    std::unique_ptr<CMainFrame> m_frame;
};
