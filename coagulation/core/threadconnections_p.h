#ifndef THREADCONNECTIONS_P_H
#define THREADCONNECTIONS_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtSql/QSqlDatabase>

// SQL connections may be used only by the thread that made them. A thread
// other than the settings store's owner gets connections of its own: one per
// database file, registered under a name no caller uses, opened on first use
// (and again when closed), and closed and removed when the thread finishes.
namespace ThreadConnections {

QSqlDatabase connection(const QString &databaseFile);

} // namespace ThreadConnections

#endif // THREADCONNECTIONS_P_H
