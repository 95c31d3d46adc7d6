#include "validctrl.h"

#include "app/databaseaccess.h"
#include "app/messenger.h"
#include "app/monitorsettings.h"
#include "app/programpaths.h"
#include "linedelegate.h"
#include "monitordb/daoexception.h"
#include "monitordb/systemdatabase.h"
#include "schedule/clock.h"
#include "schedule/kvarnixmonitorview.h"
#include "schedule/rowinformation.h"
#include "schedule/schedulemodel.h"
#include "ui/dlginformation.h"
#include "ui/dlginmatning.h"
#include "ui/dlgkorhistorik.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <algorithm>

namespace {

const QColor kListBackground(190, 190, 190);
constexpr int kCheckBoxStrip = 20;

// 1 and 2 swap, 3 and 4 swap; a line without an image becomes active.
int ToggledImage(int image) {
    if (image <= 2)
        return image == 2 ? 1 : 2;
    return image == 4 ? 3 : 4;
}

} // namespace

CValidCtrl::CValidCtrl(CScheduleModel& lines, const CProgramPaths& paths,
                       const CMonitorSettings& settings, const CClock& clock, CMessenger& messenger,
                       QWidget* parent)
    : QTreeView(parent), m_lines(lines), m_paths(paths), m_settings(settings), m_clock(clock),
      m_messenger(messenger) {
    setModel(&m_lines);
    setItemDelegate(new CLineDelegate(*header(), this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionResized, this, [this](int column) {
        if (column != CScheduleModel::Model)
            StretchModelColumn();
    });
    FitColumns();
    QPalette listPalette = palette();
    listPalette.setColor(QPalette::Base, kListBackground);
    setPalette(listPalette);
    CreateContextMenu();
}

// Widths sized for a much smaller font would let the times overprint each other.
void CValidCtrl::FitColumns() {
    for (int column = 0; column < CScheduleModel::ColumnCount; ++column)
        if (column != CScheduleModel::Model)
            header()->resizeSection(column, MinimumColumnWidth(column));
    StretchModelColumn();
}

void CValidCtrl::StretchModelColumn() {
    const int others = header()->length() - header()->sectionSize(CScheduleModel::Model);
    header()->resizeSection(
        CScheduleModel::Model,
        std::max(MinimumColumnWidth(CScheduleModel::Model), viewport()->width() - others));
}

int CValidCtrl::MinimumColumnWidth(int column) const {
    return std::max({CScheduleModel::ColumnWidth(column), header()->sectionSizeHint(column),
                     CLineDelegate::ContentWidth(column, fontMetrics())});
}

void CValidCtrl::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    StretchModelColumn();
}

void CValidCtrl::changeEvent(QEvent* event) {
    QTreeView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitColumns();
}

void CValidCtrl::CreateContextMenu() {
    m_contextMenu = new QMenu(this);
    AddCommand(QStringLiteral("Aktivera"), QStringLiteral("Aktiverar körningen"),
               &CValidCtrl::OnActivate);
    AddCommand(QStringLiteral("Avaktivera"), QStringLiteral("Stoppar körningen"),
               &CValidCtrl::OnDeactivate);
    m_contextMenu->addSeparator();
    AddCommand(QStringLiteral("Återställ beräkningsflaggan"),
               QStringLiteral("Återställer beräkningsflaggan"), &CValidCtrl::OnResetRunFlag);
    AddCommand(QStringLiteral("Ändra"), QStringLiteral("Ändra raden"), &CValidCtrl::OnChange);
    AddCommand(QStringLiteral("Ta bort"), QStringLiteral("Ta bort raden"), &CValidCtrl::OnDelete);
    m_contextMenu->addSeparator();
    AddCommand(QStringLiteral("Visa modelllogg"), QStringLiteral("Öppnar modellens loggfil"),
               &CValidCtrl::OnShowModelLog);
    AddCommand(QStringLiteral("Öppna modellen"), QString(), &CValidCtrl::OnOpenModel);
    AddCommand(QStringLiteral("Information"), QString(), &CValidCtrl::OnInformation);
    AddCommand(QStringLiteral("Kör nu"), QStringLiteral("Startar radens beräkning nu"),
               &CValidCtrl::OnRunNow);
    AddCommand(QStringLiteral("Körhistorik"), QStringLiteral("Visar radens körningar"),
               &CValidCtrl::OnRunHistory);
}

void CValidCtrl::AddCommand(const QString& text, const QString& prompt,
                            void (CValidCtrl::*command)()) {
    QAction* action = m_contextMenu->addAction(text);
    action->setStatusTip(prompt);
    connect(action, &QAction::triggered, this, command);
}

void CValidCtrl::mousePressEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    if (event->button() == Qt::LeftButton && position.x() <= kCheckBoxStrip) {
        // The strip never moves the selection, on a line or below the last one.
        HandleCheckBoxPress(position);
        return;
    }
    if (event->button() == Qt::RightButton && !HandleRightPress(event))
        return;
    QTreeView::mousePressEvent(event);
}

bool CValidCtrl::HandleCheckBoxPress(const QPoint& position) {
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return false;
    SetImageAndNotify(index.row(), ToggledImage(m_lines.Line(index.row()).stateImage));
    return true;
}

// A right press on a line selects it and opens the menu when it hit the first
// column; on empty space it does nothing at all.
bool CValidCtrl::HandleRightPress(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    const QModelIndex index = indexAt(position);
    m_nContextRow = -1;
    if (!index.isValid())
        return false;
    QTreeView::mousePressEvent(event);
    if (position.x() < header()->sectionViewportPosition(0) + header()->sectionSize(0)) {
        m_nContextRow = index.row();
        m_contextMenu->popup(viewport()->mapToGlobal(position));
    }
    return false;
}

