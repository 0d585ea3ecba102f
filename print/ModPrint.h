#pragma once

#include "PhotoFault.h"

#include <QString>

#include <cstdint>

class PrinterPort;
struct Handover;
struct PrintQueues;

// Printer selection, page metrics and photo printing. Everything goes through the printer
// port set here: the station sets the real one at start-up, tests a recording double.
namespace ModPrint {

// Page metrics of the current printer, rewritten by every SelectPrinter (single precision,
// device pixels): resolution in dots per inch (used for both axes), printable page, and the
// rectangle a photo is printed into.
extern float PrinterDpi;
extern float PageWidthPx;
extern float PageHeightPx;
extern float TargetWidthPx;
extern float TargetHeightPx;
// The photo size in inches for the next SelectPrinter, set by the dispatcher from the
// settings of the photo's paper size (width along the page's longer side).
extern float TargetWidthIn;
extern float TargetHeightIn;

// The port all printing goes through; nullptr until set, and then nothing is printed. The
// port is not owned.
void setPrinterPort(PrinterPort *port);
PrinterPort *printerPort();

// The printer that a printer name left empty in the settings stands for, by what the print
// system answers: the queue it marks as default; when it marks none, the first queue it lists;
// when it has no queue at all, the built-in PDF printer. "" while it does not answer: the name
// stays empty and photos of its paper size wait, as they do for a named queue that is missing.
QString printerForEmptyKey(const PrintQueues &queues);

// Gives the printer names left empty what printerForEmptyKey chooses for what `port` answers
// now, and logs the choice. False, with a warning, when a name stays empty.
bool ResolveEmptyPrinterKeys(const PrinterPort &port);

// Makes the installed printer that `printerName` names the current one (see
// findPrinterByName; when none matches the current printer stays) and measures it into the
// page metrics above.
void SelectPrinter(const QString &printerName);

// Opens a print document with its first page on the current printer. False when the
// platform cannot start one (no port, no printer): nothing is printed, and the photo
// should be tried again later.
bool OpenPrintDocument(const QString &title);

// Loads the JPEG at `path` and decodes it for the target of the current printer, before any
// document is opened, so that a photo that cannot be drawn never becomes an empty page. The
// next PrintPhoto of the same path draws it without reading the file again. Returns why it
// cannot be drawn, or PhotoFault::None; `ppi` gets its resolution at the target size.
PhotoFault PreparePhoto(const QString &path, int *ppi = nullptr);

// Draws the JPEG at `path` on the open document, one page per copy with a new page between
// copies: turned to the target's orientation, filling the target rectangle without
// distortion, centred on the printable page. A missing, hidden or unreadable photo, copies
// of 0 or less, or no open document draw nothing; the photo is decoded once for all copies.
void PrintPhoto(const QString &path, int16_t copies);

// Ends the open document and hands it to the print system: accepted there (a job exists in the
// printer's queue, or the PDF file was written), refused, or on its way to CUPS, whose answer
// comes later. A document that lacks a copy's page is refused: the photo was not printed.
Handover EndPrintDocument();

// Closes the open document without printing it.
void AbandonPrintDocument();

} // namespace ModPrint
