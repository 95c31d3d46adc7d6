#include "kvarnixmonitorview.h"

#include "app/messenger.h"
#include "app/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "schedule/starttime.h"
#include "ui/dlginmatning.h"
#include "ui/filechooser.h"
#include "ui/stateimagedelegate.h"

#include <QAction>
#include <QHeaderView>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QTableView>

namespace {

const QColor kListBackground(190, 190, 190);
constexpr int kUserRetryMs = 200;
constexpr int kResetRetryMs = 50;
// The check box is the first 20 pixels of a line.
constexpr int kCheckBoxWidth = 20;

// A ticked box stays running or idle as it was: 1 <-> 2, 3 <-> 4.
int ToggledImage(int image) {
    return image % 2 == 1 ? image + 1 : image - 1;
}

bool IsTicked(int image) {
    return image == 2 || image == 4;
}

} // namespace

CKvarnixMonitorView::CKvarnixMonitorView(CMonitorSettings& settings, const CProgramPaths& paths,
                                         const CClock& clock, CMessenger& messenger,
                                         QWidget* parent)
    : QWidget(parent), m_paths(paths), m_clock(clock), m_messenger(messenger),
      m_fileChooser(std::make_unique<CFileDialogChooser>()),
      m_scheduler(m_lines, settings, paths, clock, messenger), m_list(new QTableView(this)) {
    SetUpList();
    CreateCommands();
    m_scheduler.SetRefreshSuspended([this] { return window()->isMinimized(); });
}

CKvarnixMonitorView::~CKvarnixMonitorView() = default;

void CKvarnixMonitorView::SetUpList() {
    m_list->setModel(&m_lines);
    m_list->setItemDelegate(new CStateImageDelegate(m_list));
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(18);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setHighlightSections(false);
    for (int column = 0; column < CScheduleModel::ColumnCount; ++column)
        m_list->setColumnWidth(column, CScheduleModel::ColumnWidth(column));
    QPalette palette = m_list->palette();
    palette.setColor(QPalette::Base, kListBackground);
    m_list->setPalette(palette);
    m_list->viewport()->installEventFilter(this);
}

void CKvarnixMonitorView::CreateCommands() {
    m_commands.newRow = CreateCommand(32771, QStringLiteral("&Ny Rad\tCtrl+N"),
                                      QStringLiteral("Skapa en ny rad\nNy rad"));
    m_commands.deleteRow =
        CreateCommand(32773, QStringLiteral("&Ta bort"),
                      QStringLiteral("Tabort den markerade raden\nTa bort markerad raden"));
    m_commands.changeRow = CreateCommand(32774, QStringLiteral("&Ändra"),
                                         QStringLiteral("Ändra den markerade raden\nÄndra rad"));
    m_commands.resetRunFlags = CreateCommand(
        32777, QStringLiteral("&Återställ beräkningsflaggor"),
        QStringLiteral("Återställ samtliga beräkningsflaggor\nNollställ beräkningsflaggorna"));
    connect(m_commands.newRow, &QAction::triggered, this, &CKvarnixMonitorView::OnNewRow);
    connect(m_commands.deleteRow, &QAction::triggered, this, &CKvarnixMonitorView::OnDeleteRow);
    connect(m_commands.changeRow, &QAction::triggered, this, &CKvarnixMonitorView::OnChangeRow);
    connect(m_commands.resetRunFlags, &QAction::triggered, this,
            &CKvarnixMonitorView::OnResetRunFlags);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CKvarnixMonitorView::UpdateCommandStates);
    connect(&m_lines, &QAbstractItemModel::modelReset, this,
            &CKvarnixMonitorView::UpdateCommandStates);
    UpdateCommandStates();
}

// The prompt holds the status-bar text, a line break, and the tooltip.
QAction* CKvarnixMonitorView::CreateCommand(int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
    action->setToolTip(prompt.section(QLatin1Char('\n'), 1, 1));
    return action;
}

void CKvarnixMonitorView::UpdateCommandStates() {
    const bool selected = SelectedLine() >= 0;
    m_commands.deleteRow->setEnabled(selected);
    m_commands.changeRow->setEnabled(selected);
}

