#include "ModIni.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using ModIni::ReadIni;
using ModIni::WriteIni;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QString fixture(const char *name)
{
    return qEnvironmentVariable("ZELVO_TEST_DATA") + QStringLiteral("/app/") + QLatin1String(name);
}

} // namespace

class TestModIni : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("zelvo.ini")); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void init()
    {
        QVERIFY(dir.isValid());
        QFile::remove(ini());
    }

    void readsFileWrittenOnWindows_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("case and blanks") << "General"
                                         << "SYSTEM_FOLDER"
                                         << "D:\\Fotos\\Produção";
        QTest::newRow("boolean word") << "GENERAL"
                                      << "print_all"
                                      << "true";
        QTest::newRow("upper-case key") << "Printers"
                                        << "10x15"
                                        << "Kodak 6800";
        QTest::newRow("quotes keep inner blanks") << "Printers"
                                                  << "13x18"
                                                  << "  DNP DS620  ";
        QTest::newRow("no blanks") << "Printers"
                                   << "15x23H"
                                   << "600";
        QTest::newRow("later section") << "extra"
                                       << "KEPT"
                                       << "yes";
        QTest::newRow("missing key") << "Printers"
                                     << "20x30"
                                     << "";
        QTest::newRow("missing section") << "Nothing"
                                         << "10x15"
                                         << "";
        QTest::newRow("comment is no key") << "General"
                                           << "; Zelvo settings, saved by the Windows station"
                                           << "";
    }
    void readsFileWrittenOnWindows()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(ReadIni(section, key, fixture("zelvo-windows.ini")), value);
    }

    void saveKeepsEveryOtherLineByteForByte()
    {
        const QByteArray original = readBytes(fixture("zelvo-windows.ini"));
        writeBytes(ini(), original);
        QVERIFY(WriteIni(QStringLiteral("General"), QStringLiteral("SYSTEM_FOLDER"),
                         QStringLiteral("E:\\Lab"), ini()));
        QVERIFY(WriteIni(QStringLiteral("Printers"), QStringLiteral("10x15W"), 620.5f, ini()));
        QVERIFY(
            WriteIni(QStringLiteral("Extra"), QStringLiteral("Added"), QStringLiteral("1"), ini()));

        QByteArray expected = original;
        expected.replace("system_folder =  D:\\Fotos\\Produ\xe7\xe3o  ", "SYSTEM_FOLDER=E:\\Lab");
        expected.replace("10x15w = 613", "10x15W=620.5");
        expected.append("Added=1\r\n");
        QCOMPARE(readBytes(ini()), expected);
    }

    void newFileHasGeneralThenPrinters()
    {
        WriteIni(QStringLiteral("General"), QStringLiteral("SYSTEM_FOLDER"),
                 QStringLiteral("/srv/fotos "), ini());
        WriteIni(QStringLiteral("General"), QStringLiteral("PRINT_ALL"), true, ini());
        WriteIni(QStringLiteral("Printers"), QStringLiteral("10x15"), QStringLiteral("Mitsubishi"),
                 ini());
        WriteIni(QStringLiteral("Printers"), QStringLiteral("13x18W"), 700.0f, ini());
        WriteIni(QStringLiteral("General"), QStringLiteral("PRINT_ALL"), false, ini());
        QCOMPARE(readBytes(ini()),
                 QByteArray("[General]\n"
                            "SYSTEM_FOLDER=/srv/fotos \n"
                            "PRINT_ALL=False\n"
                            "[Printers]\n"
                            "10x15=Mitsubishi\n"
                            "13x18W=700\n"));
        QCOMPARE(ReadIni(QStringLiteral("general"), QStringLiteral("print_all"), ini()),
                 QStringLiteral("False"));
    }

    void newKeyGoesBeforeTheBlankLineThatEndsItsSection()
    {
        writeBytes(ini(), "[General]\nA=1\n\n[Printers]\nB=2");
        WriteIni(QStringLiteral("General"), QStringLiteral("C"), QStringLiteral("3"), ini());
        WriteIni(QStringLiteral("Printers"), QStringLiteral("D"), QStringLiteral("4"), ini());
        QCOMPARE(readBytes(ini()), QByteArray("[General]\nA=1\nC=3\n\n[Printers]\nB=2\nD=4\n"));
    }

    void firstSectionAndFirstKeyWin()
    {
        writeBytes(ini(), "[General]\nKey=one\nkey=two\n[general]\nKEY=three\n");
        QCOMPARE(ReadIni(QStringLiteral("General"), QStringLiteral("Key"), ini()),
                 QStringLiteral("one"));
        WriteIni(QStringLiteral("GENERAL"), QStringLiteral("kEy"), QStringLiteral("new"), ini());
        QCOMPARE(readBytes(ini()),
                 QByteArray("[General]\nkEy=new\nkey=two\n[general]\nKEY=three\n"));
    }

    void longValueIsCut()
    {
        const QString value(300, QLatin1Char('x'));
        WriteIni(QStringLiteral("General"), QStringLiteral("SYSTEM_FOLDER"), value, ini());
        QCOMPARE(ReadIni(QStringLiteral("General"), QStringLiteral("SYSTEM_FOLDER"), ini()),
                 value.left(254));
    }

    void damagedFilesReadWithoutHarm_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("BOM and CRLF")
            << QByteArray("\xEF\xBB\xBF[General]\r\nPRINT_ALL=True\r\n") << "True";
        QTest::newRow("NUL ends the value")
            << QByteArray("[General]\nPRINT_ALL=Tr\0ue\n", 26) << "Tr";
        QTest::newRow("truncated mid-line") << QByteArray("[General]\nPRINT_A") << "";
        QTest::newRow("unclosed section") << QByteArray("[General\nPRINT_ALL=1") << "1";
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81", 10) << "";
        QTest::newRow("8 MB line")
            << (QByteArray("[General]\nPRINT_ALL=") + QByteArray(8 << 20, 'y'))
            << QString(254, QLatin1Char('y'));
    }
    void damagedFilesReadWithoutHarm()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        writeBytes(ini(), content);
        QCOMPARE(ReadIni(QStringLiteral("General"), QStringLiteral("PRINT_ALL"), ini()), value);
    }

    void failedSaveLeavesOldFileAndNoLeftovers()
    {
        writeBytes(ini(), "[General]\nPRINT_ALL=True\n");
        // A folder where the file should be, and a folder that does not exist.
        const QString blocked = dir.filePath(QStringLiteral("blocked.ini"));
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
        QVERIFY(!WriteIni(QStringLiteral("General"), QStringLiteral("PRINT_ALL"), false, blocked));
        QVERIFY(!WriteIni(QStringLiteral("General"), QStringLiteral("PRINT_ALL"), false,
                          dir.filePath(QStringLiteral("missing/zelvo.ini"))));
        QCOMPARE(readBytes(ini()), QByteArray("[General]\nPRINT_ALL=True\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList { QStringLiteral("zelvo.ini") });
    }

    void textThatCannotStandOnOneLineIsNotSaved_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("line break in value") << "General"
                                             << "SYSTEM_FOLDER"
                                             << "/srv\n[Printers]";
        QTest::newRow("carriage return") << "General"
                                         << "SYSTEM_FOLDER"
                                         << "/srv\r";
        QTest::newRow("NUL") << "General"
                             << "SYSTEM_FOLDER" << QString(QChar(0));
        QTest::newRow("= in key") << "General"
                                  << "A=B"
                                  << "1";
        QTest::newRow("] in section") << "Gen]eral"
                                      << "A"
                                      << "1";
        QTest::newRow("comment key") << "General"
                                     << ";A"
                                     << "1";
    }
    void textThatCannotStandOnOneLineIsNotSaved()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        writeBytes(ini(), "[General]\nSYSTEM_FOLDER=/old\n");
        QVERIFY(!WriteIni(section, key, value, ini()));
        QCOMPARE(readBytes(ini()), QByteArray("[General]\nSYSTEM_FOLDER=/old\n"));
    }

    void saveKeepsTheFilesPermissions()
    {
        writeBytes(ini(), "[General]\n");
        QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner);
        WriteIni(QStringLiteral("General"), QStringLiteral("PRINT_ALL"), true, ini());
        const auto permissions = QFile::permissions(ini());
        QVERIFY(permissions & QFile::WriteOwner);
        QVERIFY(!(permissions & (QFile::ReadGroup | QFile::ReadOther)));
    }
};

QTEST_GUILESS_MAIN(TestModIni)
#include "tst_modini.moc"
