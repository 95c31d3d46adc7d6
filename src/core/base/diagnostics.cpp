#include "base/diagnostics.h"

Q_LOGGING_CATEGORY(lcDatabase, "kvarnix.database")
Q_LOGGING_CATEGORY(lcSchedule, "kvarnix.schedule")
Q_LOGGING_CATEGORY(lcLog, "kvarnix.log")
Q_LOGGING_CATEGORY(lcInstance, "kvarnix.instance")
