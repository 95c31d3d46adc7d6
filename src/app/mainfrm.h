#pragma once

#include <QMainWindow>

class CKvarnixMonitorView;
class CClock;
class CMessenger;
class CProgramPaths;
struct CMonitorSettings;

// The single top-level window, hosting the main view.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
               CMessenger& messenger);

    CKvarnixMonitorView* View() const { return m_view; }

private:
    void CreateMenus();
    void CreateToolBar();

    CKvarnixMonitorView* m_view;
};
