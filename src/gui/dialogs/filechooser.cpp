#include "dialogs/filechooser.h"

#include <QFileDialog>

namespace {

// An open dialog with Swedish texts, a filter and a preset file name.
QString ChooseFile(QWidget* parent, const QString& filter, const QString& presetName) {
    QFileDialog dialog(parent, QStringLiteral("Öppna"), QString(), filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Leta i:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Filnamn:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Filformat:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Öppna"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Avbryt"));
    dialog.selectFile(presetName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

QString CFileDialogChooser::ChooseModelFile(QWidget* parent) {
    return ChooseFile(parent, QStringLiteral("Modellfiler (*.vxm);;Alla typer (*.*)"),
                      QStringLiteral("vxm"));
}

// The program keeps its Windows name on every platform, so both spellings are offered.
QString CFileDialogChooser::ChooseCalculationProgram(QWidget* parent) {
    return ChooseFile(parent, QStringLiteral("Kvarnix Beräkningsprogram (Kvarnix.exe Kvarnix)"),
                      QStringLiteral("Kvarnix*.exe"));
}
