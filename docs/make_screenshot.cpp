// Takes the README's picture of the main window: a station in a temporary folder with a few
// jobs of generated photos, one photo sent ahead by print now and the second job selected, and
// in the printer strip a day's tally, three printers (one printing, one out of media, one low on
// ribbon) and the automatic reprint of a job CUPS aborted; the window grabbed from the screen.
// Run under a virtual X display:
//   xvfb-run -a -s "-screen 0 1024x768x24" build/docs/make_screenshot docs/screenshot.png
#include "FIni.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PrintLedger.h"
#include "QueueCommands.h"
#include "QueueListWidget.h"
#include "RecordingPrinterPort.h"
#include "ThumbViewer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A landscape or portrait scene: sky, sun, two rows of hills and a lake, in the hues of `seed`.
QImage makeScene(int seed, bool portrait)
{
    const QSize size = portrait ? QSize(800, 1200) : QSize(1200, 800);
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const int hue = (seed * 47) % 360;
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv((hue + 200) % 360, 120, 235));
    sky.setColorAt(0.6, QColor::fromHsv((hue + 30) % 360, 90, 250));
    p.fillRect(image.rect(), sky);
    QRadialGradient sun(size.width() * (0.25 + 0.1 * (seed % 5)), size.height() * 0.3,
                        size.width() * 0.12);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(1, QColor(255, 210, 120, 0));
    p.fillRect(image.rect(), sun);
    for (int layer = 0; layer < 2; ++layer) {
        QPainterPath hills;
        const double base = size.height() * (0.55 + 0.15 * layer);
        hills.moveTo(0, size.height());
        for (int x = 0; x <= size.width(); x += 20)
            hills.lineTo(x,
                         base - 60 * std::sin(x * 0.006 + seed + layer) - 30 * std::sin(x * 0.017));
        hills.lineTo(size.width(), size.height());
        p.fillPath(hills, QColor::fromHsv((hue + 90 + 25 * layer) % 360, 150, 150 - 45 * layer));
    }
    p.fillRect(QRectF(0, size.height() * 0.86, size.width(), size.height() * 0.14),
               QColor::fromHsv((hue + 200) % 360, 140, 170));
    return image;
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

// A taken job ("2" + prefix + number) with one line per copies count.
void writeJob(const QString &system, const QString &number, const QList<int> &copies,
              int firstScene)
{
    QByteArray lines;
    for (int i = 0; i < copies.size(); ++i) {
        const QString photo = QString::number(i + 1).rightJustified(4, QLatin1Char('0'));
        lines += "0" + photo.toLatin1() + "0" + QByteArray::number(copies[i]).rightJustified(3, '0')
            + "00001250\r\n";
        makeScene(firstScene + i, i % 4 == 2)
            .save(system + QStringLiteral("/images/PH") + number + QLatin1Char('_') + photo
                      + QStringLiteral(".jpg"),
                  "jpeg", 88);
    }
    writeText(system + QStringLiteral("/jobs/2PH") + number + QStringLiteral(".job"), lines);
}

// The shop's three printers as CUPS would report them.
void describePrinters(RecordingPrinterPort &printers)
{
    PrinterSnapshot &cups = printers.snap;
    cups.queues = { "DNP_DS620", "Kodak_6800", "Mitsubishi_D90" };
    QueueStatus dnp;
    dnp.state = 4;
    dnp.queuedJobs = 2;
    dnp.markers = { { "Ribbon 6x4", "ribbon-wax", 62, 10 } };
    QueueStatus kodak;
    kodak.state = 5;
    kodak.reasons = { "media-empty-error", "paused" };
    kodak.queuedJobs = 1;
    kodak.markers = { { "Ribbon 5x7", "ribbon-wax", 0, 10 } };
    QueueStatus mitsubishi;
    mitsubishi.reasons = { "marker-supply-low-warning" };
    mitsubishi.markers = { { "Ribbon 6x9", "ribbon-wax", 8, 10 } };
    cups.status
        = { { "DNP_DS620", dnp }, { "Kodak_6800", kodak }, { "Mitsubishi_D90", mitsubishi } };
}

// Today's ledger so far: `count` one-copy prints of each size.
void writeLedger(const QString &folder, const QList<int> &counts)
{
    PrintLedger ledger(folder);
    const char *const sizes[] = { "10x15", "13x18", "15x23" };
    for (int size = 0; size < 3; ++size) {
        for (int i = 0; i < counts[size]; ++i)
            ledger.add(QDate::currentDate(),
                       { QTime(9, 0).addSecs(60 * i), "PH1000", "PH1000_0001.jpg", sizes[size], 1,
                         "", 0, PrintLedger::Completed });
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out
        = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");

    QTemporaryDir folder;
    const QString system = folder.path();
    QDir().mkpath(system + QStringLiteral("/jobs"));
    QDir().mkpath(system + QStringLiteral("/images"));
    writeText(ModConf::settingsFilePath(system),
              "[General]\nPRINT_ALL=True\n[Printers]\n10x15=DNP_DS620\n13x18=Kodak_6800\n"
              "15x23=Mitsubishi_D90\n");
    writeJob(system, QStringLiteral("10231"), { 1, 2 }, 3);
    writeJob(system, QStringLiteral("10232"), { 1, 2, 1, 3, 1, 1, 12, 2 }, 10);
    writeJob(system, QStringLiteral("10233"), { 1, 1, 1 }, 20);
    writeJob(system, QStringLiteral("10235"), { 4 }, 30);

    RecordingPrinterPort printers(
        { { "DNP_DS620" }, { "Kodak_6800" }, { "Mitsubishi_D90" }, { "Zelvo PDF" } });
    describePrinters(printers);
    ModPrint::setPrinterPort(&printers);
    writeLedger(system, { 46, 12, 5 });
    FIni window(printers, system);
    window.load();
    window.Timer1.stop(); // the one tick below is run by hand
    // The fourth job's photo sent ahead as "Urgente 1", then the second job shown.
    window.store.LstJobs.select(3);
    PrintNow(window.store, 0);
    window.store.LstJobs.select(2);
    // "Urgente 1" goes to CUPS as job 501, which CUPS aborts: it comes back as a reprint.
    printers.answerLater = true;
    window.onTimer1Tick();
    printers.answer(501);
    printers.publish(501, JobAborted);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    // The photos decode off the interface thread; the picture shows them all.
    if (!QTest::qWaitFor([&] { return !window.FraView->decoding(); }, 30000))
        return 1;
    QTest::qWait(300);
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    if (shot.isNull() || !shot.save(out))
        return 1;
    std::printf("%s: %d x %d\n", qPrintable(out), shot.width(), shot.height());
    return 0;
}
