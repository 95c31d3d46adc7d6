#pragma once

#include <QString>

class QWidget;

// Asks the operator for a model file; tests answer without a real dialog.
class CFileChooser {
public:
    virtual ~CFileChooser() = default;
    // The chosen file's full path, or empty when the operator cancelled.
    virtual QString ChooseModelFile(QWidget* parent) = 0;
};

class CModelFileDialog : public CFileChooser {
public:
    QString ChooseModelFile(QWidget* parent) override;
};
