#include "kvarnixmonitorview.h"

#include "ui/stateimagedelegate.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QTableView>

namespace {
const QColor kListBackground(190, 190, 190);
}

CKvarnixMonitorView::CKvarnixMonitorView(CMonitorSettings& settings, const CProgramPaths& paths,
                                         const CClock& clock, CMessenger& messenger,
                                         QWidget* parent)
    : QWidget(parent), m_scheduler(m_lines, settings, paths, clock, messenger),
      m_list(new QTableView(this)) {
    SetUpList();
    m_scheduler.SetRefreshSuspended([this] { return window()->isMinimized(); });
}

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
}

bool CKvarnixMonitorView::InitialUpdate() {
    if (!m_scheduler.LoadSchedule())
        return false;
    m_scheduler.Start();
    return true;
}

// The list keeps a 13-pixel margin at the left, top and bottom and 23 at the right.
void CKvarnixMonitorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize size = event->size();
    m_list->setGeometry(13, 13, size.width() - 13 - 23, size.height() - 13 - 13);
}