void CValidCtrl::SetImageAndNotify(int line, int image) {
    m_lines.SetStateImage(line, image);
    if (m_pOwnerView)
        m_pOwnerView->OnStateImageChanged(image, line);
}

bool CValidCtrl::HasContextRow() const {
    return m_nContextRow >= 0 && m_nContextRow < m_lines.LineCount();
}

void CValidCtrl::OnActivate() {
    if (m_pOwnerView && HasContextRow())
        SetImageAndNotify(m_nContextRow, 2);
}

void CValidCtrl::OnDeactivate() {
    if (m_pOwnerView && HasContextRow())
        SetImageAndNotify(m_nContextRow, 1);
}

void CValidCtrl::OnResetRunFlag() {
    if (!HasContextRow())
        return;
    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger))
        return;
    const bool reset = db.ResetRunFlag(m_lines.Line(m_nContextRow).key);
    if (m_pOwnerView) {
        try {
            m_pOwnerView->ShowStoredRunStates(db);
        } catch (const CDaoException&) {
            // The next refresh shows it.
        }
    }
    db.Close();
    if (!reset)
        m_messenger.ShowMessage(db.LastError());
}

void CValidCtrl::OnChange() {
    if (HasContextRow())
        ChangeLine(m_nContextRow);
}

void CValidCtrl::OnDelete() {
    if (HasContextRow())
        DeleteLine(m_nContextRow);
}

void CValidCtrl::OnShowModelLog() {
    if (m_pOwnerView && HasContextRow())
        m_pOwnerView->OnShowModelLog(m_nContextRow);
}

void CValidCtrl::OnRunNow() {
    if (m_pOwnerView && HasContextRow())
        m_pOwnerView->RunLineNow(m_nContextRow);
}

void CValidCtrl::OnRunHistory() {
    if (!HasContextRow())
        return;
    const CScheduleLine& line = m_lines.Line(m_nContextRow);
    CDlgKorhistorik dialog(m_paths.MonitorDatabase(), line.key, line.model, m_messenger, this);
    dialog.Run();
}

// The model file is handed over as one argument, blanks and all.
void CValidCtrl::OnOpenModel() {
    if (HasContextRow())
        QProcess::startDetached(m_settings.programPath,
                                {m_lines.Line(m_nContextRow).model + QStringLiteral(".vxm")});
}

void CValidCtrl::OnInformation() {
    if (!HasContextRow())
        return;
    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger))
        return;
    CDlgInformation dialog(this);
    try {
        dialog.SetInformation(ComputeRowInformation(db, m_lines.Line(m_nContextRow),
                                                    m_settings.programPath, m_clock.Now()));
    } catch (const CDaoException& e) {
        db.Close();
        m_messenger.ShowMessage(
            QStringLiteral("Informationen om raden kunde inte läsas ur monitordatabasen.\n") +
            e.ErrorText());
        return;
    }
    db.Close();
    dialog.exec();
}

// The list may be read anew while the dialog is open, so the row is found by its key afterwards.
void CValidCtrl::ChangeLine(int line) {
    const int key = m_lines.Line(line).key;
    CDlgInmatning dialog(key, m_paths.MonitorDatabase(), m_messenger, *m_fileChooser, m_clock,
                         this);
    const int result = dialog.Run();
    if (result == CDlgInmatning::ResultDeleteRow) {
        DeleteRow(key);
        return;
    }
    if (result != CDlgInmatning::ResultOk)
        return;
    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger))
        return;
    const bool saved =
        db.SaveRow(dialog.Tid(), dialog.Model(), dialog.Macro(), key, dialog.Implemented()) >= 0;
    const QString saveProblem = db.LastError();
    m_lines.SetRows(db.LoadAllRows());
    const QString loadProblem = db.LastError();
    if (m_pOwnerView) {
        try {
            m_pOwnerView->ShowStoredRunStates(db);
        } catch (const CDaoException&) {
            // The next refresh shows them.
        }
    }
    db.Close();
    for (const QString& problem : {saved ? QString() : saveProblem, loadProblem}) {
        if (!problem.isEmpty())
            m_messenger.ShowMessage(problem);
    }
}

void CValidCtrl::DeleteLine(int line) {
    const int key = m_lines.Line(line).key;
    if (m_messenger.AskYesNo(QStringLiteral("Raden kommer att tas bort. Vill du detta?")))
        DeleteRow(key);
}

// A row that is gone from the file is gone from the list; one that stays stays.
void CValidCtrl::DeleteRow(int key) {
    CSystemDatabase db(m_paths.MonitorDatabase(), CommandWait());
    if (!OpenForCommand(db, m_messenger))
        return;
    const bool deleted = db.DeleteRow(key);
    db.Close();
    if (!deleted) {
        m_messenger.ShowMessage(db.LastError());
        return;
    }
    const int line = m_lines.LineOfKey(key);
    if (line >= 0)
        RemoveLineUnselected(line);
}

// Left to itself the list would select the next line, one the operator never
// picked, and keep the commands on a selected line enabled for it.
void CValidCtrl::RemoveLineUnselected(int line) {
    m_lines.RemoveLine(line);
    selectionModel()->clear();
}

// The whole line is painted at once, so a long text may run on under the next column.
void CValidCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem line = option;
    line.rect = QRect(header()->sectionViewportPosition(0), option.rect.top(), header()->length(),
                      option.rect.height());
    line.palette = QGuiApplication::palette();
    if (selectionModel()->isRowSelected(index.row(), index.parent()))
        line.state |= QStyle::State_Selected;
    else
        line.state &= ~QStyle::State_Selected;
    itemDelegate()->paint(painter, line, index);
}
