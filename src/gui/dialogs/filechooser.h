#pragma once

#include <QString>

class QWidget;

// Asks the operator for a file; tests answer without a real dialog.
class CFileChooser {
public:
    virtual ~CFileChooser() = default;
    // The chosen file's full path, or empty when the operator cancelled.
    virtual QString ChooseModelFile(QWidget* parent) = 0;
    virtual QString ChooseCalculationProgram(QWidget* parent) = 0;
};

class CFileDialogChooser : public CFileChooser {
public:
    QString ChooseModelFile(QWidget* parent) override;
    QString ChooseCalculationProgram(QWidget* parent) override;
};
