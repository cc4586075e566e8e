#ifndef PROGRAMTRANSLATOR_H
#define PROGRAMTRANSLATOR_H

#include <QtCore/QString>

// Installs the translation of a program's own texts, baseName + "_" + the
// language of settings.ini, found the way installTranslators() finds the
// library's: in ".", "..", "../translations", Qt's translations directory,
// then where the programs install them. Call after installTranslators().
// Returns whether a file was found.
bool installProgramTranslator(const QString &baseName);

#endif // PROGRAMTRANSLATOR_H
