#pragma once

#include <QDialog>

class QTextBrowser;

// "Hjälp": the program's short manual, kept in its resources, in a window the
// operator can keep open beside the main window.
class CDlgHjalp : public QDialog {
    Q_OBJECT
public:
    explicit CDlgHjalp(QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
};
