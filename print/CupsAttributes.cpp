#include "CupsAttributes.h"

#include <QPageSize>
#include <QSizeF>

#include <cups/cups.h>

namespace {

QList<int> integers(ipp_attribute_t *attr)
{
    QList<int> values;
    for (int i = 0; i < ippGetCount(attr); ++i)
        values << ippGetInteger(attr, i);
    return values;
}

QStringList strings(ipp_attribute_t *attr)
{
    QStringList values;
    for (int i = 0; i < ippGetCount(attr); ++i)
        values << QString::fromUtf8(ippGetString(attr, i, nullptr));
    return values;
}

int integerIn(ipp_t *collection, const char *name)
{
    return ippGetInteger(ippFindAttribute(collection, name, IPP_TAG_INTEGER), 0);
}

// The page a document for the queue is laid out on: its default media with the hardware
// margins (IPP sizes and margins are in hundredths of a millimetre), portrait as CUPS lists
// sizes. A standard size within a point of the media keeps its name.
QPageLayout pageLayoutOf(ipp_attribute_t *mediaCol, ipp_attribute_t *mediaDefault)
{
    double width = 0;
    double height = 0;
    QMarginsF margins;
    if (ipp_t *col = ippGetCollection(mediaCol, 0)) {
        ipp_t *size
            = ippGetCollection(ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
        width = integerIn(size, "x-dimension") / 100.0;
        height = integerIn(size, "y-dimension") / 100.0;
        margins
            = QMarginsF(integerIn(col, "media-left-margin"), integerIn(col, "media-top-margin"),
                        integerIn(col, "media-right-margin"), integerIn(col, "media-bottom-margin"))
            / 100.0;
    }
    if (!(width > 0 && height > 0)) {
        if (pwg_media_t *media = pwgMediaForPWG(ippGetString(mediaDefault, 0, nullptr))) {
            width = media->width / 100.0;
            height = media->length / 100.0;
        }
    }
    const QPageSize page = width > 0 && height > 0
        ? QPageSize(QSizeF(width, height), QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch)
        : QPageSize(QPageSize::A4);
    return QPageLayout(page, QPageLayout::Portrait, margins, QPageLayout::Millimeter);
}

int dotsPerInch(ipp_attribute_t *resolution)
{
    if (!resolution)
        return 300; // what photo printers print at, when the queue does not say
    int yres = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    const int xres = ippGetResolution(resolution, 0, &yres, &units);
    const int dpi = units == IPP_RES_PER_CM ? int(xres * 2.54 + 0.5) : xres;
    return dpi > 0 ? dpi : 300;
}

} // namespace

namespace CupsAttributes {

const char *const PrinterAttributes[14] = {
    "printer-name",          "printer-type",
    "printer-state",         "printer-state-reasons",
    "printer-state-message", "printer-is-accepting-jobs",
    "queued-job-count",      "marker-names",
    "marker-types",          "marker-levels",
    "marker-low-levels",     "media-col-default",
    "media-default",         "printer-resolution-default",
};

// One printer's attributes, from `attr` up to the end of its group.
QueueStatus readQueue(ipp_attribute_t *&attr, ipp_t *response, QString &name, bool &isDefault)
{
    QueueStatus queue;
    QStringList markerNames;
    QStringList markerTypes;
    QList<int> levels;
    QList<int> lowLevels;
    ipp_attribute_t *mediaCol = nullptr;
    ipp_attribute_t *mediaDefault = nullptr;
    ipp_attribute_t *resolution = nullptr;
    for (; attr && ippGetName(attr); attr = ippNextAttribute(response)) {
        const QByteArray key = ippGetName(attr);
        if (key == "printer-name")
            name = QString::fromUtf8(ippGetString(attr, 0, nullptr));
        else if (key == "printer-type")
            isDefault = ippGetInteger(attr, 0) & CUPS_PRINTER_DEFAULT;
        else if (key == "printer-state")
            queue.state = ippGetInteger(attr, 0);
        else if (key == "printer-state-reasons")
            queue.reasons = strings(attr);
        else if (key == "printer-state-message")
            queue.message = QString::fromUtf8(ippGetString(attr, 0, nullptr));
        else if (key == "printer-is-accepting-jobs")
            queue.accepting = ippGetBoolean(attr, 0);
        else if (key == "queued-job-count")
            queue.queuedJobs = ippGetInteger(attr, 0);
        else if (key == "marker-names")
            markerNames = strings(attr);
        else if (key == "marker-types")
            markerTypes = strings(attr);
        else if (key == "marker-levels")
            levels = integers(attr);
        else if (key == "marker-low-levels")
            lowLevels = integers(attr);
        else if (key == "media-col-default")
            mediaCol = attr;
        else if (key == "media-default")
            mediaDefault = attr;
        else if (key == "printer-resolution-default")
            resolution = attr;
    }
    queue.reasons.removeAll(QStringLiteral("none"));
    for (int i = 0; i < levels.size(); ++i)
        queue.markers << MarkerLevel { markerNames.value(i), markerTypes.value(i), levels[i],
                                       lowLevels.value(i, -1) };
    queue.dpi = dotsPerInch(resolution);
    queue.layout = pageLayoutOf(mediaCol, mediaDefault);
    return queue;
}

} // namespace CupsAttributes
