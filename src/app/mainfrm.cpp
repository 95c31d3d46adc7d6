#include "mainfrm.h"

#include "schedule/kvarnixmonitorview.h"

#include <QMenuBar>
#include <QToolBar>

CMainFrame::CMainFrame(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                       CMessenger& messenger)
    : m_view(new CKvarnixMonitorView(settings, paths, clock, messenger, this)) {
    setWindowTitle(QStringLiteral("Kvarnix monitor - KvarnixMonitor"));
    setCentralWidget(m_view);
    CreateMenus();
    CreateToolBar();
    // Room for the five columns and the list's margins.
    resize(850, 450);
}

void CMainFrame::CreateMenus() {
    const CKvarnixMonitorView::Commands& commands = m_view->RowCommands();
    QMenu* file = menuBar()->addMenu(QStringLiteral("Arkiv"));
    file->addAction(commands.newRow);
    QMenu* edit = menuBar()->addMenu(QStringLiteral("Redigera"));
    edit->addAction(commands.deleteRow);
    edit->addAction(commands.changeRow);
    edit->addAction(commands.resetRunFlags);
}

void CMainFrame::CreateToolBar() {
    const CKvarnixMonitorView::Commands& commands = m_view->RowCommands();
    QToolBar* toolBar = addToolBar(QStringLiteral("Verktygslist"));
    toolBar->setObjectName(QStringLiteral("toolbar"));
    toolBar->addAction(commands.newRow);
    toolBar->addAction(commands.deleteRow);
    toolBar->addAction(commands.changeRow);
    toolBar->addSeparator();
    toolBar->addAction(commands.resetRunFlags);
}
