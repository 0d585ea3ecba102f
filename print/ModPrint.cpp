#include "ModPrint.h"

#include "Imaging.h"
#include "ModConf.h"
#include "PageGeometry.h"
#include "PrintResolution.h"
#include "PrinterPort.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QPainter>
#include <QSet>

Q_LOGGING_CATEGORY(lcPrint, "zelvo.print")

const QString PrinterPort::BuiltInPdfPrinter = QStringLiteral("Zelvo PDF");

namespace ModPrint {

float PrinterDpi = 0;
float PageWidthPx = 0;
float PageHeightPx = 0;
float TargetWidthPx = 0;
float TargetHeightPx = 0;
float TargetWidthIn = 0;
float TargetHeightIn = 0;

namespace {

PrinterPort *currentPort = nullptr;
// A page of the open document could not be started, so it lacks copies.
bool documentIncomplete = false;
// Printer names that matched no installed printer, already logged.
QSet<QString> unmatchedNames;

// What the platform's directory probe finds: a file that is neither a folder nor hidden
// (on Linux, a name starting with a dot).
bool isVisibleFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}

// Releases the image on every way out of PrintPhoto.
class LoadedImage
{
public:
    LoadedImage() = default;
    LoadedImage(const LoadedImage &) = delete;
    LoadedImage &operator=(const LoadedImage &) = delete;
    ~LoadedImage()
    {
        if (IG_image_is_valid(handle))
            IG_image_delete(handle);
    }
    void reset()
    {
        if (IG_image_is_valid(handle))
            IG_image_delete(handle);
        handle = 0;
    }
    IgHandle handle = 0;
};

// The photo PreparePhoto decoded, for the PrintPhoto that follows.
LoadedImage prepared;
QString preparedPath;

// Loads the photo at `file` into `image` and places it on the target of the current printer.
int loadPlaced(const QString &file, LoadedImage &image)
{
    if (!isVisibleFile(file))
        return IgNoFile;
    if (const int loaded = IG_load_file(file, &image.handle); loaded != IgSuccess)
        return loaded;
    int32_t w = 0;
    int32_t h = 0;
    if (const int got = IG_image_dimensions_get(image.handle, &w, &h, nullptr); got != IgSuccess)
        return got;
    const PhotoPlacement place
        = placePhoto(TargetWidthPx, TargetHeightPx, PageWidthPx, PageHeightPx, w, h);
    if (place.turnCode != 0) {
        if (const int turned = IG_IP_rotate_multiple_90(image.handle, place.turnCode))
            return turned;
    }
    IG_image_rect_set(image.handle, place.imageRect);
    IG_device_rect_set(image.handle, place.deviceRect);
    return IgSuccess;
}

bool hasPageMetrics()
{
    // Metrics of no printer at all would divide by zero.
    return TargetWidthPx > 0 && TargetHeightPx > 0 && PageWidthPx > 0 && PageHeightPx > 0;
}

} // namespace

void setPrinterPort(PrinterPort *port)
{
    currentPort = port;
}

PrinterPort *printerPort()
{
    return currentPort;
}

QString printerForEmptyKey(const PrintQueues &queues)
{
    if (!queues.answering)
        return {};
    if (!queues.systemDefault.isEmpty())
        return queues.systemDefault;
    return queues.names.isEmpty() ? PrinterPort::BuiltInPdfPrinter : queues.names.constFirst();
}

bool ResolveEmptyPrinterKeys(const PrinterPort &port)
{
    if (!ModConf::hasEmptyPrinterKey())
        return true;
    const PrintQueues queues = port.printQueues();
    const QString printer = printerForEmptyKey(queues);
    if (printer.isEmpty()) {
        qCWarning(lcPrint,
                  "A printer is not set and the print system is not answering: photos "
                  "of its paper size wait for it");
        return false;
    }
    if (queues.systemDefault.isEmpty() && !queues.names.isEmpty())
        qCWarning(lcPrint,
                  "The print system marks no queue as its default: the paper sizes without a "
                  "printer take '%s', the first queue it lists",
                  qUtf8Printable(printer));
    else
        qCInfo(lcPrint, "The paper sizes without a printer take '%s'", qUtf8Printable(printer));
    ModConf::fillEmptyPrinterKeys(printer);
    return true;
}

