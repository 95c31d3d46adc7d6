#include "mainwindow/mainframe.h"

#include "dialogs/aboutdlg.h"
#include "dialogs/dlghjalp.h"
#include "mainwindow/mainstatusbar.h"
#include "mainwindow/mainview.h"
#include "widgets/programicon.h"
#include "widgets/screenroom.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPainter>
#include <QStatusTipEvent>
#include <QToolBar>

namespace {

// A title bar without a close button: the window ends through "Avsluta" only.
constexpr Qt::WindowFlags kTitleBarButtons = Qt::Window | Qt::CustomizeWindowHint |
                                             Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                             Qt::WindowMinMaxButtonsHint;

// Toolbar pictures, 16 x 15, drawn for the command they start.
QIcon ToolIcon(int command) {
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    switch (command) {
    case 32771: // new row: a sheet with a plus
        painter.setBrush(Qt::white);
        painter.drawRect(2, 1, 10, 12);
        painter.setPen(QPen(QColor(0, 128, 0), 2));
        painter.drawLine(10, 9, 14, 9);
        painter.drawLine(12, 7, 12, 11);
        break;
    case 32773: // delete: a red cross
        painter.setPen(QPen(Qt::red, 2));
        painter.drawLine(3, 2, 12, 12);
        painter.drawLine(12, 2, 3, 12);
        break;
    case 32774: // change: a pencil over a line
        painter.setPen(QPen(QColor(160, 100, 0), 2));
        painter.drawLine(4, 11, 12, 3);
        painter.setPen(Qt::black);
        painter.drawLine(2, 13, 14, 13);
        break;
    case 32777: // reset calculation flags: a red box made white
        painter.setBrush(Qt::red);
        painter.drawRect(1, 3, 6, 6);
        painter.setBrush(Qt::white);
        painter.drawRect(9, 3, 6, 6);
        painter.drawLine(7, 12, 9, 12);
        break;
    case 32778: // show the monitor log: lines of text
        painter.setBrush(Qt::white);
        painter.drawRect(2, 1, 11, 13);
        for (int y = 4; y <= 11; y += 3)
            painter.drawLine(4, y, 11, y);
        break;
    case 57669: // help: a question mark in a blue disc
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(30, 90, 170));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(1, 0, 14, 14);
        painter.setPen(Qt::white);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(11);
        painter.setFont(font);
        painter.drawText(QRect(1, 0, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    return QIcon(pixmap);
}

} // namespace

CMainFrame::CMainFrame(CMonitorSettings& settings, const CProgramPaths& paths, const CClock& clock,
                       CMessenger& messenger)
    : m_view(new CMainView(settings, paths, clock, messenger, this)),
      m_statusBar(new CMainStatusBar(settings, this)) {
    setWindowTitle(QStringLiteral("Kvarnix monitor - KvarnixMonitor"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(kTitleBarButtons);
    setCentralWidget(m_view);
    setStatusBar(m_statusBar);
    CreateToolBar();
    CreateMenus();
    connect(m_view, &CMainView::StatusTextChanged, m_statusBar, &CMainStatusBar::SetIdleText);
    connect(m_view, &CMainView::SettingsChanged, m_statusBar, &CMainStatusBar::ShowSettings);
    // Room for the five columns and the list's margins, where the screen has it.
    ResizeWithinScreen(*this, QSize(850, 450));
}

QAction* CMainFrame::CreateAction(const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setStatusTip(prompt);
    return action;
}

void CMainFrame::CreateMenus() {
    const CMainView::Commands& commands = m_view->MenuCommands();
    QMenu* file = menuBar()->addMenu(QStringLiteral("Arkiv"));
    file->addAction(commands.newRow);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("&Avsluta"));
    exit->setStatusTip(QStringLiteral("Avslutar programmet"));
    connect(exit, &QAction::triggered, this, &CMainFrame::OnExit);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("Redigera"));
    edit->addAction(commands.deleteRow);
    edit->addAction(commands.changeRow);
    edit->addAction(commands.resetRunFlags);
    edit->addSeparator();
    edit->addAction(commands.settings);

    QMenu* show = menuBar()->addMenu(QStringLiteral("Visa"));
    QAction* toolBarShown = m_toolBar->toggleViewAction();
    toolBarShown->setText(QStringLiteral("V&erktygslist"));
    toolBarShown->setStatusTip(QStringLiteral("Visar eller döljer verktygslisten"));
    show->addAction(toolBarShown);
    show->addAction(commands.showMonitorLog);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Hjälp"));
    QAction* helpTopics = help->addAction(QStringLiteral("Hjälp"));
    helpTopics->setObjectName(QStringLiteral("helpTopics"));
    helpTopics->setShortcut(QKeySequence::HelpContents);
    helpTopics->setStatusTip(QStringLiteral("Visar programmets hjälptext"));
    connect(helpTopics, &QAction::triggered, this, &CMainFrame::ShowHelp);
    QAction* about = help->addAction(QStringLiteral("&Om KvarnixMonitor..."));
    about->setStatusTip(QStringLiteral("Visar programinformation, versionsnummer och copyright"));
    connect(about, &QAction::triggered, this, [this] {
        CAboutDlg dialog(this);
        dialog.exec();
    });
}

void CMainFrame::CreateToolBar() {
    const CMainView::Commands& commands = m_view->MenuCommands();
    m_toolBar = addToolBar(QStringLiteral("Verktygslist"));
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setIconSize(QSize(16, 15));
    for (QAction* command : {commands.newRow, commands.deleteRow, commands.changeRow,
                             commands.resetRunFlags, commands.showMonitorLog})
        command->setIcon(ToolIcon(command->data().toInt()));
    m_toolBar->addAction(commands.newRow);
    m_toolBar->addAction(commands.deleteRow);
    m_toolBar->addAction(commands.changeRow);
    m_toolBar->addSeparator();
    m_toolBar->addAction(commands.resetRunFlags);
    m_toolBar->addAction(commands.showMonitorLog);
    m_toolBar->addSeparator();
    QAction* contextHelp = CreateAction(
        QStringLiteral("Hjälp"), QStringLiteral("Visar hjälp för menyer, knappar och dialog"));
    contextHelp->setObjectName(QStringLiteral("contextHelp"));
    contextHelp->setToolTip(QStringLiteral("Hälp till kommandon"));
    contextHelp->setIcon(ToolIcon(57669));
    connect(contextHelp, &QAction::triggered, this, &CMainFrame::ShowHelp);
    m_toolBar->addAction(contextHelp);
}

// One manual window, kept for the next time once it has been opened.
void CMainFrame::ShowHelp() {
    if (!m_help)
        m_help = new CDlgHjalp(this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void CMainFrame::OnExit() {
    m_exiting = true;
    close();
}

// Only "Avsluta" ends the program. A window manager that offers a close all the same
// is refused, and the operator told the way out.
void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    event->ignore();
    m_statusBar->ShowNote(QStringLiteral("Avsluta monitorn med Arkiv › Avsluta."));
}

// The prompts of menus, context menus and buttons go to the status bar's first pane,
// which cuts them to its width.
bool CMainFrame::event(QEvent* event) {
    if (event->type() != QEvent::StatusTip)
        return QMainWindow::event(event);
    m_statusBar->ShowPrompt(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
}
