#include "schedulelist/schedulelistview.h"

#include "schedulelist/linedelegate.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <algorithm>
#include <optional>

namespace {

const QColor kListBackground(190, 190, 190);
constexpr int kCheckBoxStrip = 20;

bool IsContextMenuKey(const QKeyEvent& event) {
    return event.key() == Qt::Key_Menu ||
           (event.key() == Qt::Key_F10 && event.modifiers() == Qt::ShiftModifier);
}

std::optional<LineCommand> KeyCommand(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return LineCommand::Change;
    case Qt::Key_Delete:
        return LineCommand::Delete;
    }
    return std::nullopt;
}

} // namespace

CScheduleListView::CScheduleListView(CScheduleModel& lines, QWidget* parent)
    : QTreeView(parent), m_lines(lines) {
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
    connect(header(), &QHeaderView::sectionResized, this,
            [this](int column, int, int newSize) { OnSectionResized(column, newSize); });
    FitColumns();
    QPalette listPalette = palette();
    listPalette.setColor(QPalette::Base, kListBackground);
    setPalette(listPalette);
    CreateContextMenu();
}

// Widths sized for a much smaller font would let the texts be cut needlessly.
void CScheduleListView::FitColumns() {
    {
        const QScopedValueRollback<bool> fitting(m_fittingColumns, true);
        for (int column = 0; column < CScheduleModel::ColumnCount; ++column)
            if (column != CScheduleModel::Model)
                header()->resizeSection(column, MinimumColumnWidth(column));
    }
    StretchModelColumn();
}

// The model column fills what the others leave, unless the operator has made it wider;
// where even its narrowest does not fit, the list scrolls sideways.
void CScheduleListView::StretchModelColumn() {
    const QScopedValueRollback<bool> fitting(m_fittingColumns, true);
    header()->resizeSection(CScheduleModel::Model,
                            std::max({MinimumColumnWidth(CScheduleModel::Model), ModelColumnFill(),
                                      m_chosenModelWidth}));
}

int CScheduleListView::ModelColumnFill() const {
    return viewport()->width() -
           (header()->length() - header()->sectionSize(CScheduleModel::Model));
}

// A model column dragged wider than the list's fill is kept at that width; one dragged
// narrower fills the list again.
void CScheduleListView::OnSectionResized(int column, int newSize) {
    if (m_fittingColumns)
        return;
    if (column == CScheduleModel::Model)
        m_chosenModelWidth = newSize > ModelColumnFill() ? newSize : 0;
    StretchModelColumn();
}

int CScheduleListView::MinimumColumnWidth(int column) const {
    return std::max({CScheduleModel::ColumnWidth(column), header()->sectionSizeHint(column),
                     CLineDelegate::ContentWidth(column, fontMetrics())});
}

void CScheduleListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    StretchModelColumn();
}

// Qt makes the first line current when the list gets the focus, without selecting it, so
// that the first Down would select the second line. Without a selected line, the first Down
// selects the first line.
void CScheduleListView::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    if (!selectionModel()->hasSelection())
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
}

void CScheduleListView::changeEvent(QEvent* event) {
    QTreeView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitColumns();
}

void CScheduleListView::CreateContextMenu() {
    m_contextMenu = new QMenu(this);
    AddActivation(QStringLiteral("Aktivera"), QStringLiteral("Aktiverar körningen"),
                  StateImage::Active);
    AddActivation(QStringLiteral("Avaktivera"), QStringLiteral("Stoppar körningen"),
                  StateImage::Inactive);
    m_contextMenu->addSeparator();
    AddCommand(QStringLiteral("Återställ beräkningsflaggan"),
               QStringLiteral("Återställer beräkningsflaggan"), LineCommand::ResetRunFlag);
    AddCommand(QStringLiteral("Ändra"), QStringLiteral("Ändra raden"), LineCommand::Change);
    AddCommand(QStringLiteral("Ta bort"), QStringLiteral("Ta bort raden"), LineCommand::Delete);
    m_contextMenu->addSeparator();
    AddCommand(QStringLiteral("Visa modelllogg"), QStringLiteral("Öppnar modellens loggfil"),
               LineCommand::ShowModelLog);
    AddCommand(QStringLiteral("Öppna modellen"),
               QStringLiteral("Öppnar modellen i beräkningsprogrammet"), LineCommand::OpenModel);
    AddCommand(QStringLiteral("Information"), QStringLiteral("Visar information om raden"),
               LineCommand::Information);
    AddCommand(QStringLiteral("Kör nu"), QStringLiteral("Startar radens beräkning nu"),
               LineCommand::RunNow);
    AddCommand(QStringLiteral("Körhistorik"), QStringLiteral("Visar radens körningar"),
               LineCommand::RunHistory);
    m_cancelRun =
        AddCommand(QStringLiteral("Avbryt körning"),
                   QStringLiteral("Avbryter radens pågående körning"), LineCommand::CancelRun);
}

