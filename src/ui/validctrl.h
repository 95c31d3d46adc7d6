#pragma once

#include <QTreeView>

class CClock;
class CFileChooser;
class CKvarnixMonitorView;
class CMessenger;
class CProgramPaths;
class CScheduleModel;
struct CMonitorSettings;
class QMenu;

// The schedule list: one painted line per row, a check box strip at the left
// that switches a row on and off, and a context menu of commands on one line.
class CValidCtrl : public QTreeView {
    Q_OBJECT
public:
    CValidCtrl(CScheduleModel& lines, const CProgramPaths& paths, const CMonitorSettings& settings,
               const CClock& clock, CMessenger& messenger, QWidget* parent = nullptr);

    // The view that stores check-box changes and shows logs; set once the list is filled.
    void SetOwnerView(CKvarnixMonitorView* view) { m_pOwnerView = view; }
    void SetFileChooser(CFileChooser& chooser) { m_fileChooser = &chooser; }
    int ContextRow() const { return m_nContextRow; }
    QMenu* ContextMenu() const { return m_contextMenu; }

    // Shared with the main view's menu commands.
    void ChangeLine(int line);
    void DeleteLine(int line);

    // The context menu's commands, on the line the menu was opened on.
    void OnActivate();
    void OnDeactivate();
    void OnResetRunFlag();
    void OnChange();
    void OnDelete();
    void OnShowModelLog();
    void OnOpenModel();
    void OnInformation();
    void OnRunNow();
    void OnRunHistory();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    // Receives the viewport's size changes: the model column takes up the rest.
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    void FitColumns();
    void StretchModelColumn();
    int MinimumColumnWidth(int column) const;
    void CreateContextMenu();
    void AddCommand(const QString& text, const QString& prompt, void (CValidCtrl::*command)());
    bool HandleCheckBoxPress(const QPoint& position);
    bool HandleRightPress(QMouseEvent* event);
    void SetImageAndNotify(int line, int image);
    void DeleteRow(int key);
    void RemoveLineUnselected(int line);
    bool HasContextRow() const;

    CScheduleModel& m_lines;
    const CProgramPaths& m_paths;
    const CMonitorSettings& m_settings;
    const CClock& m_clock;
    CMessenger& m_messenger;
    CFileChooser* m_fileChooser = nullptr;
    CKvarnixMonitorView* m_pOwnerView = nullptr;
    int m_nContextRow = -1;
    QMenu* m_contextMenu = nullptr;
};
