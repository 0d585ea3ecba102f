#pragma once

#include "PrinterSnapshot.h"

#include <QString>

#include <cups/ipp.h>

// What the scheduler's answers to CUPS-Get-Printers mean for the station: each queue's state,
// markers and waiting jobs, and the page a document for it is laid out on.
namespace CupsAttributes {

// The attributes asked for.
extern const char *const PrinterAttributes[14];

// One printer's group of `response`, from `attr` to the group's end, where `attr` is left.
// `name` gets its name, `isDefault` whether it is the scheduler's default. The page is its
// default media with the hardware margins at its default resolution (300 dpi when it tells
// none), portrait as CUPS lists sizes; a standard size within a point keeps its name.
QueueStatus readQueue(ipp_attribute_t *&attr, ipp_t *response, QString &name, bool &isDefault);

} // namespace CupsAttributes
