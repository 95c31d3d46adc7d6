#include "mainfrm.h"

#include "schedule/kvarnixmonitorview.h"

CMainFrame::CMainFrame(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                       CMessenger& messenger)
    : m_view(new CKvarnixMonitorView(settings, paths, clock, messenger, this)) {
    setWindowTitle(QStringLiteral("Kvarnix monitor - KvarnixMonitor"));
    setCentralWidget(m_view);
    // Room for the five columns and the list's margins.
    resize(850, 450);
}
