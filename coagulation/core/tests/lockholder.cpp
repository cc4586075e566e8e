// Another program on the same files: holds a lock on an SQLite database,
//
//     lockholder FILE exclusive|read SECONDS
//
// "exclusive" keeps an exclusive transaction open, "read" a select with rows
// still to fetch (what a report left open does). Prints "held PID" once the
// lock is taken and keeps it until SECONDS pass or it is killed.
#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fputs("usage: lockholder FILE exclusive|read SECONDS\n", stderr);
        return 2;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(arguments.at(1));
    QSqlQuery query(db);
    const bool held = db.open()
        && (arguments.at(2) == QLatin1String("exclusive")
                ? query.exec(QStringLiteral("begin exclusive"))
                : query.exec(QStringLiteral("select * from sqlite_master")) && query.next());
    if (!held) {
        std::fprintf(stderr, "lockholder: %s\n", qPrintable(query.lastError().text()));
        return 1;
    }
    std::printf("held %lld\n", QCoreApplication::applicationPid());
    std::fflush(stdout);
    QThread::sleep(arguments.at(3).toULong());
    return 0;
}
