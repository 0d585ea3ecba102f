// zelvo.ini is never corrupted: a save on a full disk (a small tmpfs mounted by the test, which
// needs root) fails and leaves the old file and no temporary behind; a save keeps every other value
// of an odd file; and a damaged file gives the values it can and defaults for the rest (the window
// starting on a damaged file is in tests/console/tst_startup).
#include "FConf.h"
#include "HardeningSupport.h"
#include "ModConf.h"
#include "ModIni.h"
#include "StaticPrinterPort.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace Hardening;

namespace {

// A file as the configuration window saves it.
QByteArray savedSettings(const char *eol = "\n")
{
    QByteArray text = "[General]\nSYSTEM_FOLDER=/srv/zelvo\nPRINT_ALL=True\n[Printers]\n"
                      "10x15=DNP DS620\n13x18=DNP DS620\n15x23=Kodak 6800\n10x15W=600\n"
                      "10x15H=400\n13x18W=690\n13x18H=490\n15x23W=890\n15x23H=590\n";
    return text.replace("\n", eol);
}

// Fills the file system of `path` with a file there, all but `roomLeft` bytes.
bool fillDisk(const QString &path, qint64 roomLeft)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0644);
    const QByteArray page(4096, 'x');
    qint64 size = 0;
    for (ssize_t n; (n = ::write(fd, page.constData(), size_t(page.size()))) > 0;)
        size += n;
    const bool full = ::ftruncate(fd, size - roomLeft) == 0;
    ::close(fd);
    return full;
}

} // namespace

class TestSettingsDisk : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void saveOnFullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("commentBytes"); // makes the old file that much longer
        QTest::addColumn<int>("roomLeft");
        QTest::newRow("no room") << 0 << 0;
        // A page is free, the new file needs two: the write stops short.
        QTest::newRow("room for part of the file") << 5000 << 4096;
    }
    void saveOnFullDiskKeepsTheOldFile()
    {
        QFETCH(int, commentBytes);
        QFETCH(int, roomLeft);
        QTemporaryDir dir;
        const TmpfsMount disk(dir.path(), "size=64k");
        if (!disk.mounted())
            QSKIP(qPrintable("cannot mount a tmpfs (" + disk.error + "); run as root"));
        const QString ini = ModConf::settingsFilePath(dir.path());
        const QByteArray old
            = (commentBytes ? "; " + QByteArray(commentBytes, 'c') + "\n" : "") + savedSettings();
        QVERIFY(dropFile(ini, old));
        QVERIFY(fillDisk(dir.filePath("filler"), roomLeft));
        const QStringList files = filesIn(dir.path());

        // The configuration window's Save, as the operator does it.
        ModConf::AppPath = dir.path();
        ModConf::ReadSettings(ini);
        StaticPrinterPort printers({ "Kodak 6800", "DNP DS620" });
        FConf window(printers, nullptr);
        QStringList messages;
        window.showMessage = [&messages](const QString &text) { messages << text; };
        window.show();
        window.comboPrinter3->setCurrentIndex(1);
        window.txtDir->setText(dir.path());
        QTest::mouseClick(window.CmdSave, Qt::LeftButton);
        QVERIFY(messages.isEmpty()); // a refused write shows no box
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QCOMPARE(ModConf::Printer15x23, QStringLiteral("DNP DS620")); // for this run
        QCOMPARE(readFile(ini), old);
        QCOMPARE(filesIn(dir.path()), files); // no temporary file left behind
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

    void damagedFileGivesWhatItCanAndDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        // System folder ("@": the program's), PRINT_ALL, 10x15 printer, 10x15W, 13x18W, 15x23H.
        QTest::addColumn<QStringList>("settings");

        // A Windows editor's BOM and CRLF, NULs inside a value and on a line of their own, an
        // 8 MB line, and the end cut off inside the 13x18W key.
        QByteArray damaged = "\xEF\xBB\xBF" + savedSettings("\r\n");
        damaged.replace("10x15=DNP DS620", QByteArray("10x15=DNP DS620\0junk", 20))
            .replace("10x15W=600",
                     QByteArray(3, '\0') + "\r\n10x15W=6" + QByteArray(1, '\0') + "00")
            .replace("[Printers]", QByteArray(8 << 20, 'z') + "\r\n[Printers]");
        damaged.truncate(damaged.indexOf("13x18W") + 4);
        QTest::newRow("damaged every way")
            << damaged << QStringList { "/srv/zelvo", "True", "DNP DS620", "6", "700", "600" };
        QTest::newRow("nothing but NULs, as after a power cut")
            << QByteArray(4096, '\0')
            << QStringList { "@", "False", "Kodak 6800", "613", "700", "600" };
    }
    void damagedFileGivesWhatItCanAndDefaults()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, settings);
        QTemporaryDir app;
        const QString ini = ModConf::settingsFilePath(app.path());
        QVERIFY(dropFile(ini, content));
        ModConf::ReadSettings(ini);
        ModConf::ApplySettingsDefaults(app.path(), "Kodak 6800");
        settings.replaceInStrings(QRegularExpression("^@$"), app.path());
        QCOMPARE(QStringList({ ModConf::SystemFolder, ModIni::iniText(ModConf::PrintAll),
                               ModConf::Printer10x15, ModIni::iniText(ModConf::Width10x15),
                               ModIni::iniText(ModConf::Width13x18),
                               ModIni::iniText(ModConf::Height15x23) }),
                 settings);
    }
};

QTEST_MAIN(TestSettingsDisk)
#include "tst_settingsdisk.moc"
