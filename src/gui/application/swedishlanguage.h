#pragma once

class QCoreApplication;

// Makes Qt's own texts Swedish: the file dialog, the text fields' context
// menus and the buttons of Qt's own message boxes. Installs Qt's Swedish
// catalogue from Qt's translations folder, Swedish for the few texts that
// catalogue leaves in English, and the Swedish locale as the default. False
// when the catalogue could not be loaded; the rest is installed all the same.
bool InstallSwedishLanguage(QCoreApplication& application);
