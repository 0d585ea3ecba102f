#pragma once

#include "Imaging.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// The arithmetic of placing a photo on a printer's page, kept apart from any printer so that
// it can be checked number by number. Everything is single precision where the page metrics
// are, and "nearest" rounds halves to the even neighbour.

struct PageMetrics
{
    float dpi = 0;
    float pageWidthPx = 0;
    float pageHeightPx = 0;
    float targetWidthPx = 0;
    float targetHeightPx = 0;
};

// The target rectangle for a photo of targetWidthIn x targetHeightIn inches on a printable
// page of pageWidthPx x pageHeightPx device pixels at `dpi`: the configured width goes along
// the page's longer side (a square page counts as landscape), and a target that overflows the
// page is brought back along the dimension that overflows least, keeping its proportions.
PageMetrics computePageMetrics(float dpi, float pageWidthPx, float pageHeightPx,
                               float targetWidthIn, float targetHeightIn);

// Index in `installed` of the printer that `printerName` names, or -1. An installed name
// matches when, trimmed of blanks and lower-cased, it equals `printerName` lower-cased;
// `printerName` itself is not trimmed. The first match wins.
int findPrinterByName(const QStringList &installed, const QString &printerName);

// Where and how a photo of photoWidth x photoHeight pixels goes into the target rectangle.
struct PhotoPlacement
{
    int turnCode = 0; // 0 none, 1 or 3: the quarter turn passed to IG_IP_rotate_multiple_90
    float targetWidthPx = 0; // the target after it grew to the photo's proportions
    float targetHeightPx = 0;
    IgRect imageRect; // part of the (turned) photo to print
    IgRect deviceRect; // where on the page, centred; may extend past the page
};

// Turns the photo to the target's orientation (a square target counts as landscape), grows
// the target along one side until it has the photo's proportions, so that the photo fills it
// without distortion, and centres it on the printable page.
PhotoPlacement placePhoto(float targetWidthPx, float targetHeightPx, float pageWidthPx,
                          float pageHeightPx, int32_t photoWidth, int32_t photoHeight);

// `text` without the blanks (spaces) at either end.
QString trimBlanks(const QString &text);
