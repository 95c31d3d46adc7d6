#pragma once

#include <QMainWindow>

class CClock;
class CDlgHjalp;
class CMainView;
class CMessenger;
class CProgramPaths;
class CMainStatusBar;
struct CMonitorSettings;

// The single top-level window: menus, toolbar, status bar and the main view.
// It closes only through "Avsluta"; the title bar has no close button.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
               CMessenger& messenger);

    CMainView* View() const { return m_view; }
    CMainStatusBar* StatusBar() const { return m_statusBar; }
    QToolBar* ToolBar() const { return m_toolBar; }
    void OnExit();
    void ShowHelp();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    QAction* CreateAction(const QString& text, const QString& prompt);

    CMainView* m_view;
    CMainStatusBar* m_statusBar;
    QToolBar* m_toolBar = nullptr;
    CDlgHjalp* m_help = nullptr;
    bool m_exiting = false;
};
