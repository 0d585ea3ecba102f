#include "Dispatcher.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Notes which printer each document was opened on, and how many were ended.
class DispatchPort : public RecordingPrinterPort
{
public:
    QStringList documents;
    int documentsEnded = 0;
    bool beginDocument(const QString &title) override
    {
        documents << currentPrinter();
        return RecordingPrinterPort::beginDocument(title);
    }
    bool endDocument() override
    {
        ++documentsEnded;
        return RecordingPrinterPort::endDocument();
    }
};

class TestDispatcher : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> system;
    std::unique_ptr<DispatchPort> port;
    std::unique_ptr<JobStore> store;

    QString path(const QString &relative) const { return system->filePath(relative); }

    // A job file with one line per photo (paper size, copies), and its photos unless missing.
    void addJob(const QString &name, const QList<QPair<int, int>> &photos,
                const QList<int> &missing = {}, const QList<int> &printed = {})
    {
        QByteArray text;
        for (int i = 0; i < photos.size(); ++i) {
            text += QStringLiteral("%1%2%3%4%5\r\n")
                        .arg(printed.contains(i) ? 1 : 0)
                        .arg(i + 1, 4, 10, QLatin1Char('0'))
                        .arg(photos[i].first)
                        .arg(photos[i].second, 3, 10, QLatin1Char('0'))
                        .arg(1000, 8, 10, QLatin1Char('0'))
                        .toLatin1();
            if (!missing.contains(i)) {
                const QString image = name.mid(1, name.size() - 5)
                    + QStringLiteral("_%1.jpg").arg(i + 1, 4, 10, QLatin1Char('0'));
                QVERIFY(TestPhotos::writeJpeg(path(QStringLiteral("images/") + image), 300, 200));
            }
        }
        QVERIFY(TestPhotos::writeFile(path(QStringLiteral("jobs/") + name), text));
    }

    void tick()
    {
        ScanNewJobs(*store, system->path(), false);
        PrintNextPhoto(*store, system->path());
    }

    static bool drawn(const QImage &page)
    {
        return page.pixelColor(page.rect().center()) != Qt::white;
    }

