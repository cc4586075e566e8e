// Lays out an installation of the application in a directory: settings.ini,
// with every key explained, and the four databases with their tables.
// Nothing that exists is overwritten, so running it again on a site only
// adds what is missing.
//
//     coagulation-setup DIR
#include "coagulation_version.h"
#include "installation.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--version")}) {
        out << "coagulation-setup " << COAGULATION_VERSION_STRING << '\n';
        return 0;
    }
    if (arguments.size() != 1 || arguments.first().startsWith(QLatin1Char('-'))) {
        err << "usage: coagulation-setup DIR | --version\n"
               "Lays out settings.ini and the databases profile.db, data.db, qc.db and "
               "syslog.db in DIR; files that exist are left alone.\n";
        return arguments.size() == 1 && arguments.first() == QLatin1String("--help") ? 0 : 2;
    }
    const QString directory = QDir(arguments.first()).absolutePath();
    QString error;
    if (!Installation::layOut(directory, &error)) {
        err << "coagulation-setup: " << error << '\n';
        return 1;
    }
    out << directory << '\n';
    return 0;
}
