#include "PageGeometry.h"

#include <QTest>

class TestPageGeometry : public QObject
{
    Q_OBJECT

private slots:
    void pageMetrics_data()
    {
        QTest::addColumn<QSizeF>("page"); // at 300 dpi
        QTest::addColumn<QSizeF>("inches");
        QTest::addColumn<QSizeF>("target");

        // The 10x15 target on the landscape and portrait pages is checked through placement().
        QTest::newRow("fits: unchanged")
            << QSizeF(2480, 3508) << QSizeF(6.13, 4.13) << QSizeF(1239, 1839);
        QTest::newRow("square page is landscape; fits in height, left wider")
            << QSizeF(1800, 1800) << QSizeF(6.13, 4.13) << QSizeF(1839, 1239);
        QTest::newRow("relatively wider, too tall")
            << QSizeF(1800, 1200) << QSizeF(10, 5) << QSizeF(2400, 1200);
    }

    void pageMetrics()
    {
        QFETCH(QSizeF, page);
        QFETCH(QSizeF, inches);
        QFETCH(QSizeF, target);
        const PageMetrics m = computePageMetrics(300, float(page.width()), float(page.height()),
                                                 float(inches.width()), float(inches.height()));
        QVERIFY2(qAbs(m.targetWidthPx - target.width()) < 0.005
                     && qAbs(m.targetHeightPx - target.height()) < 0.005,
                 qPrintable(QStringLiteral("%1 x %2").arg(m.targetWidthPx).arg(m.targetHeightPx)));
    }

    void placement_data()
    {
        QTest::addColumn<QSizeF>("page");
        QTest::addColumn<QSizeF>("target"); // empty: the 10x15 target measured on the page
        QTest::addColumn<QSize>("photo");
        QTest::addColumn<int>("turn");
        QTest::addColumn<QList<int>>("imageRect"); // left, top, right, bottom
        QTest::addColumn<QList<int>>("deviceRect");

        const QSizeF landscape(1800, 1200), portrait(1200, 1800), measured;
        QTest::newRow("landscape photo")
            << landscape << measured << QSize(3000, 2000) << 0 << QList { 0, 0, 2999, 1999 }
            << QList { -10, -6, 1808, 1206 };
        QTest::newRow("portrait photo, code 1")
            << landscape << measured << QSize(2000, 3000) << 1 << QList { 0, 0, 2999, 1999 }
            << QList { -10, -6, 1808, 1206 };
        QTest::newRow("square photo")
            << landscape << measured << QSize(3000, 3000) << 0 << QList { 0, 0, 2999, 2999 }
            << QList { 0, -300, 1799, 1499 };
        QTest::newRow("portrait page, code 3")
            << portrait << measured << QSize(3000, 2000) << 3 << QList { 0, 0, 1999, 2999 }
            << QList { -6, -10, 1206, 1808 };
        QTest::newRow("square photo on a portrait target turns")
            << portrait << measured << QSize(2000, 2000) << 3 << QList { 0, 0, 1999, 1999 }
            << QList { -300, 0, 1499, 1799 };
        // (1800 - 1801) / 2 = -0.5 goes to 0, its even neighbour.
        QTest::newRow("same proportions, centring half to even")
            << landscape << QSizeF(1801, 1200) << QSize(1801, 1200) << 0
            << QList { 0, 0, 1800, 1199 } << QList { 0, 0, 1800, 1199 };
    }

    void placement()
    {
        QFETCH(QSizeF, page);
        QFETCH(QSizeF, target);
        QFETCH(QSize, photo);
        const PageMetrics m
            = computePageMetrics(300, float(page.width()), float(page.height()), 6.13f, 4.13f);
        const PhotoPlacement p
            = placePhoto(target.isEmpty() ? m.targetWidthPx : float(target.width()),
                         target.isEmpty() ? m.targetHeightPx : float(target.height()),
                         m.pageWidthPx, m.pageHeightPx, photo.width(), photo.height());
        QTEST(p.turnCode, "turn");
        const auto corners = [](const IgRect &r) {
            return QList { r.left, r.top, r.right, r.bottom };
        };
        QTEST(corners(p.imageRect), "imageRect");
        QTEST(corners(p.deviceRect), "deviceRect");
    }

    void printerNameMatch_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");

        QTest::newRow("letter case differs") << "PHOTO10X15" << 0;
        QTest::newRow("blanks around the installed name") << "photo13x18" << 1;
        QTest::newRow("blanks around the configured name") << " Photo10x15" << -1;
        QTest::newRow("first match wins") << "lab" << 2;
        QTest::newRow("unknown") << "Photo15x23" << -1;
    }

    void printerNameMatch()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        const QStringList installed { "Photo10x15", "  Photo13x18 ", "lab", " LAB" };
        QCOMPARE(findPrinterByName(installed, name), index);
    }
};

QTEST_APPLESS_MAIN(TestPageGeometry)
#include "tst_pagegeometry.moc"
