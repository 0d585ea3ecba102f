#pragma once

#include <QLoggingCategory>

class StationLock;

Q_DECLARE_LOGGING_CATEGORY(lcStation)

// Tells why this start is refused: an English line in the log, the Portuguese text on standard
// error and, when `withMessageBox`, in a message box that waits for the operator's OK.
void tellStartRefused(const StationLock &lock, bool withMessageBox);
