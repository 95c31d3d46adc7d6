#pragma once

#include "schedule/schedulemodel.h"

#include <QTreeView>

class QMenu;

// The commands of the list's context menu that act on one line.
enum class LineCommand {
    ResetRunFlag,
    Change,
    Delete,
    ShowModelLog,
    OpenModel,
    Information,
    RunNow,
    RunHistory,
    CancelRun,
};

// The schedule list: one painted line per row, a check box strip at the left that
// switches a row on and off, and a context menu of commands on one line, opened by a
// right click anywhere on the line or, for the selected line, by the Menu key or
// Shift+F10; Enter changes the selected line and Delete removes it. It only shows and
// asks: what the operator chose reaches its owner as a signal.
class CScheduleListView : public QTreeView {
    Q_OBJECT
public:
    explicit CScheduleListView(CScheduleModel& lines, QWidget* parent = nullptr);

    int ContextRow() const { return m_nContextRow; }
    QMenu* ContextMenu() const { return m_contextMenu; }

signals:
    // The line's check box, "Aktivera" or "Avaktivera" gave it a new image.
    void ActiveChosen(int line, StateImage image);
    void CommandChosen(LineCommand command, int line);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    // Receives the viewport's size changes: the model column takes up the rest.
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    void FitColumns();
    void StretchModelColumn();
    int ModelColumnFill() const;
    void OnSectionResized(int column, int newSize);
    int MinimumColumnWidth(int column) const;
    void CreateContextMenu();
    QAction* AddMenuEntry(const QString& text, const QString& prompt);
    void AddActivation(const QString& text, const QString& prompt, StateImage image);
    QAction* AddCommand(const QString& text, const QString& prompt, LineCommand command);
    bool HandleCheckBoxPress(const QPoint& position);
    void HandleRightPress(QMouseEvent* event);
    void OpenContextMenu(int line, const QPoint& viewportPosition);
    void OpenContextMenuOnSelectedLine();
    int SelectedLine() const;
    void SetImageAndNotify(int line, StateImage image);
    bool HasContextRow() const;

    CScheduleModel& m_lines;
    int m_nContextRow = -1;
    QMenu* m_contextMenu = nullptr;
    QAction* m_cancelRun = nullptr;
    // The model column's width as the operator widened it; 0 while it just fills the list.
    int m_chosenModelWidth = 0;
    // Set while the list sizes its columns itself, so that only the operator's
    // resizing counts as chosen.
    bool m_fittingColumns = false;
};
