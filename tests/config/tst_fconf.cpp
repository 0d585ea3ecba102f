#include "FConf.h"
#include "ModFolderDlg.h"
#include "NextModal.h"
#include "RecordingPrinterPort.h"
#include "TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <fcntl.h>
#include <unistd.h>

// Fills the file system of `path` with a file there, all but `roomLeft` bytes.
static bool fillDisk(const QString &path, qint64 roomLeft)
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

// The configuration window driven through its controls; failed checks are read, not shown.
class TestFConf : public QObject
{
    Q_OBJECT

    QTemporaryDir app;
    RecordingPrinterPort printers;
    QStringList messages;

    QString ini() const { return ModConf::settingsFilePath(app.path()); }
    std::unique_ptr<FConf> openWindow()
    {
        auto window = std::make_unique<FConf>(printers, nullptr);
        window->showMessage = [this](const QString &text) { messages << text; };
        window->show();
        return window;
    }
    // The six size boxes from "w|h|w|h|w|h", 10x15 first.
    static void enterSizes(FConf &w, const QString &sizes)
    {
        const QStringList texts = sizes.split('|');
        for (int i = 0; i < 3; ++i) {
            w.txtWPrinter[i]->setText(texts[2 * i]);
            w.txtHPrinter[i]->setText(texts[2 * i + 1]);
        }
    }
    static void choosePrinters(FConf &w, int first, int second, int third)
    {
        w.comboPrinter1->setCurrentIndex(first);
        w.comboPrinter2->setCurrentIndex(second);
        w.comboPrinter3->setCurrentIndex(third);
    }

private slots:
    void init()
    {
        printers.printers = { { "Kodak 6800" }, { "DNP DS620" }, { "Zelvo PDF" } };
        QLocale::setDefault(QLocale::c());
        resetSettings(app.path());
        QFile::remove(ini());
        messages.clear();
    }

    void fillsFromTheSettingsAndKeepsNothingUnsaved()
    {
        ModConf::Printer10x15 = "kodak 6800"; // differs in case: no selection
        ModConf::Printer13x18 = "DNP DS620";
        ModConf::Width10x15 = 600; // its height is 0: both boxes show the defaults
        ModConf::PrintAll = true;
        auto w = openWindow();
        QCOMPARE(w->comboPrinter1->currentIndex(), -1);
        QCOMPARE(w->comboPrinter2->currentIndex(), 1);
        QCOMPARE(w->txtWPrinter[0]->text() + "|" + w->txtHPrinter[0]->text(), "613|413");
        QCOMPARE(w->txtDir->text(), app.path()); // empty system folder: the program's folder
        QVERIFY(w->chkTodos->isChecked());

        w->comboPrinter2->setCurrentIndex(0);
        w->reject();
        QCOMPARE(ModConf::Printer13x18, "DNP DS620");
        QVERIFY(!QFile::exists(ini()));
    }

