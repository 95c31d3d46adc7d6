#pragma once

#include <QDialog>

// "Om KvarnixMonitor": the program's name, version and purpose.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // The picture beside the texts, 149 x 69 pixels.
    static QPixmap Picture();
};
