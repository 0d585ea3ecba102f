// Run: build/bench/bench_printphoto [--benchmark_repetitions=N]
// Time comes from Google Benchmark in this process; CPU time is the whole process's, as Qt
// spreads some image work over threads. Peak memory comes from a fresh child
// process per case (this program with --measure=CASE), which reports its RSS high-water mark
// (VmHWM in /proc/self/status) before and after printing one photo; the document size is the
// size of the PDF that one print wrote. VmHWM belongs to the process image, unlike
// getrusage's ru_maxrss, which Linux carries over from the forking parent across exec.

#include "BenchSupport.h"
#include "Imaging.h"
#include "ModPrint.h"
#include "PageGeometry.h"
#include "PrinterPort.h"
#include "TestProfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTransform>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

// A 10x15 photo page: 6 x 4 inches at 300 dpi, no margins, 1800 x 1200 device pixels.
constexpr int Dpi = 300;
const QPageLayout PhotoPage(QPageSize(QSizeF(4, 6), QPageSize::Inch), QPageLayout::Landscape,
                            QMarginsF(0, 0, 0, 0));

// One printer that writes its document to a PDF file.
class PdfFilePort : public PrinterPort
{
public:
    explicit PdfFilePort(QString file)
        : m_file(std::move(file))
    { }
    PrintQueues printQueues() const override { return { true, { QStringLiteral("bench") }, {} }; }
    QStringList installedPrinters() const override { return { QStringLiteral("bench") }; }
    QString defaultPrinter() const override { return QStringLiteral("bench"); }
    QString currentPrinter() const override { return QStringLiteral("bench"); }
    void setCurrentPrinter(const QString &) override { }
    float resolution() override { return Dpi; }
    QSizeF printableSize() override { return PhotoPage.paintRectPixels(Dpi).size(); }
    bool beginDocument(const QString &) override
    {
        m_writer = std::make_unique<QPdfWriter>(m_file);
        m_writer->setResolution(Dpi);
        m_writer->setPageLayout(PhotoPage);
        return m_painter.begin(m_writer.get());
    }
    QPainter *painter() override { return m_painter.isActive() ? &m_painter : nullptr; }
    bool newPage() override { return m_writer->newPage(); }
    Handover endDocument() override
    {
        const bool ok = m_painter.end();
        m_writer.reset();
        Handover handover;
        handover.fate = ok ? Handover::Accepted : Handover::Refused;
        return handover;
    }
    void abandonDocument() override
    {
        m_painter.end();
        m_writer.reset();
    }
    PrinterSnapshot snapshot() const override { return {}; }

private:
    QString m_file;
    std::unique_ptr<QPdfWriter> m_writer;
    QPainter m_painter;
};

// A portrait 24 MP photo with gradients, texture and sensor-like noise, so that it
// compresses like a camera JPEG rather than a flat test card.
QString makePhoto(const QString &folder)
{
    const QString path = folder + QStringLiteral("/photo24mp.jpg");
    QImage image(4000, 6000, QImage::Format_RGB32);
    QRandomGenerator random(20240611);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double t = std::sin(x * 0.013) * std::cos(y * 0.007);
            const int noise = int(random.bounded(24)) - 12;
            const int r = qBound(0, int(120 + 80 * t + x * 0.02) + noise, 255);
            const int g = qBound(0, int(100 + 60 * std::sin(y * 0.004)) + noise, 255);
            const int b = qBound(0, int(90 + 70 * std::cos((x + y) * 0.003)) + noise, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(92);
    writer.write(image);
    return path;
}

// The photo again, with a Display P3 profile embedded as phones write it, so that printing
// converts its colours.
QString withDisplayP3(const QString &photo)
{
    QFile in(photo);
    in.open(QIODevice::ReadOnly);
    const QByteArray jpeg
        = TestProfiles::withProfile(in.readAll(), TestProfiles::displayP3Profile());
    const QString path = QString(photo).replace(QStringLiteral(".jpg"), QStringLiteral("-p3.jpg"));
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(jpeg);
    return path;
}

void setUpTarget(PdfFilePort &port)
{
    ModPrint::setPrinterPort(&port);
    ModPrint::TargetWidthIn = 6.13f;
    ModPrint::TargetHeightIn = 4.13f;
    ModPrint::SelectPrinter(QStringLiteral("bench"));
}

// The photo decoded for the device rectangle, through the imaging layer.
void printAtDeviceSize(const QString &photo, const QString &pdf)
{
    PdfFilePort port(pdf);
    setUpTarget(port);
    ModPrint::OpenPrintDocument(QStringLiteral("bench"));
    ModPrint::PrintPhoto(photo, 1);
    ModPrint::EndPrintDocument();
    ModPrint::setPrinterPort(nullptr);
}

// The same photo decoded, turned and drawn at full size, with the same geometry.
void printAtFullSize(const QString &photo, const QString &pdf)
{
    PdfFilePort port(pdf);
    setUpTarget(port);
    QImageReader::setAllocationLimit(1024);
    QImageReader reader(photo);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    const PhotoPlacement place
        = placePhoto(ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, ModPrint::PageWidthPx,
                     ModPrint::PageHeightPx, image.width(), image.height());
    if (place.turnCode != 0)
        image = image.transformed(QTransform().rotate(place.turnCode == 1 ? 90 : 270));
    port.beginDocument(QStringLiteral("bench"));
    const IgRect &i = place.imageRect;
    const IgRect &d = place.deviceRect;
    port.painter()->drawImage(QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom)), image,
                              QRect(QPoint(i.left, i.top), QPoint(i.right, i.bottom)));
    port.endDocument();
    ModPrint::setPrinterPort(nullptr);
}

