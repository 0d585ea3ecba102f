#include "Imaging.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestPhotos;

class TestModPrint : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // What the dispatcher does for one 10x15 photo; whether the document was accepted.
    bool printDocument(const QString &printer, const QString &file, int16_t copies)
    {
        ModPrint::SelectPrinter(printer);
        if (!ModPrint::OpenPrintDocument("photo"))
            return false;
        ModPrint::PrintPhoto(file, copies);
        return ModPrint::EndPrintDocument().fate == Handover::Accepted;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<RecordingPrinterPort> m_port;

private slots:
    void initTestCase()
    {
        QVERIFY(writeJpeg(path("landscape.jpg"), 600, 400));
        QVERIFY(writeJpeg(path(".hidden.jpg"), 600, 400));
        QVERIFY(QDir(m_dir.path()).mkpath("folder.jpg"));
    }
    void init()
    {
        m_port = std::make_unique<RecordingPrinterPort>(
            QList<RecordingPrinterPort::Printer> { { "Photo10x15" } });
        ModPrint::setPrinterPort(m_port.get());
        ModPrint::TargetWidthIn = 6.13f;
        ModPrint::TargetHeightIn = 4.13f;
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void pageForEveryCopyDrawnWhenThePhotoIsThere_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("copies");
        QTest::addColumn<int>("pages");
        QTest::addColumn<bool>("drawn");

        const QString photo = path("landscape.jpg");
        QTest::newRow("three copies") << photo << 3 << 3 << true;
        // The document is opened and ended all the same, with its one page.
        QTest::newRow("no copies") << photo << 0 << 1 << false;
        QTest::newRow("trailing blanks reach the file") << photo + "   " << 1 << 1 << true;
        QTest::newRow("missing") << path("missing.jpg") << 1 << 1 << false;
        QTest::newRow("hidden") << path(".hidden.jpg") << 1 << 1 << false;
        QTest::newRow("folder") << path("folder.jpg") << 1 << 1 << false;
    }
    void pageForEveryCopyDrawnWhenThePhotoIsThere()
    {
        QFETCH(QString, file);
        QFETCH(int, copies);
        QFETCH(bool, drawn);
        const int images = liveImageCount();
        const quint64 decodes = imageDecodeCount();
        QVERIFY(printDocument("Photo10x15", file, int16_t(copies)));
        QTEST(int(m_port->pages.size()), "pages");
        for (const QImage &page : m_port->pages)
            QCOMPARE(inkBounds(page).isValid(), drawn);
        // One decode serves every copy, and the image is released afterwards.
        QCOMPARE(imageDecodeCount(), decodes + (drawn ? 1 : 0));
        QCOMPARE(liveImageCount(), images);
    }
};

QTEST_MAIN(TestModPrint)
#include "tst_modprint.moc"