    void saveChecksInOrder_data()
    {
        QTest::addColumn<bool>("printersChosen");
        QTest::addColumn<QString>("sizes");
        QTest::addColumn<QString>("folder"); // "@": an existing folder
        QTest::addColumn<QString>("message"); // "": saved
        const auto row = [](const char *tag, bool chosen, const char *sizes, const char *folder,
                            const QString &message) {
            QTest::newRow(tag) << chosen << QString(sizes) << QString(folder) << message;
        };
        const auto size = [](const char *paper) {
            return QStringLiteral(
                       "Digite valores numéricos para Largura e Altura da impressora %1.")
                .arg(paper);
        };
        const QString printer = "Selecione a impressora para todos os tipos de impressão!";
        const QString folder = "Selecione uma pasta de sistema válida!";
        const char *good = "613|413|700|500|900|600";
        row("no printer chosen", false, "x|413|700|500|900|600", "/nope", printer);
        row("10x15 before the folder", true, "abc|413|700|500|900|600", "/nope", size("10x15"));
        row("13x18 width 0", true, "613|413|0|500|900|600", "@", size("13x18"));
        row("15x23 empty height", true, "613|413|700|500|900| ", "@", size("15x23"));
        row("rounds to 0", true, "0,5|413|700|500|900|600", "@", size("10x15"));
        row("beyond 16 bits", true, "613|413|700|500|32768|600", "@", size("15x23"));
        row("16 bits", true, "613|413|700|500|900|32767", "@", "");
        row("missing folder", true, good, "/no/such/folder", folder);
        row("a file is no folder", true, good, "/etc/hostname", folder);
        row("rounds to 1", true, "0,6|413|700|500|900|600", "@", "");
    }
    void saveChecksInOrder()
    {
        QFETCH(bool, printersChosen);
        QFETCH(QString, sizes);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        auto w = openWindow();
        if (printersChosen)
            choosePrinters(*w, 0, 1, 2);
        enterSizes(*w, sizes);
        w->txtDir->setText(folder == "@" ? app.path() : folder);
        QTest::mouseClick(w->CmdSave, Qt::LeftButton);
        QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList { message });
        QCOMPARE(w->isVisible(), !message.isEmpty());
        QCOMPARE(QFile::exists(ini()), message.isEmpty());
        QCOMPARE(ModConf::Printer10x15.isEmpty(),
                 !message.isEmpty()); // a failed check sets nothing
    }

    void saveSetsTheSettingsAndWritesAllKeys()
    {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        ModConf::PrintAll = true; // unticked below: an unsaved box would write True
        auto w = openWindow();
        choosePrinters(*w, 2, 0, 1);
        enterSizes(*w, "612,5|413|700|500|900|600");
        w->txtDir->setText("  " + app.path() + " ");
        w->chkTodos->setChecked(false);
        w->comboPace->setCurrentIndex(1);
        w->comboStandIn[0]->setCurrentIndex(1);
        QTest::mouseClick(w->CmdSave, Qt::LeftButton);
        QCOMPARE(w->result(), int(QDialog::Accepted));
        // The file is written from the settings set; the folder as typed, set trimmed.
        const QByteArray expected = "[General]\nSYSTEM_FOLDER=  " + app.path().toUtf8()
            + " \nPRINT_ALL=False\nPRINT_PACE=PRINTERS\n[Printers]\n10x15=Zelvo PDF\n"
              "13x18=Kodak 6800\n15x23=DNP DS620\n10x15W=612,5\n10x15H=413\n13x18W=700\n"
              "13x18H=500\n15x23W=900\n15x23H=600\n10x15_2=Kodak 6800\n13x18_2=\n15x23_2=\n";
        QCOMPARE(readFile(ini()), expected);

        // Opened again, it shows what was saved, and saving it again writes the same keys.
        auto again = openWindow();
        QTest::mouseClick(again->CmdSave, Qt::LeftButton);
        QCOMPARE(readFile(ini()),
                 QByteArray(expected).replace("=  " + app.path().toUtf8() + " ",
                                              "=" + app.path().toUtf8()));
    }

    // On a full disk (a small tmpfs mounted by the test, which needs root) the save fails, the
    // old file and no temporary one stay, and the settings hold for this run without a box.
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
        const QString disk = app.filePath("disk");
        QVERIFY(QDir().mkpath(disk));
        const TmpfsMount mount(disk, "size=64k");
        if (!mount.mounted())
            QSKIP(qPrintable("cannot mount a tmpfs (" + mount.error + "); run as root"));
        ModConf::AppPath = disk;
        const QString ini = ModConf::settingsFilePath(disk);
        const QByteArray old = "; " + QByteArray(commentBytes, 'c') + "\n[General]\nPRINT_ALL=1\n";
        QVERIFY(writeFile(ini, old));
        QVERIFY(fillDisk(disk + "/filler", roomLeft));
        const QStringList files = filesIn(disk);
        auto w = openWindow();
        choosePrinters(*w, 0, 1, 1);
        w->txtDir->setText(disk);
        QTest::mouseClick(w->CmdSave, Qt::LeftButton);
        QCOMPARE(messages, QStringList());
        QCOMPARE(w->result(), int(QDialog::Accepted));
        QCOMPARE(ModConf::Printer15x23, "DNP DS620");
        QCOMPARE(readFile(ini), old);
        QCOMPARE(filesIn(disk), files);
    }

    // The prompt inside the dialog, the full path of the folder selected in its status line.
    void folderPickerOpensOnTheTypedFolder_data()
    {
        QTest::addColumn<bool>("typedExists");
        QTest::addColumn<bool>("choose");
        QTest::newRow("typed folder, another chosen") << true << true;
        QTest::newRow("missing folder, cancelled") << false << false;
    }
    void folderPickerOpensOnTheTypedFolder()
    {
        QFETCH(bool, typedExists);
        QFETCH(bool, choose);
        QTemporaryDir typed;
        const QString start = typedExists ? typed.path() : app.path();
        const QString chosen = start + "/chosen";
        QVERIFY(QDir().mkpath(chosen));
        auto w = openWindow();
        const QString typedText = typedExists ? typed.path() : "/no/such";
        w->txtDir->setText(typedText);
        QStringList seen; // prompt, status line on opening, status line once a folder is clicked
        answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<ModFolderDlg::FolderBrowseDialog *>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            seen << dialog->promptLabel->text() << dialog->statusLine->text();
            QTreeView *tree = dialog->folders;
            const auto model = static_cast<QFileSystemModel *>(tree->model());
            tree->expand(tree->currentIndex());
            // The folder's children come from a background listing.
            const auto place = [&] { return tree->visualRect(model->index(chosen)); };
            if (QTest::qWaitFor([&] { return place().isValid(); }))
                QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, place().center());
            seen << dialog->statusLine->text();
            QTest::mouseClick(choose ? dialog->okButton : dialog->cancelButton, Qt::LeftButton);
        });
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(seen, (QStringList { "Por favor, selecione uma pasta:", start, chosen }));
        QCOMPARE(w->txtDir->text(), choose ? chosen : typedText);
    }
};

QTEST_MAIN(TestFConf)
#include "tst_fconf.moc"
