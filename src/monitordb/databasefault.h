#pragma once

#include <QString>

class CDaoException;

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

DatabaseFault ClassifyFault(const CDaoException& failure);

// A Swedish sentence for the operator: the file, what is wrong with it and
// what he can do, with the engine's own text in brackets where it adds to it.
QString DescribeFault(DatabaseFault fault, const QString& path, const QString& engineText);