private slots:
    void init()
    {
        system = std::make_unique<QTemporaryDir>();
        QVERIFY(CreateFolderLayout(system->path()));
        port = std::make_unique<DispatchPort>();
        port->printers = { { QStringLiteral("Landscape"), 300, QSizeF(1800, 1200) },
                           { QStringLiteral("Portrait"), 300, QSizeF(1200, 1800) },
                           { QStringLiteral("Big"), 300, QSizeF(2700, 1800) } };
        port->systemDefault = QStringLiteral("Landscape");
        ModPrint::setPrinterPort(port.get());
        ModPrint::PageWidthPx = ModPrint::PageHeightPx = 0;
        ModPrint::TargetWidthPx = ModPrint::TargetHeightPx = 0;
        ModConf::SystemFolder = system->path();
        ModConf::Printer10x15 = QStringLiteral("Landscape");
        ModConf::Printer13x18 = QStringLiteral("portrait "); // blanks: no match, current stays
        ModConf::Printer15x23 = QStringLiteral("BIG");
        ModConf::Width10x15 = 613;
        ModConf::Height10x15 = 413;
        ModConf::Width13x18 = 700;
        ModConf::Height13x18 = 500;
        ModConf::Width15x23 = 900;
        ModConf::Height15x23 = 600;
        store = std::make_unique<JobStore>();
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void emptyQueuePrintsNothing()
    {
        tick();
        QVERIFY(port->documents.isEmpty());
    }

    void onePhotoPerTickOnThePrinterOfItsSize()
    {
        addJob(QStringLiteral("1AB12345.job"), { { 0, 1 }, { 2, 1 }, { 0, 1 } });
        tick(); // taken and printed from in the same tick
        QCOMPARE(store->jobCount, 1);
        tick();
        QCOMPARE(store->jobCount, 1);
        QCOMPARE(ModPrint::TargetWidthPx, 2700.f); // 9 in at 300 dpi fits the Big page
        tick();
        QCOMPARE(port->documents, (QStringList { "Landscape", "Big", "Landscape" }));
        QCOMPARE(port->documentsEnded, 3);
        QCOMPARE(store->jobCount, 0); // retired in the tick of its last photo
        QVERIFY(QFile::exists(path(QStringLiteral("backup/jobs/3AB12345.job"))));
        QVERIFY(QFile::exists(path(QStringLiteral("backup/images/AB12345_0003.jpg"))));
        QVERIFY(QDir(path(QStringLiteral("images"))).isEmpty());
    }

    void copiesArePagesOfOneDocument_data()
    {
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("missing");
        QTest::addColumn<int>("pages");
        QTest::addColumn<bool>("drawnOnFirst");
        QTest::newRow("three copies") << 3 << false << 3 << true;
        QTest::newRow("no copies: an empty page") << 0 << false << 1 << false;
        QTest::newRow("missing photo: an empty page") << 2 << true << 1 << false;
    }
    void copiesArePagesOfOneDocument()
    {
        QFETCH(int, copies);
        QFETCH(bool, missing);
        QFETCH(int, pages);
        QFETCH(bool, drawnOnFirst);
        addJob(QStringLiteral("1AB00001.job"), { { 0, copies }, { 0, 1 } },
               missing ? QList<int> { 0 } : QList<int> {});
        tick();
        QCOMPARE(port->documentsEnded, 1);
        QCOMPARE(port->pages.size(), pages);
        QCOMPARE(drawn(port->pages.first()), drawnOnFirst);
        QCOMPARE(port->newPages, pages - 1);
        // The photo counts as printed either way; the job goes on with its next photo.
        QCOMPARE(store->printJobs[0].printedCount, int16_t(1));
        QCOMPARE(store->printJobs[0].photos[0].printed, int16_t(1));
    }

    void jobWithEverythingPrintedIsRetiredWithoutPrinting()
    {
        addJob(QStringLiteral("1AB00001.job"), { { 0, 1 }, { 0, 1 } }, {}, { 0, 1 });
        tick();
        QCOMPARE(store->jobCount, 0);
        QCOMPARE(port->documentsEnded, 0);
        QVERIFY(QFile::exists(path(QStringLiteral("backup/images/AB00001_0002.jpg"))));
    }

    void unknownPaperSizeKeepsThePreviousPrinterAndTarget()
    {
        addJob(QStringLiteral("1AB00001.job"), { { 2, 1 }, { 5, 1 } });
        tick();
        const float width = ModPrint::TargetWidthPx;
        ModConf::Width15x23 = 400; // not read for the size-5 photo
        tick();
        QCOMPARE(port->documents, (QStringList { "Big", "Big" }));
        QCOMPARE(ModPrint::TargetWidthPx, width);
        QVERIFY(drawn(port->pages.first()));
        QCOMPARE(store->jobCount, 0);
    }

    void unmatchedPrinterNamePrintsOnTheCurrentOne()
    {
        addJob(QStringLiteral("1AB00001.job"), { { 2, 1 }, { 1, 1 } });
        tick();
        tick();
        QCOMPARE(port->documents, (QStringList { "Big", "Big" }));
        QCOMPARE(ModPrint::TargetWidthPx, 2100.f); // 13x18's 7 in at 300 dpi, measured again
    }

    void platformFailureLeavesThePhotoForTheNextTick_data()
    {
        QTest::addColumn<bool>("failBegin");
        QTest::newRow("document cannot be opened") << true;
        QTest::newRow("print system refuses the document") << false;
    }
    void platformFailureLeavesThePhotoForTheNextTick()
    {
        QFETCH(bool, failBegin);
        addJob(QStringLiteral("1AB00001.job"), { { 0, 1 } });
        port->failBegin = failBegin;
        port->failEnd = !failBegin;
        tick();
        tick();
        QCOMPARE(store->jobCount, 1);
        QCOMPARE(store->printJobs[0].printedCount, int16_t(0));
        QCOMPARE(store->printJobs[0].photos[0].printed, int16_t(0));
        QVERIFY(QFile::exists(path(QStringLiteral("images/AB00001_0001.jpg"))));
        QVERIFY(QFile::exists(path(QStringLiteral("jobs/2AB00001.job"))));
        port->failBegin = port->failEnd = false;
        tick(); // the platform is back: printed and retired
        QCOMPARE(store->jobCount, 0);
        QVERIFY(QFile::exists(path(QStringLiteral("backup/jobs/3AB00001.job"))));
    }

    void headOfTheQueueIsTheTopEntry()
    {
        addJob(QStringLiteral("1AB00001.job"), { { 0, 1 }, { 0, 1 } });
        addJob(QStringLiteral("1AB00002.job"), { { 2, 1 } });
        ScanNewJobs(*store, system->path(), false);
        store->LstJobs.remove(1); // the operator moves job 00002 to the top
        store->LstJobs.insert(0, QStringLiteral("job 00002"));
        RenumberQueue(*store);
        PrintNextPhoto(*store, system->path());
        QCOMPARE(port->documents, QStringList { "Big" });
        QCOMPARE(store->jobCount, 1);
        QCOMPARE(store->LstJobs.text(0), QStringLiteral("job 00001"));
    }
};

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
