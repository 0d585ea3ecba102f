// zelvo.ini is never corrupted: a save on a full disk (a small tmpfs mounted by the test, which
// needs root) fails and leaves the old file and no temporary behind, through ModIni and through
// the configuration window's Save; and the station starts on a damaged file, with the values it
// can read and defaults for the rest, writing nothing and showing nothing.
#include "FConf.h"
#include "FIni.h"
#include "ModConf.h"
#include "ModIni.h"
#include "StaticPrinterPort.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush();
}

void resetSettings(const QString &appPath)
{
    ModConf::AppPath = appPath;
    ModConf::SystemFolder.clear();
    ModConf::PrintAll = false;
    ModConf::Printer10x15 = ModConf::Printer13x18 = ModConf::Printer15x23 = QString();
    ModConf::Width10x15 = ModConf::Height10x15 = ModConf::Width13x18 = 0;
    ModConf::Height13x18 = ModConf::Width15x23 = ModConf::Height15x23 = 0;
}

// A file as the configuration window saves it, with `folder` as the system folder.
QByteArray savedSettings(const QString &folder, const char *eol = "\n")
{
    QByteArray text = "[General]\nSYSTEM_FOLDER=" + folder.toUtf8()
        + "\nPRINT_ALL=True\n[Printers]\n10x15=DNP DS620\n13x18=DNP DS620\n15x23=Kodak 6800\n"
          "10x15W=600\n10x15H=400\n13x18W=690\n13x18H=490\n15x23W=890\n15x23H=590\n";
    return text.replace("\n", eol);
}

} // namespace

class TestSettingsDisk : public QObject
{
    Q_OBJECT

private:
    StaticPrinterPort printers { { QStringLiteral("Kodak 6800"), QStringLiteral("DNP DS620") } };
    std::unique_ptr<QTemporaryDir> mountPoint;
    bool mounted = false;

    QString ini() const { return ModConf::settingsFilePath(mountPoint->path()); }

