#include "corelogging_p.h"

Q_LOGGING_CATEGORY(lcCore, "coagulation.core")
