#pragma once

#include <QMainWindow>

class CClock;
class CDlgHjalp;
class CKvarnixMonitorView;
class CMessenger;
class CProgramPaths;
class CStatusBarW;
struct CMonitorSettings;

// The single top-level window: menus, toolbar, status bar and the main view.
// It closes only through "Avsluta"; the title bar's close is disabled.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
               CMessenger& messenger);

    CKvarnixMonitorView* View() const { return m_view; }
    CStatusBarW* StatusBar() const { return m_statusBar; }
    QToolBar* ToolBar() const { return m_toolBar; }
    void OnExit();
    void ShowHelp();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    QAction* CreateAction(const QString& text, const QString& prompt);

    CKvarnixMonitorView* m_view;
    CStatusBarW* m_statusBar;
    QToolBar* m_toolBar = nullptr;
    CDlgHjalp* m_help = nullptr;
    bool m_exiting = false;
};
