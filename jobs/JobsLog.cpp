#include "JobsLog.h"

Q_LOGGING_CATEGORY(lcJobs, "zelvo.jobs")
