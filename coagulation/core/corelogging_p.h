#ifndef CORELOGGING_P_H
#define CORELOGGING_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QLoggingCategory>

// Every debug and warning line of the library goes through this category
// ("coagulation.core"), so that an application can filter them.
Q_DECLARE_LOGGING_CATEGORY(lcCore)

#endif // CORELOGGING_P_H