using PrintFunction = void (*)(const QString &, const QString &);

PrintFunction printFunction(const QString &name)
{
    return name == QLatin1String("full") ? printAtFullSize : printAtDeviceSize;
}

// Child process: print once and report "baselineKb peakKb".
int measureOnce(const QString &which, const QString &photo, const QString &pdf)
{
    const long baseline = peakRssKb();
    printFunction(which)(photo, pdf);
    std::printf("%ld %ld\n", baseline, peakRssKb());
    return 0;
}

struct Measured
{
    double baselineMb = 0;
    double peakMb = 0;
    double documentMb = 0;
};

Measured measureInChild(const QString &which, const QString &photo, const QString &folder)
{
    const QString pdf = folder + QStringLiteral("/measure-") + which + QStringLiteral(".pdf");
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--measure=") + which, photo, pdf });
    child.waitForFinished(120000);
    const QStringList fields
        = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char(' '));
    Measured m;
    if (fields.size() == 2) {
        m.baselineMb = fields[0].toDouble() / 1024;
        m.peakMb = fields[1].toDouble() / 1024;
    }
    m.documentMb = QFileInfo(pdf).size() / (1024.0 * 1024.0);
    return m;
}

QTemporaryDir *workFolder = nullptr;
QString photoPath;
QString profiledPhotoPath;

void benchPrint(benchmark::State &state, const char *which, bool profiled = false)
{
    const QString name = QLatin1String(which);
    const QString &photo = profiled ? profiledPhotoPath : photoPath;
    const QString pdf
        = workFolder->filePath(QStringLiteral("bench-") + name + QStringLiteral(".pdf"));
    for (auto _ : state)
        printFunction(name)(photo, pdf);
    const Measured m = measureInChild(name, photo, workFolder->path());
    state.counters["peak_rss_MB"] = m.peakMb;
    state.counters["rss_before_MB"] = m.baselineMb;
    state.counters["document_MB"] = m.documentMb;
}

} // namespace

BENCHMARK_CAPTURE(benchPrint, full_size_decode, "full")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->MinTime(2);
BENCHMARK_CAPTURE(benchPrint, device_size_decode, "device")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->MinTime(2);
BENCHMARK_CAPTURE(benchPrint, device_size_decode_display_p3, "device", true)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->MinTime(2);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 4 && std::strncmp(argv[1], "--measure=", 10) == 0)
        return measureOnce(QString::fromLocal8Bit(argv[1] + 10), QString::fromLocal8Bit(argv[2]),
                           QString::fromLocal8Bit(argv[3]));

    QTemporaryDir folder;
    workFolder = &folder;
    photoPath = makePhoto(folder.path());
    profiledPhotoPath = withDisplayP3(photoPath);
    const QSize page = PhotoPage.paintRectPixels(Dpi).size();
    std::printf("photo: 4000 x 6000, %.1f MB JPEG; page: %d x %d px at %d dpi\n",
                QFileInfo(photoPath).size() / (1024.0 * 1024.0), page.width(), page.height(), Dpi);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
