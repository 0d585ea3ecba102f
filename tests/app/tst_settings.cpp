#include "ModConf.h"
#include "ModIni.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ModConf;

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString appPath() const { return dir.path(); }

    void load(const QByteArray &content)
    {
        const QString ini = settingsFilePath(appPath());
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        ReadSettings(ini);
        ApplySettingsDefaults(appPath(), QStringLiteral("Default Printer"));
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void readAndDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("folder"); // "@" stands for the program's folder
        QTest::addColumn<bool>("printAll");
        QTest::addColumn<QString>("printer10x15");
        QTest::addColumn<float>("width10x15");
        QTest::addColumn<float>("height10x15");
        QTest::addColumn<float>("width13x18");

        const QByteArray printers = "[Printers]\n10x15=Kodak\n10x15W=600\n10x15H=400\n13x18W=650\n";
        QTest::newRow("complete") << ("[General]\nSYSTEM_FOLDER=/srv/fotos\nPRINT_ALL=True\n"
                                      + printers)
                                  << "/srv/fotos" << true << "Kodak" << 600.f << 400.f << 650.f;
        QTest::newRow("zero and negative sizes")
            << QByteArray("[Printers]\n10x15W=0\n10x15H=-5\n") << "@" << false << "Default Printer"
            << 613.f << 413.f << 700.f;
        QTest::newRow("size that is no number")
            << QByteArray("[Printers]\n10x15W=abc\n10x15H=4x\n") << "@" << false
            << "Default Printer" << 613.f << 413.f << 700.f;
        QTest::newRow("size beyond 16 bits")
            << QByteArray("[Printers]\n10x15W=40000\n10x15H=1e30\n") << "@" << false
            << "Default Printer" << 613.f << 413.f << 700.f;
        QTest::newRow("fractional size") << QByteArray("[Printers]\n10x15W=612.5\n") << "@" << false
                                         << "Default Printer" << 612.5f << 413.f << 700.f;
        QTest::newRow("blank folder and printer")
            << QByteArray("[General]\nSYSTEM_FOLDER=\"   \"\n[Printers]\n10x15=\"  \"\n") << "@"
            << false << "Default Printer" << 613.f << 413.f << 700.f;
        QTest::newRow("quoted blanks around a name are kept")
            << QByteArray("[General]\nSYSTEM_FOLDER=\" /srv/x \"\n[Printers]\n10x15=\" Kodak\"\n")
            << " /srv/x " << false << " Kodak" << 613.f << 413.f << 700.f;
        QTest::newRow("no printers section")
            << QByteArray("[General]\nPRINT_ALL=false\n") << "@" << false << "Default Printer"
            << 613.f << 413.f << 700.f;
        QTest::newRow("PRINT_ALL upper case")
            << QByteArray("[General]\nPRINT_ALL=TRUE\n") << "@" << true << "Default Printer"
            << 613.f << 413.f << 700.f;
        QTest::newRow("PRINT_ALL number") << QByteArray("[General]\nPRINT_ALL=-1\n") << "@" << true
                                          << "Default Printer" << 613.f << 413.f << 700.f;
        QTest::newRow("PRINT_ALL zero") << QByteArray("[General]\nPRINT_ALL=0\n") << "@" << false
                                        << "Default Printer" << 613.f << 413.f << 700.f;
        QTest::newRow("PRINT_ALL unreadable")
            << QByteArray("[General]\nPRINT_ALL=sim\n") << "@" << false << "Default Printer"
            << 613.f << 413.f << 700.f;
        QTest::newRow("garbage file") << QByteArray("\x89PNG\r\n\x1a\n\x00\x00garbage", 17) << "@"
                                      << false << "Default Printer" << 613.f << 413.f << 700.f;
    }
    void readAndDefaults()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, folder);
        QFETCH(bool, printAll);
        QFETCH(QString, printer10x15);
        QFETCH(float, width10x15);
        QFETCH(float, height10x15);
        QFETCH(float, width13x18);
        load(content);
        QCOMPARE(SystemFolder, folder == QLatin1String("@") ? appPath() : folder);
        QCOMPARE(PrintAll, printAll);
        QCOMPARE(Printer10x15, printer10x15);
        QCOMPARE(Printer15x23, QStringLiteral("Default Printer"));
        QCOMPARE(Width10x15, width10x15);
        QCOMPARE(Height10x15, height10x15);
        QCOMPARE(Width13x18, width13x18);
        QCOMPARE(Height13x18, 500.f);
        QCOMPARE(Width15x23, 900.f);
        QCOMPARE(Height15x23, 600.f);
    }

    void longFolderIsCutTo254()
    {
        load("[General]\nSYSTEM_FOLDER=/" + QByteArray(299, 'a') + "\n");
        QCOMPARE(SystemFolder.size(), 254);
    }

    void decimalCommaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        load("[Printers]\n10x15W=612,5\n10x15H=1.000\n");
        QCOMPARE(Width10x15, 612.5f);
        QCOMPARE(Height10x15, 1000.f); // group separators read as the locale writes them
        const QString ini = settingsFilePath(appPath());
        ModIni::WriteIni(QStringLiteral("Printers"), QStringLiteral("13x18W"), 6.13f, ini);
        ModIni::WriteIni(QStringLiteral("Printers"), QStringLiteral("13x18H"), 1000.f, ini);
        QCOMPARE(ModIni::ReadIni(QStringLiteral("Printers"), QStringLiteral("13x18W"), ini),
                 QStringLiteral("6,13"));
        QCOMPARE(ModIni::ReadIni(QStringLiteral("Printers"), QStringLiteral("13x18H"), ini),
                 QStringLiteral("1000"));
        QLocale::setDefault(QLocale::c());
    }

    void paperCodesRouteToTheirSettings()
    {
        load("[Printers]\n10x15=A\n13x18=B\n15x23=C\n");
        QCOMPARE(paperSettings(0)->printer, QStringLiteral("A"));
        QCOMPARE(paperSettings(1)->width, 700.f);
        QCOMPARE(paperSettings(2)->printer, QStringLiteral("C"));
        QVERIFY(!paperSettings(3));
        QVERIFY(!paperSettings(-1));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