// Owned by the list, not by the menu: a menu is a window of its own, and the prompt of
// an entry goes to the entry's owner and from there up to the main window's status bar.
QAction* CScheduleListView::AddMenuEntry(const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setStatusTip(prompt);
    m_contextMenu->addAction(action);
    return action;
}

// The image is the same whatever the line showed before, so a red line turns white until
// the next refresh paints its colour again.
void CScheduleListView::AddActivation(const QString& text, const QString& prompt,
                                      StateImage image) {
    QAction* action = AddMenuEntry(text, prompt);
    connect(action, &QAction::triggered, this, [this, image] {
        if (HasContextRow())
            SetImageAndNotify(m_nContextRow, image);
    });
}

QAction* CScheduleListView::AddCommand(const QString& text, const QString& prompt,
                                       LineCommand command) {
    QAction* action = AddMenuEntry(text, prompt);
    connect(action, &QAction::triggered, this, [this, command] {
        if (HasContextRow())
            emit CommandChosen(command, m_nContextRow);
    });
    return action;
}

void CScheduleListView::mousePressEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    if (event->button() == Qt::LeftButton && position.x() <= kCheckBoxStrip) {
        // The strip never moves the selection, on a line or below the last one.
        HandleCheckBoxPress(position);
        return;
    }
    if (event->button() == Qt::RightButton) {
        HandleRightPress(event);
        return;
    }
    QTreeView::mousePressEvent(event);
}

bool CScheduleListView::HandleCheckBoxPress(const QPoint& position) {
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return false;
    SetImageAndNotify(index.row(), StateImages::Toggled(m_lines.Line(index.row()).stateImage));
    return true;
}

// A right press anywhere on a line selects it and opens the menu there; on empty space
// it does nothing at all.
void CScheduleListView::HandleRightPress(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    const QModelIndex index = indexAt(position);
    m_nContextRow = -1;
    if (!index.isValid())
        return;
    QTreeView::mousePressEvent(event);
    OpenContextMenu(index.row(), position);
}

// Only a supervised run that has not ended can be cancelled.
void CScheduleListView::OpenContextMenu(int line, const QPoint& viewportPosition) {
    m_nContextRow = line;
    m_cancelRun->setEnabled(m_lines.index(line, 0).data(CScheduleModel::CancellableRole).toBool());
    m_contextMenu->popup(viewport()->mapToGlobal(viewportPosition));
}

// Below the start of the line's first text, brought into view first.
void CScheduleListView::OpenContextMenuOnSelectedLine() {
    const int line = SelectedLine();
    if (line < 0)
        return;
    const QModelIndex first = m_lines.index(line, CScheduleModel::StartTime);
    scrollTo(first);
    const QRect shown = visualRect(first);
    OpenContextMenu(line, QPoint(shown.left() + kCheckBoxStrip, shown.bottom()));
}

int CScheduleListView::SelectedLine() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// The keys act on the selected line only, never on one that merely has the focus frame.
void CScheduleListView::keyPressEvent(QKeyEvent* event) {
    if (IsContextMenuKey(*event))
        return OpenContextMenuOnSelectedLine();
    const std::optional<LineCommand> command = KeyCommand(*event);
    if (!command)
        return QTreeView::keyPressEvent(event);
    if (const int line = SelectedLine(); line >= 0)
        emit CommandChosen(*command, line);
}

void CScheduleListView::SetImageAndNotify(int line, StateImage image) {
    m_lines.SetStateImage(line, image);
    emit ActiveChosen(line, image);
}

bool CScheduleListView::HasContextRow() const {
    return m_nContextRow >= 0 && m_nContextRow < m_lines.LineCount();
}

// The whole line is painted at once, each text cut at its own column's edge.
void CScheduleListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
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
