// The window's language: its own texts and Qt's, in the first of the user's languages that the
// program has, English (no translator) otherwise.
#pragma once

#include <QString>
#include <QStringList>

// Where the program's .qm files are looked for: beside the program (Windows installer), in
// ../share/lumora-connector/translations (Linux install) and in ../translations (build tree).
QStringList translationFolders();

// Removes the translators installed before, then installs ours and Qt's own (qtbase,
// qtdeclarative, qtquickcontrols2, where present) for the first entry of languages (BCP 47 names
// such as QLocale::uiLanguages gives) that has a .qm file in one of folders; English, or no
// such entry, installs none. Returns the language taken ("de") or an empty string. GUI thread,
// after the application object exists and before the window loads.
QString installTranslators(const QStringList& languages,
                           const QStringList& folders = translationFolders());