int CKvarnixMonitorView::SelectedLine() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CKvarnixMonitorView::SetFileChooser(std::unique_ptr<CFileChooser> chooser) {
    m_fileChooser = std::move(chooser);
}

bool CKvarnixMonitorView::InitialUpdate() {
    if (!m_scheduler.LoadSchedule())
        return false;
    m_scheduler.Start();
    return true;
}

void CKvarnixMonitorView::OnNewRow() {
    CDlgInmatning dialog(-1, m_paths.MonitorDatabase(), m_messenger, *m_fileChooser, m_clock, this);
    if (dialog.Run() != CDlgInmatning::ResultOk)
        return;
    CScheduleLine line;
    line.startTime = StartTime::DisplayForm(dialog.Tid());
    line.model = dialog.Model();
    line.macro = dialog.Macro();
    m_lines.AppendLine(line);
    const int row = m_lines.LineCount() - 1;

    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    const int key = db.OpenRetrying(kUserRetryMs)
                        ? db.SaveRow(line.startTime, line.model, line.macro, line.key,
                                     IsTicked(line.stateImage) ? 1 : 0)
                        : -1;
    // A row that could not be stored must not stay in the list as if it were.
    if (key < 0)
        m_lines.RemoveLine(row);
    else
        m_lines.SetKey(row, key);
}

void CKvarnixMonitorView::OnChangeRow() {
    const int line = SelectedLine();
    if (line < 0)
        return;
    const int key = m_lines.Line(line).key;
    CDlgInmatning dialog(key, m_paths.MonitorDatabase(), m_messenger, *m_fileChooser, m_clock,
                         this);
    const int result = dialog.Run();
    if (result != CDlgInmatning::ResultOk && result != CDlgInmatning::ResultDeleteRow)
        return;
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (!db.OpenRetrying(kUserRetryMs))
        return;
    if (result == CDlgInmatning::ResultDeleteRow) {
        if (db.DeleteRow(key))
            m_lines.RemoveLine(line);
        return;
    }
    db.SaveRow(dialog.Tid(), dialog.Model(), dialog.Macro(), key, dialog.Implemented());
    db.LoadAllRows(m_lines);
    db.Close();
    m_scheduler.Refresh();
}

void CKvarnixMonitorView::OnDeleteRow() {
    const int line = SelectedLine();
    if (line < 0 ||
        !m_messenger.AskYesNo(QStringLiteral("Raden kommer att tas bort. Vill du detta?")))
        return;
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (db.OpenRetrying(kUserRetryMs) && db.DeleteRow(m_lines.Line(line).key))
        m_lines.RemoveLine(line);
}

void CKvarnixMonitorView::OnResetRunFlags() {
    {
        CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
        if (!db.OpenRetrying(kResetRetryMs))
            return;
        for (int key : m_lines.Keys())
            db.ResetRunFlag(key);
    }
    m_scheduler.RefreshRunStates();
}

void CKvarnixMonitorView::OnStateImageChanged(int image, int line) {
    CSystemDatabase db(m_paths.MonitorDatabase(), m_messenger);
    if (db.OpenRetrying(kUserRetryMs))
        db.SetImplemented(IsTicked(image) ? 1 : 0, m_lines.Line(line).key);
}

// A press on a line's check box toggles it and leaves the selection alone.
bool CKvarnixMonitorView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton && ToggleCheckBoxAt(press->position().toPoint()))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool CKvarnixMonitorView::ToggleCheckBoxAt(const QPoint& position) {
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return false;
    const QRect firstCell = m_list->visualRect(m_lines.index(index.row(), 0));
    if (position.x() - firstCell.left() > kCheckBoxWidth)
        return false;
    const int image = ToggledImage(m_lines.Line(index.row()).stateImage);
    m_lines.SetStateImage(index.row(), image);
    OnStateImageChanged(image, index.row());
    return true;
}

// The list keeps a 13-pixel margin at the left, top and bottom and 23 at the right.
void CKvarnixMonitorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize size = event->size();
    m_list->setGeometry(13, 13, size.width() - 13 - 23, size.height() - 13 - 13);
}
