// Qt's own texts (standard buttons, file dialogs, their questions) in Chinese, like the rest
// of the workbench: Qt's translation catalogue where one is installed, and a built-in list of
// the most common texts where none is.
#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// The folders searched for Qt's catalogue, first match wins: Qt's own translation folder,
// then the program's folder and its "translations" subfolder (a copied installation).
QStringList QtTranslationFolders();

// Installs the built-in texts and, above them, the first catalogue found in the folders.
// Returns the catalogue's path, or an empty string when only the built-in texts are in use.
QString InstallQtTranslations(QCoreApplication& app, const QStringList& folders);
