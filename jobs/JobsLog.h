#pragma once

#include <QLoggingCategory>

// The job store's log: refused job files, failed renames and moves, with path and reason.
Q_DECLARE_LOGGING_CATEGORY(lcJobs)