void SelectPrinter(const QString &printerName)
{
    if (!currentPort)
        return;
    const QStringList installed = currentPort->installedPrinters();
    const int index = findPrinterByName(installed, printerName);
    if (index >= 0) {
        currentPort->setCurrentPrinter(installed.at(index));
        unmatchedNames.remove(printerName);
    } else if (!unmatchedNames.contains(printerName)) {
        // Said once, not for every photo while the name stays unmatched (a queue deleted, the
        // scheduler down).
        unmatchedNames.insert(printerName);
        qCInfo(lcPrint, "No installed printer is named '%s'; '%s' stays current",
               qUtf8Printable(printerName), qUtf8Printable(currentPort->currentPrinter()));
    }

    const QSizeF page = currentPort->printableSize();
    const PageMetrics m = computePageMetrics(currentPort->resolution(), float(page.width()),
                                             float(page.height()), TargetWidthIn, TargetHeightIn);
    PrinterDpi = m.dpi;
    PageWidthPx = m.pageWidthPx;
    PageHeightPx = m.pageHeightPx;
    TargetWidthPx = m.targetWidthPx;
    TargetHeightPx = m.targetHeightPx;
}

bool OpenPrintDocument(const QString &title)
{
    if (!currentPort) {
        qCWarning(lcPrint, "No printer port: cannot open a print document");
        return false;
    }
    documentIncomplete = false;
    // The port logs why it cannot; one line per failed photo keeps a long outage readable.
    if (currentPort->beginDocument(title))
        return true;
    prepared.reset(); // no document to draw it on
    preparedPath.clear();
    return false;
}

PhotoFault PreparePhoto(const QString &path, int *ppi)
{
    prepared.reset();
    preparedPath.clear();
    const QString file = trimBlanks(path);
    if (file.isEmpty())
        return PhotoFault::Missing;
    // Without a printer nothing can be drawn, and nothing is said about the photo.
    if (!currentPort || !hasPageMetrics())
        return PhotoFault::None;
    LoadedImage image;
    int result = loadPlaced(file, image);
    if (result == IgSuccess) {
        if (ppi)
            *ppi = PrintResolution::effectivePpi(imageStoredSize(image.handle),
                                                 QSizeF(TargetWidthIn, TargetHeightIn));
        // A painter on a printer draws at one device pixel per pixel.
        result = prepareImageDrawing(image.handle, 1.0);
    }
    if (result != IgSuccess)
        return photoFaultOf(result);
    std::swap(prepared.handle, image.handle);
    preparedPath = file;
    return PhotoFault::None;
}

void PrintPhoto(const QString &path, int16_t copies)
{
    const QString file = trimBlanks(path);
    LoadedImage image;
    if (!file.isEmpty() && file == preparedPath)
        std::swap(image.handle, prepared.handle);
    preparedPath.clear();
    if (file.isEmpty() || !currentPort || copies < 1 || !hasPageMetrics())
        return;
    if (!IG_image_is_valid(image.handle) && loadPlaced(file, image) != IgSuccess)
        return;

    // The image keeps its decoded rendering, so copies after the first draw without decoding.
    for (int16_t left = copies; left > 0; --left) {
        IG_display_desktop_pattern_set(image.handle, 0, 0, 0, 0);
        IG_print_image(image.handle, currentPort->painter(), -1);
        if (left > 1 && !currentPort->newPage()) {
            documentIncomplete = true;
            qCWarning(lcPrint, "Cannot start page %d of '%s'", copies - left + 2,
                      qUtf8Printable(file));
            return;
        }
    }
}

void AbandonPrintDocument()
{
    if (currentPort)
        currentPort->abandonDocument();
    documentIncomplete = false;
}

Handover EndPrintDocument()
{
    if (!currentPort)
        return {};
    // The port logs a refusal, PrintPhoto a missing page. A port does not hand over a document
    // whose page failed, so an incomplete one is refused here whatever the port says.
    Handover handover = currentPort->endDocument();
    if (documentIncomplete)
        handover = {};
    documentIncomplete = false;
    return handover;
}

} // namespace ModPrint
