#pragma once

#include "JobStore.h"

// Photos the operator sent ahead with print now whose urgent copy no printer has taken yet. The
// copy and its source's printed mark live in the queue only, so they are also kept in a file
// beside the program: after a restart each such photo is printed once, ahead as before, and a
// copy nobody will print goes to backup/images.
inline constexpr const char *SentAheadFileName = "zelvo-print-now.json";

// Writes the print-now copies of the queue that still wait for a printer (nothing without a
// program folder).
void saveSentAhead(const JobStore &store);

// At start-up, once the waiting jobs are listed: lists again every copy kept beside the program
// whose photo is in its images folder, and counts its photo as printed in its source job again
// when that job is listed. A copy whose source job shows its photo printed meanwhile (taken by
// the printer just before the station stopped) is not listed, and goes to backup/images; one
// whose folder is out of reach is logged and kept for the next start. Returns the number listed.
int RestoreSentAhead(JobStore &store);
