#pragma once

#include "ui/filechooser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <functional>

// Answers the file dialogs with a path the test chose.
class CScriptedFileChooser : public CFileChooser {
public:
    explicit CScriptedFileChooser(QString path = {}) : path(std::move(path)) {}
    QString ChooseModelFile(QWidget*) override { return path; }
    QString ChooseCalculationProgram(QWidget*) override { return path; }
    QString path;
};

// Runs script on the modal dialog that is about to open, once its event loop
// runs. A script that leaves the dialog open has it cancelled, so a failing
// test ends instead of waiting for a click that never comes.
inline void ScriptNextDialog(std::function<void(QDialog&)> script) {
    QTimer::singleShot(0, [script = std::move(script)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        script(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}

template <typename Widget> Widget* Child(QWidget& parent, const char* name) {
    return parent.findChild<Widget*>(QString::fromLatin1(name));
}

inline void ClickChild(QWidget& parent, const char* name) {
    QTest::mouseClick(Child<QAbstractButton>(parent, name), Qt::LeftButton);
}
