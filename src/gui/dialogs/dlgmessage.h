#pragma once

#include <QDialog>
#include <QTimer>

// A dialog that ends itself a while after it opens, so that an unattended
// start does not wait for an operator. The time runs from the opening; using
// the dialog does not restart it, and closing it stops it.
class CSelfClosingDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCloseAfterMs = 20000;

protected:
    CSelfClosingDialog(int closeAfterMs, QWidget* parent);

    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    virtual void OnCloseTimer() = 0;

private:
    QTimer m_closeTimer;
};

// One line of text for the operator, confirmed with OK or by waiting.
class CDlgMessage : public CSelfClosingDialog {
    Q_OBJECT
public:
    explicit CDlgMessage(const QString& text, QWidget* parent = nullptr,
                         int closeAfterMs = kCloseAfterMs);

protected:
    void OnCloseTimer() override;
};
