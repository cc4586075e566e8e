#ifndef INSTALLATION_H
#define INSTALLATION_H

#include <QtCore/QString>

// Lays out an installation in the current directory unless it has one, that
// is unless the profile database that settings.ini names (by default
// "profile.db") exists. Each of the four databases that is missing is created
// from the embedded schema under the name settings.ini gives it; files that
// exist are left alone. On failure returns false and describes the cause in
// *error.
bool layOutInstallation(QString *error = nullptr);

#endif // INSTALLATION_H
