#pragma once

#include <QString>

// Sends every log message to standard error and to zelvo.log in `folder`, each line with its
// time and category, so an unattended station keeps a record of what it refused and why.
// A log above 10 MB at start-up is moved to zelvo.log.1 first, when `mayRotate` (a start that
// is refused leaves a running station's log where it is).
void installStationLog(const QString &folder, bool mayRotate = true);
