#include "threadconnections_p.h"

#include "perthread_p.h"

#include <QtCore/QAtomicInteger>
#include <QtCore/QHash>

namespace {

class Registry
{
public:
    ~Registry()
    {
        for (const QString &name : qAsConst(m_names))
            QSqlDatabase::removeDatabase(name);
    }

    QSqlDatabase connection(const QString &databaseFile)
    {
        QString &name = m_names[databaseFile];
        if (name.isEmpty()) {
            static QAtomicInteger<quint64> serial;
            name = QStringLiteral("coagulation.core thread connection %1 (%2)")
                       .arg(serial.fetchAndAddRelaxed(1))
                       .arg(databaseFile);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(databaseFile);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        }
        return QSqlDatabase::database(name);
    }

private:
    QHash<QString, QString> m_names; // database file -> connection name
};

} // namespace

namespace ThreadConnections {

QSqlDatabase connection(const QString &databaseFile)
{
    // A thread asking while it ends gets no connection: its registry has
    // already closed and removed them.
    Registry *registry = PerThread<Registry>::get();
    return registry ? registry->connection(databaseFile) : QSqlDatabase();
}

} // namespace ThreadConnections