    // A 64 kB tmpfs holding the settings file and a filler that takes all the room left, less
    // `roomLeft` bytes.
    bool mountFullDisk(const QByteArray &settings, qint64 roomLeft)
    {
        mountPoint = std::make_unique<QTemporaryDir>();
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                      QStringLiteral("size=64k"), QStringLiteral("tmpfs"), mountPoint->path() });
        mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit
            && mount.exitCode() == 0;
        if (!mounted)
            return false;
        if (!writeBytes(ini(), settings))
            return false;
        const QByteArray filler = QFile::encodeName(mountPoint->filePath(QStringLiteral("filler")));
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT, 0644);
        const QByteArray page(4096, 'x');
        qint64 size = 0;
        for (ssize_t n; (n = ::write(fd, page.constData(), size_t(page.size()))) > 0;)
            size += n;
        const bool full = ::ftruncate(fd, size - roomLeft) == 0;
        ::close(fd);
        return full;
    }

    QStringList filesOnDisk() const
    {
        return QDir(mountPoint->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void cleanup()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"),
                              { QStringLiteral("-l"), mountPoint->path() });
        mounted = false;
        mountPoint.reset();
    }

    void saveOnFullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("throughTheWindow");
        QTest::addColumn<int>("commentBytes"); // makes the old file that much longer
        QTest::addColumn<int>("roomLeft");
        QTest::newRow("WriteIni, no room") << false << 0 << 0;
        // A page is free, the new file needs two: the write stops short.
        QTest::newRow("WriteIni, room for part of the file") << false << 5000 << 4096;
        QTest::newRow("Save button, no room") << true << 0 << 0;
    }
    void saveOnFullDiskKeepsTheOldFile()
    {
        QFETCH(bool, throughTheWindow);
        QFETCH(int, commentBytes);
        QFETCH(int, roomLeft);
        const QByteArray old = (commentBytes ? "; " + QByteArray(commentBytes, 'c') + "\n" : "")
            + savedSettings(QStringLiteral("/srv/zelvo"));
        if (!mountFullDisk(old, roomLeft))
            QSKIP(mounted ? "the small tmpfs could not be filled"
                          : "mounting a tmpfs is not permitted here (needs root)");
        const QStringList files = filesOnDisk();

        if (!throughTheWindow) {
            QVERIFY(!ModIni::WriteIni(QStringLiteral("General"), QStringLiteral("SYSTEM_FOLDER"),
                                      QStringLiteral("/srv/zelvo/new"), ini()));
        } else {
            resetSettings(mountPoint->path());
            FConf window(printers, nullptr);
            QStringList messages;
            window.showMessage = [&messages](const QString &text) { messages << text; };
            window.show();
            window.comboPrinter1->setCurrentIndex(0);
            window.comboPrinter2->setCurrentIndex(0);
            window.comboPrinter3->setCurrentIndex(1);
            window.txtDir->setText(mountPoint->path());
            QTest::mouseClick(window.CmdSave, Qt::LeftButton);
            QVERIFY(messages.isEmpty()); // a refused write shows no box
            QCOMPARE(window.result(), int(QDialog::Accepted));
            // The settings hold for this run all the same.
            QCOMPARE(ModConf::SystemFolder, mountPoint->path());
            QCOMPARE(ModConf::Printer15x23, QStringLiteral("DNP DS620"));
        }
        QCOMPARE(readBytes(ini()), old);
        QCOMPARE(filesOnDisk(), files); // no temporary file left behind
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
        const QString general = QStringLiteral("General"), printers = QStringLiteral("Printers");
        const QString folder = QStringLiteral("SYSTEM_FOLDER"), key = QStringLiteral("10x15");
        QCOMPARE(ModIni::readIniValue(content, printers, key), printer);
        const auto saved = ModIni::writeIniValue(content, general, folder, value);
        QVERIFY(saved);
        QCOMPARE(ModIni::readIniValue(*saved, general, folder), value);
        QCOMPARE(ModIni::readIniValue(*saved, printers, key), printer);
    }

    void damagedFileStartsTheStation_data()
    {
        QTest::addColumn<QByteArray>("content"); // "@" stands for the system folder
        QTest::addColumn<bool>("folderRead"); // false: the program's folder
        QTest::addColumn<QString>("printer10x15");
        QTest::addColumn<float>("width10x15");
        QTest::addColumn<float>("width13x18");
        QTest::addColumn<float>("height15x23");
        QTest::addColumn<bool>("printAll");

        const QByteArray saved = savedSettings(QStringLiteral("@"));
        QTest::newRow("BOM and CRLF, as a Windows editor leaves it")
            << "\xEF\xBB\xBF" + savedSettings(QStringLiteral("@"), "\r\n") << true << "DNP DS620"
            << 600.f << 690.f << 590.f << true;
        QTest::newRow("cut off inside the 13x18W key")
            << saved.left(saved.indexOf("13x18W") + 4) << true << "DNP DS620" << 600.f << 700.f
            << 600.f << true;
        QTest::newRow("NULs inside values and lines")
            << QByteArray(saved)
                   .replace("10x15=DNP DS620", QByteArray("10x15=DNP DS620\0junk", 20))
                   .replace("10x15W=600",
                            QByteArray(3, '\0') + "\n10x15W=6" + QByteArray(1, '\0') + "00")
            << true << "DNP DS620" << 6.f << 690.f << 590.f << true;
        QTest::newRow("nothing but NULs, as after a power cut")
            << QByteArray(saved.size(), '\0') << false << "Kodak 6800" << 613.f << 700.f << 600.f
            << false;
        QTest::newRow("an 8 MB line in the middle")
            << QByteArray(saved).replace("[Printers]", QByteArray(8 << 20, 'z') + "\n[Printers]")
            << true << "DNP DS620" << 600.f << 690.f << 590.f << true;
        QByteArray garbage(64 * 1024, '\0');
        QRandomGenerator(6).fillRange(reinterpret_cast<quint32 *>(garbage.data()),
                                      garbage.size() / 4);
        QTest::newRow("64 kB of random bytes")
            << garbage << false << "Kodak 6800" << 613.f << 700.f << 600.f << false;
    }
    void damagedFileStartsTheStation()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, folderRead);
        QFETCH(QString, printer10x15);
        QFETCH(float, width10x15);
        QFETCH(float, width13x18);
        QFETCH(float, height15x23);
        QFETCH(bool, printAll);
        QTemporaryDir app, system;
        content.replace("@", system.path().toUtf8());
        QVERIFY(writeBytes(ModConf::settingsFilePath(app.path()), content));
        resetSettings(app.path());

        // Any window that comes up is noted and closed, so the test cannot hang on it.
        QStringList windowsShown;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&windowsShown] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                windowsShown << QString::fromLatin1(modal->metaObject()->className());
                modal->close();
            }
        });
        watcher.start(10);
        FIni window(printers, app.path());
        window.load();
        QVERIFY(windowsShown.isEmpty());
        QVERIFY(window.Timer1.isActive());
        QCOMPARE(ModConf::SystemFolder, folderRead ? system.path() : app.path());
        QVERIFY(QFileInfo(ModConf::SystemFolder + QStringLiteral("/jobs")).isDir());
        QCOMPARE(ModConf::Printer10x15, printer10x15);
        QCOMPARE(ModConf::Width10x15, width10x15);
        QCOMPARE(ModConf::Width13x18, width13x18);
        QCOMPARE(ModConf::Height15x23, height15x23);
        QCOMPARE(ModConf::PrintAll, printAll);
        QCOMPARE(readBytes(ModConf::settingsFilePath(app.path())), content); // nothing written
    }
};

QTEST_MAIN(TestSettingsDisk)
#include "tst_settingsdisk.moc"
