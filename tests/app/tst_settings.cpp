#include "ModConf.h"
#include "ModIni.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace ModConf;

// zelvo.ini as ModIni reads and writes it, and the settings ModConf makes of it.
class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return settingsFilePath(dir.path()); }
    static QString windowsFile()
    {
        return qEnvironmentVariable("ZELVO_TEST_DATA") + "/app/zelvo-windows.ini";
    }
    static QStringList printers() { return { Printer10x15, Printer13x18, Printer15x23 }; }
    static QList<float> sizes()
    {
        return { Width10x15, Height10x15, Width13x18, Height13x18, Width15x23, Height15x23 };
    }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        QFile::remove(ini());
        resetSettings(dir.path());
    }

    // CRLF, other letter case, blanks around '=', quotes, comments and single-byte text.
    void readsAllElevenKeysOfAFileWrittenOnWindows()
    {
        ReadSettings(windowsFile());
        QCOMPARE(SystemFolder, "D:\\Fotos\\Produção");
        QVERIFY(PrintAll);
        QCOMPARE(printers(), QStringList({ "Kodak 6800", "  DNP DS620  ", "Epson SureLab" }));
        QCOMPARE(sizes(), QList<float>({ 613, 413, 700, 500, 900, 600 }));
        // Which printer each paper goes to, and the other widths: tst_dispatcher.
        QCOMPARE(paperSettings(0)->width, 613.f);
        QCOMPARE(paperSettings(1)->height, 500.f);
    }

    void unusableValuesGiveTheDefaults()
    {
        QVERIFY(
            writeFile(ini(),
                      "[General]\nSYSTEM_FOLDER=\"   \"\nPRINT_ALL=sim\nPRINT_PACE=x\n[Printers]\n"
                      "10x15=\"  \"\n10x15W=0\n10x15H=-5\n13x18W=abc\n13x18H=4x\n"
                      "15x23W=40000\n15x23H=1e30\n"));
        PrintAll = true;
        Pace = PrintPace::Printers;
        ReadSettings(ini());
        ApplySettingsDefaults(dir.path(), "Default Printer");
        QCOMPARE(SystemFolder, dir.path());
        QVERIFY(!PrintAll); // unreadable: orders awaiting payment are not printed
        QCOMPARE(Pace, PrintPace::Tick);
        QCOMPARE(printers(), QStringList(3, "Default Printer"));
        QCOMPARE(sizes(), QList<float>({ 613, 413, 700, 500, 900, 600 }));
        QCOMPARE(parseDimension("32767"), 32767.f); // the largest the configuration window takes
    }

    // The installed program writes nothing beside itself; any other keeps its files there.
    void stationFolderFollowsWhereTheProgramIs_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("station");
        QTest::newRow("installed") << "/opt/zelvo"
                                   << "/var/opt/zelvo";
        QTest::newRow("installed, trailing /") << "/opt/zelvo/"
                                               << "/var/opt/zelvo";
        QTest::newRow("source build") << "/home/ana/zelvo/build"
                                      << "/home/ana/zelvo/build";
        QTest::newRow("build under /opt") << "/opt/zelvo-src/build"
                                          << "/opt/zelvo-src/build";
    }
    void stationFolderFollowsWhereTheProgramIs()
    {
        QFETCH(QString, program);
        QFETCH(QString, station);
        QCOMPARE(stationFolderFor(program), station);
    }

    void printAllAndPaceWords()
    {
        for (const char *yes : { "TRUE", "true", " -1", "2" })
            QCOMPARE(parsePrintAll(yes), true);
        for (const char *no : { "False", "0" })
            QCOMPARE(parsePrintAll(no), false);
        QVERIFY(!parsePrintAll("sim") && !parsePrintAll(""));
        // The pace: missing, empty or 15 is the tick's; anything unknown is refused.
        for (const char *tick : { "", " 15 " })
            QCOMPARE(parsePrintPace(tick), PrintPace::Tick);
        QCOMPARE(parsePrintPace("printers"), PrintPace::Printers);
        QVERIFY(!parsePrintPace("10") && !parsePrintPace("PRINTER"));
    }

    void decimalCommaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        QCOMPARE(parseDimension("612,5"), 612.5f);
        // Group separators are read as the locale writes them.
        QCOMPARE(parseDimension("1.000"), 1000.f);
        QCOMPARE(ModIni::iniText(1000.f), "1000");
    }

    void damagedFilesRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value"); // of PRINT_ALL in General
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("BOM and CRLF")
            << QByteArray("\xEF\xBB\xBF[General]\r\nPRINT_ALL=True\r\n") << "True";
        QTest::newRow("NUL ends the value")
            << QByteArray("[General]\nPRINT_ALL=Tr\0ue\n", 26) << "Tr";
        QTest::newRow("truncated mid-line") << QByteArray("[General]\nPRINT_A") << "";
        QTest::newRow("unclosed section") << QByteArray("[General\nPRINT_ALL=1") << "1";
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81", 10) << "";
        QTest::newRow("8 MB line, cut to 254")
            << "[General]\nPRINT_ALL=" + QByteArray(8 << 20, 'y') << QString(254, 'y');
        QTest::newRow("8 MB line before the key")
            << "[General]\n" + QByteArray(8 << 20, 'z') + "\r\nPRINT_ALL=1"
            << "1";
        QTest::newRow("first section and key win")
            << QByteArray("[General]\nPrint_All=1\nPRINT_ALL=2\n[general]\nPRINT_ALL=3\n") << "1";
        QTest::newRow("opening quote without its closing one kept")
            << QByteArray("[General]\nPRINT_ALL=\"True\n") << "\"True";
        QTest::newRow("key of the next section")
            << QByteArray("[General]\nA=1\n[Printers]\nPRINT_ALL=2\n") << "";
    }
    void damagedFilesRead()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(ini(), content));
        QTEST(ModIni::ReadIni("General", "PRINT_ALL", ini()), "value");
    }

    void writeKeepsTheOtherLines_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after"); // null: refused, the file stays as it is
        const QByteArray two = "[General]\nA=1\n\n[Printers]\nB=2";
        const auto row = [](const char *tag, const QByteArray &before, const char *section,
                            const char *key, const QString &value, const QByteArray &after) {
            QTest::newRow(tag) << before << QString(section) << QString(key) << value << after;
        };
        row("first match, in the caller's case", "[General]\nKey=1\nkey=2\n[general]\nKEY=3\n",
            "GENERAL", "kEy", "new", "[General]\nkEy=new\nkey=2\n[general]\nKEY=3\n");
        row("before the blank line ending the section", two, "General", "C", "3",
            "[General]\nA=1\nC=3\n\n[Printers]\nB=2");
        row("after a last line without end", two, "Printers", "D", "4",
            "[General]\nA=1\n\n[Printers]\nB=2\nD=4\n");
        row("line break in value", two, "General", "A", "/srv\n[Printers]", {});
        row("carriage return", two, "General", "A", "/srv\r", {});
        row("NUL", two, "General", "A", QString(QChar(0)), {});
        row("= in key", two, "General", "A=B", "1", {});
        row("] in section", two, "Gen]eral", "A", "1", {});
        row("comment key", two, "General", ";A", "1", {});
    }
    void writeKeepsTheOtherLines()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QTEST(ModIni::writeIniValue(before, section, key, value).value_or(QByteArray()), "after");
    }

    void saveKeepsEveryOtherLineOfAWindowsFile()
    {
        const QByteArray original = readFile(windowsFile());
        QVERIFY(writeFile(ini(), original));
        QVERIFY(ModIni::WriteIni("General", "SYSTEM_FOLDER", QStringLiteral("E:\\Lab"), ini()));
        QVERIFY(ModIni::WriteIni("Printers", "10x15W", 620.5f, ini()));
        QVERIFY(ModIni::WriteIni("General", "PRINT_ALL", false, ini()));
        QVERIFY(ModIni::WriteIni("Extra", "Added", QStringLiteral("1"), ini()));
        QByteArray expected = original + "Added=1\r\n";
        expected.replace("system_folder =  D:\\Fotos\\Produ\xe7\xe3o  ", "SYSTEM_FOLDER=E:\\Lab");
        expected.replace("10x15w = 613", "10x15W=620.5");
        expected.replace("Print_All = true", "PRINT_ALL=False");
        QCOMPARE(readFile(ini()), expected);
    }

    void saveKeepsEveryOtherValueOfAnOddFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value"); // saved as SYSTEM_FOLDER
        QTest::addColumn<QString>("printer"); // 10x15 reads the same before and after
        // Single-byte files: a value beyond Latin-1 turns them into UTF-8.
        QTest::newRow("byte-order mark before a section")
            << QByteArray("[General]\nSYSTEM_FOLDER=D:\\Produ\xe7\xe3o\n\xEF\xBB\xBF[Printers]\n"
                          "10x15=Kodak\n")
            << QString::fromUtf8("D:\\Ελλάδα") << "Kodak";
        // The line replaced held the only bytes that are not UTF-8; what is left would read as
        // UTF-8 and change the printer's name.
        QTest::newRow("rest of a single-byte file reads as UTF-8")
            << QByteArray("[General]\nSYSTEM_FOLDER=D:\\Produ\xe7\xe3o\n[Printers]\n"
                          "10x15=S\xc3\xa3o\n")
            << "/srv" << QString::fromLatin1("S\xc3\xa3o");
    }
    void saveKeepsEveryOtherValueOfAnOddFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QString, printer);
        QCOMPARE(ModIni::readIniValue(content, "Printers", "10x15"), printer);
        const auto saved = ModIni::writeIniValue(content, "General", "SYSTEM_FOLDER", value);
        QVERIFY(saved);
        QCOMPARE(ModIni::readIniValue(*saved, "General", "SYSTEM_FOLDER"), value);
        QCOMPARE(ModIni::readIniValue(*saved, "Printers", "10x15"), printer);
    }

    void failedSaveLeavesTheOldFileAndNoLeftovers()
    {
        QVERIFY(writeFile(ini(), "[General]\nPRINT_ALL=True\n"));
        QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QVERIFY(!ModIni::WriteIni("General", "PRINT_ALL", QStringLiteral("a\nb"), ini()));
        // A folder where the file should be, and a folder that does not exist.
        QVERIFY(QDir().mkpath(dir.filePath("blocked.ini/inside")));
        QVERIFY(!ModIni::WriteIni("General", "PRINT_ALL", false, dir.filePath("blocked.ini")));
        QVERIFY(
            !ModIni::WriteIni("General", "PRINT_ALL", false, dir.filePath("missing/zelvo.ini")));
        QCOMPARE(readFile(ini()), "[General]\nPRINT_ALL=True\n");
        QCOMPARE(filesIn(dir.path()), QStringList { "zelvo.ini" });
        QVERIFY(ModIni::WriteIni("General", "PRINT_ALL", false, ini()));
        QCOMPARE(QFile::permissions(ini()) & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::ReadGroup);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
