#include "PageGeometry.h"

#include <QTest>

Q_DECLARE_METATYPE(IgRect)

class TestPageGeometry : public QObject
{
    Q_OBJECT

private slots:
    void pageMetrics_data();
    void pageMetrics();
    void placement_data();
    void placement();
    void printerNameMatch_data();
    void printerNameMatch();
};

void TestPageGeometry::pageMetrics_data()
{
    QTest::addColumn<float>("dpi");
    QTest::addColumn<float>("pageW");
    QTest::addColumn<float>("pageH");
    QTest::addColumn<float>("inW");
    QTest::addColumn<float>("inH");
    QTest::addColumn<double>("targetW");
    QTest::addColumn<double>("targetH");

    // 1839 x 1239 is brought to the page's width; the height follows the proportions.
    QTest::newRow("landscape page, 10x15")
        << 300.f << 1800.f << 1200.f << 6.13f << 4.13f << 1800.0 << 1212.72;
    QTest::newRow("portrait page, 10x15")
        << 300.f << 1200.f << 1800.f << 6.13f << 4.13f << 1212.72 << 1800.0;
    QTest::newRow("fits the page: unchanged")
        << 300.f << 2480.f << 3508.f << 6.13f << 4.13f << 1239.0 << 1839.0;
    QTest::newRow("square page counts as landscape, wider overflow left")
        << 300.f << 1800.f << 1800.f << 6.13f << 4.13f << 1839.0 << 1239.0;
    QTest::newRow("relatively wider, taller than the page")
        << 300.f << 1800.f << 1200.f << 10.f << 5.f << 2400.0 << 1200.0;
    QTest::newRow("relatively wider, fits in height")
        << 300.f << 1800.f << 1200.f << 9.f << 3.f << 2700.0 << 900.0;
    QTest::newRow("relatively taller, fits in width")
        << 300.f << 1800.f << 1200.f << 5.f << 4.f << 1500.0 << 1200.0;
    QTest::newRow("printer at 1200 dpi")
        << 1200.f << 9583.f << 13699.f << 6.13f << 4.13f << 4956.0 << 7356.0;
}

void TestPageGeometry::pageMetrics()
{
    QFETCH(float, dpi);
    QFETCH(float, pageW);
    QFETCH(float, pageH);
    QFETCH(float, inW);
    QFETCH(float, inH);
    QFETCH(double, targetW);
    QFETCH(double, targetH);

    const PageMetrics m = computePageMetrics(dpi, pageW, pageH, inW, inH);
    QCOMPARE(m.dpi, dpi);
    QCOMPARE(m.pageWidthPx, pageW);
    QCOMPARE(m.pageHeightPx, pageH);
    QVERIFY2(qAbs(m.targetWidthPx - targetW) < 0.005, qPrintable(QString::number(m.targetWidthPx)));
    QVERIFY2(qAbs(m.targetHeightPx - targetH) < 0.005,
             qPrintable(QString::number(m.targetHeightPx)));
}

