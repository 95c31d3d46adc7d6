#include "schedulelist/schedulelistview.h"

#include "schedulelist/linedelegate.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

namespace {

const QColor kListBackground(190, 190, 190);
constexpr int kCheckBoxStrip = 20;

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
void CScheduleListView::FitColumns() {
    for (int column = 0; column < CScheduleModel::ColumnCount; ++column)
        if (column != CScheduleModel::Model)
            header()->resizeSection(column, MinimumColumnWidth(column));
    StretchModelColumn();
}

void CScheduleListView::StretchModelColumn() {
    const int others = header()->length() - header()->sectionSize(CScheduleModel::Model);
    header()->resizeSection(
        CScheduleModel::Model,
        std::max(MinimumColumnWidth(CScheduleModel::Model), viewport()->width() - others));
}

int CScheduleListView::MinimumColumnWidth(int column) const {
    return std::max({CScheduleModel::ColumnWidth(column), header()->sectionSizeHint(column),
                     CLineDelegate::ContentWidth(column, fontMetrics())});
}

void CScheduleListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    StretchModelColumn();
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
    AddCommand(QStringLiteral("Öppna modellen"), QString(), LineCommand::OpenModel);
    AddCommand(QStringLiteral("Information"), QString(), LineCommand::Information);
    AddCommand(QStringLiteral("Kör nu"), QStringLiteral("Startar radens beräkning nu"),
               LineCommand::RunNow);
    AddCommand(QStringLiteral("Körhistorik"), QStringLiteral("Visar radens körningar"),
               LineCommand::RunHistory);
}

// The image is the same whatever the line showed before, so a red line turns white until
// the next refresh paints its colour again.
void CScheduleListView::AddActivation(const QString& text, const QString& prompt,
                                      StateImage image) {
    QAction* action = m_contextMenu->addAction(text);
    action->setStatusTip(prompt);
    connect(action, &QAction::triggered, this, [this, image] {
        if (HasContextRow())
            SetImageAndNotify(m_nContextRow, image);
    });
}

void CScheduleListView::AddCommand(const QString& text, const QString& prompt,
                                   LineCommand command) {
    QAction* action = m_contextMenu->addAction(text);
    action->setStatusTip(prompt);
    connect(action, &QAction::triggered, this, [this, command] {
        if (HasContextRow())
            emit CommandChosen(command, m_nContextRow);
    });
}

void CScheduleListView::mousePressEvent(QMouseEvent* event) {
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

bool CScheduleListView::HandleCheckBoxPress(const QPoint& position) {
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return false;
    SetImageAndNotify(index.row(), StateImages::Toggled(m_lines.Line(index.row()).stateImage));
    return true;
}

// A right press on a line selects it and opens the menu when it hit the first
// column; on empty space it does nothing at all.
bool CScheduleListView::HandleRightPress(QMouseEvent* event) {
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

void CScheduleListView::SetImageAndNotify(int line, StateImage image) {
    m_lines.SetStateImage(line, image);
    emit ActiveChosen(line, image);
}

bool CScheduleListView::HasContextRow() const {
    return m_nContextRow >= 0 && m_nContextRow < m_lines.LineCount();
}

// The whole line is painted at once, so a long text may run on under the next column.
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
