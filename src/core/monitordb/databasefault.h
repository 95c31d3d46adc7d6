#pragma once

#include <QString>

class CDatabaseError;

// What a failure of the monitor database means for the operator. A busy file
// is held by another process and only waited for; every other kind is a fault
// the operator must be told of.
enum class DatabaseFault {
    None,
    Busy,
    Missing,
    NotADatabase,
    Damaged,
    Incomplete,
    WalOnNetwork,
    ReadOnly,
    NoAccess,
    DiskFull,
    IoError,
    Other,
};

DatabaseFault ClassifyFault(const CDatabaseError& error);

// The one wording of a database fault for the operator, used wherever one is shown or
// written: what failed (when given, on a line of its own), the file, what is wrong with it
// and what he can do, with the engine's own text in brackets where it adds to it.
QString FaultText(const CDatabaseError& error, const QString& whatFailed = {});