void TestPageGeometry::placement_data()
{
    QTest::addColumn<float>("targetW");
    QTest::addColumn<float>("targetH");
    QTest::addColumn<float>("pageW");
    QTest::addColumn<float>("pageH");
    QTest::addColumn<int>("photoW");
    QTest::addColumn<int>("photoH");
    QTest::addColumn<int>("turn");
    QTest::addColumn<double>("grownW");
    QTest::addColumn<double>("grownH");
    QTest::addColumn<IgRect>("imageRect");
    QTest::addColumn<IgRect>("deviceRect");

    const PageMetrics landscape = computePageMetrics(300, 1800, 1200, 6.13f, 4.13f);
    const PageMetrics portrait = computePageMetrics(300, 1200, 1800, 6.13f, 4.13f);
    const float lW = landscape.targetWidthPx, lH = landscape.targetHeightPx;
    const float pW = portrait.targetWidthPx, pH = portrait.targetHeightPx;

    QTest::newRow("landscape photo")
        << lW << lH << 1800.f << 1200.f << 3000 << 2000 << 0 << 1819.09 << 1212.72
        << IgRect { 0, 0, 2999, 1999 } << IgRect { -10, -6, 1808, 1206 };
    QTest::newRow("portrait photo turned by code 1")
        << lW << lH << 1800.f << 1200.f << 2000 << 3000 << 1 << 1819.09 << 1212.72
        << IgRect { 0, 0, 2999, 1999 } << IgRect { -10, -6, 1808, 1206 };
    QTest::newRow("square photo, 300 px off top and bottom")
        << lW << lH << 1800.f << 1200.f << 3000 << 3000 << 0 << 1800.0 << 1800.0
        << IgRect { 0, 0, 2999, 2999 } << IgRect { 0, -300, 1799, 1499 };
    QTest::newRow("portrait page, landscape photo turned by code 3")
        << pW << pH << 1200.f << 1800.f << 3000 << 2000 << 3 << 1212.72 << 1819.09
        << IgRect { 0, 0, 1999, 2999 } << IgRect { -6, -10, 1206, 1808 };
    QTest::newRow("square photo on a portrait target is turned")
        << pW << pH << 1200.f << 1800.f << 2000 << 2000 << 3 << 1800.0 << 1800.0
        << IgRect { 0, 0, 1999, 1999 } << IgRect { -300, 0, 1499, 1799 };
    QTest::newRow("square target counts as landscape")
        << 1000.f << 1000.f << 1800.f << 1200.f << 2000 << 3000 << 1 << 1500.0 << 1000.0
        << IgRect { 0, 0, 2999, 1999 } << IgRect { 150, 100, 1649, 1099 };
    QTest::newRow("same proportions: target unchanged")
        << 1800.f << 1200.f << 1800.f << 1200.f << 3000 << 2000 << 0 << 1800.0 << 1200.0
        << IgRect { 0, 0, 2999, 1999 } << IgRect { 0, 0, 1799, 1199 };
    // (1800 - 1801) / 2 = -0.5 and (1800 - 1805) / 2 = -2.5 both go to the even neighbour.
    QTest::newRow("centring halves go to even (-0.5)")
        << 1801.f << 1200.f << 1800.f << 1200.f << 1801 << 1200 << 0 << 1801.0 << 1200.0
        << IgRect { 0, 0, 1800, 1199 } << IgRect { 0, 0, 1800, 1199 };
    QTest::newRow("centring halves go to even (-2.5)")
        << 1805.f << 1200.f << 1800.f << 1200.f << 1805 << 1200 << 0 << 1805.0 << 1200.0
        << IgRect { 0, 0, 1804, 1199 } << IgRect { -2, 0, 1802, 1199 };
    QTest::newRow("small target centred inside the page")
        << 1239.f << 1839.f << 2480.f << 3508.f << 3000 << 2000 << 3 << 1239.0 << 1858.5
        << IgRect { 0, 0, 1999, 2999 } << IgRect { 620, 825, 1858, 2682 };
}

void TestPageGeometry::placement()
{
    QFETCH(float, targetW);
    QFETCH(float, targetH);
    QFETCH(float, pageW);
    QFETCH(float, pageH);
    QFETCH(int, photoW);
    QFETCH(int, photoH);
    QFETCH(int, turn);
    QFETCH(double, grownW);
    QFETCH(double, grownH);
    QFETCH(IgRect, imageRect);
    QFETCH(IgRect, deviceRect);

    const PhotoPlacement p = placePhoto(targetW, targetH, pageW, pageH, photoW, photoH);
    QCOMPARE(p.turnCode, turn);
    QVERIFY2(qAbs(p.targetWidthPx - grownW) < 0.005, qPrintable(QString::number(p.targetWidthPx)));
    QVERIFY2(qAbs(p.targetHeightPx - grownH) < 0.005,
             qPrintable(QString::number(p.targetHeightPx)));
    const auto text = [](const IgRect &r) {
        return QStringLiteral("(%1,%2,%3,%4)").arg(r.left).arg(r.top).arg(r.right).arg(r.bottom);
    };
    QCOMPARE(text(p.imageRect), text(imageRect));
    QCOMPARE(text(p.deviceRect), text(deviceRect));
}

void TestPageGeometry::printerNameMatch_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");

    const QStringList queues { "Photo10x15", "  Photo13x18 ", "Zelvo PDF" };
    QTest::newRow("exact") << queues << "Photo10x15" << 0;
    QTest::newRow("letter case differs") << queues << "PHOTO10X15" << 0;
    QTest::newRow("blanks around the installed name") << queues << "photo13x18" << 1;
    QTest::newRow("blanks around the configured name") << queues << " Photo10x15" << -1;
    QTest::newRow("configured name with the installed blanks") << queues << "  Photo13x18 " << -1;
    QTest::newRow("built-in printer") << queues << "zelvo pdf" << 2;
    QTest::newRow("unknown") << queues << "Photo15x23" << -1;
    QTest::newRow("empty name") << queues << "" << -1;
    QTest::newRow("first match wins") << QStringList { "lab", " LAB" } << "lab" << 0;
    QTest::newRow("nothing installed") << QStringList() << "lab" << -1;
}

void TestPageGeometry::printerNameMatch()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, name);
    QFETCH(int, index);
    QCOMPARE(findPrinterByName(installed, name), index);
}

QTEST_APPLESS_MAIN(TestPageGeometry)
#include "tst_pagegeometry.moc"
