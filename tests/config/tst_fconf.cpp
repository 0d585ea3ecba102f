#include "FConf.h"
#include "ModConf.h"
#include "ModFolderDlg.h"
#include "StaticPrinterPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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

// Runs `action` on the next modal window once it is up.
void onNextModal(std::function<void(QWidget *)> action)
{
    QTimer::singleShot(0, [action] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        action(QApplication::activeModalWidget());
    });
}

} // namespace

class TestFConf : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir app;
    StaticPrinterPort printers { { QStringLiteral("Kodak 6800"), QStringLiteral("DNP DS620"),
                                   QStringLiteral("Zelvo PDF") } };
    QStringList messages;

    std::unique_ptr<FConf> openWindow()
    {
        auto window = std::make_unique<FConf>(printers, nullptr);
        window->showMessage = [this](const QString &text) { messages << text; };
        window->show();
        return window;
    }

    static void enterSizes(FConf &w, const QStringList &sizes)
    {
        for (int i = 0; i < 3; ++i) {
            w.txtWPrinter[i]->setText(sizes[2 * i]);
            w.txtHPrinter[i]->setText(sizes[2 * i + 1]);
        }
    }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        resetSettings(app.path());
        QFile::remove(ModConf::settingsFilePath(app.path()));
        messages.clear();
    }

    void fillsFromTheSettings()
    {
        ModConf::Printer10x15 = QStringLiteral("kodak 6800"); // differs in case: no selection
        ModConf::Printer13x18 = QStringLiteral("DNP DS620");
        ModConf::Printer15x23 = QStringLiteral("Gone Printer");
        ModConf::Width10x15 = 600;
        ModConf::Height10x15 = 0; // either one 0: both boxes show the defaults
        ModConf::Width13x18 = 650.5f;
        ModConf::Height13x18 = 480;
        ModConf::PrintAll = true;
        auto w = openWindow();
        for (QComboBox *combo : { w->comboPrinter1, w->comboPrinter2, w->comboPrinter3 }) {
            QCOMPARE(combo->count(), 3);
            QCOMPARE(combo->itemText(2), QStringLiteral("Zelvo PDF"));
        }
        QCOMPARE(w->comboPrinter1->currentIndex(), -1);
        QCOMPARE(w->comboPrinter2->currentIndex(), 1);
        QCOMPARE(w->comboPrinter3->currentIndex(), -1);
        QCOMPARE(w->txtWPrinter[0]->text(), QStringLiteral("613"));
        QCOMPARE(w->txtHPrinter[0]->text(), QStringLiteral("413"));
        QCOMPARE(w->txtWPrinter[1]->text(), QStringLiteral("650.5"));
        QCOMPARE(w->txtHPrinter[1]->text(), QStringLiteral("480"));
        QCOMPARE(w->txtWPrinter[2]->text(), QStringLiteral("900"));
        QCOMPARE(w->txtDir->text(), app.path()); // empty system folder: the program's folder
        QVERIFY(w->chkTodos->isChecked());
    }

    void saveChecksInOrder_data()
    {
        QTest::addColumn<bool>("choosePrinters");
        QTest::addColumn<QStringList>("sizes");
        QTest::addColumn<QString>("folder"); // "@" = an existing folder
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("message"); // "" = saved
        const QStringList good { "613", "413", "700", "500", "900", "600" };
        const QString sizeMessage
            = QStringLiteral("Digite valores numéricos para Largura e Altura da impressora %1.");
        QTest::newRow("no printer chosen")
            << false << QStringList { "x" } + good.mid(1) << "/nope"
            << "C"
            << "Selecione a impressora para todos os tipos de impressão!";
        QTest::newRow("13x18 width 0")
            << true << QStringList { "613", "413", "0", "500", "900", "600" } << "@"
            << "C" << sizeMessage.arg("13x18");
        QTest::newRow("10x15 before the folder")
            << true << QStringList { "abc", "413", "700", "500", "900", "600" } << "/nope"
            << "C" << sizeMessage.arg("10x15");
        QTest::newRow("15x23 empty height")
            << true << QStringList { "613", "413", "700", "500", "900", " " } << "@"
            << "C" << sizeMessage.arg("15x23");
        QTest::newRow("rounds to 0")
            << true << QStringList { "0,5", "413", "700", "500", "900", "600" } << "@"
            << "pt_BR" << sizeMessage.arg("10x15");
        QTest::newRow("rounds to 1")
            << true << QStringList { "0,6", "413", "700", "500", "900", "600" } << "@"
            << "pt_BR"
            << "";
        QTest::newRow("beyond 16 bits")
            << true << QStringList { "613", "413", "700", "500", "32768", "600" } << "@"
            << "C" << sizeMessage.arg("15x23");
        QTest::newRow("missing folder") << true << good << "/no/such/folder"
                                        << "C"
                                        << "Selecione uma pasta de sistema válida!";
        QTest::newRow("a file is no folder") << true << good << "/etc/hostname"
                                             << "C"
                                             << "Selecione uma pasta de sistema válida!";
        QTest::newRow("all good") << true << good << "@"
                                  << "C"
                                  << "";
    }
    void saveChecksInOrder()
    {
        QFETCH(bool, choosePrinters);
        QFETCH(QStringList, sizes);
        QFETCH(QString, folder);
        QFETCH(QString, locale);
        QFETCH(QString, message);
        QLocale::setDefault(QLocale(locale));
        auto w = openWindow();
        if (choosePrinters) {
            w->comboPrinter1->setCurrentIndex(0);
            w->comboPrinter2->setCurrentIndex(1);
            w->comboPrinter3->setCurrentIndex(2);
        }
        enterSizes(*w, sizes);
        w->txtDir->setText(folder == QLatin1String("@") ? app.path() : folder);
        QTest::mouseClick(w->CmdSave, Qt::LeftButton);
        QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList { message });
        QCOMPARE(w->isVisible(), !message.isEmpty());
        QCOMPARE(QFile::exists(ModConf::settingsFilePath(app.path())), message.isEmpty());
        if (!message.isEmpty()) {
            QCOMPARE(ModConf::Printer10x15, QString()); // nothing changed on a failed check
            QCOMPARE(w->txtWPrinter[0]->text(), sizes[0]);
        }
    }

    void saveSetsTheSettingsAndWritesAllElevenKeys()
    {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        auto w = openWindow();
        w->comboPrinter1->setCurrentIndex(2);
        w->comboPrinter2->setCurrentIndex(0);
        w->comboPrinter3->setCurrentIndex(1);
        enterSizes(*w, { "612,5", "413", "700", "500", "900", "600" });
        w->txtDir->setText(QStringLiteral("  ") + app.path() + QStringLiteral(" "));
        w->chkTodos->setChecked(false);
        QTest::mouseClick(w->CmdSave, Qt::LeftButton);
        QVERIFY(messages.isEmpty());
        QCOMPARE(w->result(), int(QDialog::Accepted));
        QCOMPARE(ModConf::SystemFolder, app.path());
        QCOMPARE(ModConf::Printer10x15, QStringLiteral("Zelvo PDF"));
        QCOMPARE(ModConf::Width10x15, 612.5f);
        QCOMPARE(ModConf::PrintAll, false);
        const QByteArray expected = "[General]\n"
                                    "SYSTEM_FOLDER=  "
            + app.path().toUtf8()
            + " \n"
              "PRINT_ALL=False\n"
              "[Printers]\n"
              "10x15=Zelvo PDF\n"
              "13x18=Kodak 6800\n"
              "15x23=DNP DS620\n"
              "10x15W=612,5\n"
              "10x15H=413\n"
              "13x18W=700\n"
              "13x18H=500\n"
              "15x23W=900\n"
              "15x23H=600\n";
        QCOMPARE(readBytes(ModConf::settingsFilePath(app.path())), expected);

        // Saving again with unchanged entries rewrites the same eleven keys.
        auto again = openWindow();
        QTest::mouseClick(again->CmdSave, Qt::LeftButton);
        QCOMPARE(readBytes(ModConf::settingsFilePath(app.path())),
                 QByteArray(expected).replace("SYSTEM_FOLDER=  " + app.path().toUtf8() + " ",
                                              "SYSTEM_FOLDER=" + app.path().toUtf8()));
    }

    void closingWithoutSaveKeepsNothing()
    {
        auto w = openWindow();
        w->comboPrinter1->setCurrentIndex(0);
        w->txtDir->setText(QStringLiteral("/tmp"));
        w->reject();
        QCOMPARE(ModConf::Printer10x15, QString());
        QCOMPARE(ModConf::SystemFolder, QString());
        QVERIFY(!QFile::exists(ModConf::settingsFilePath(app.path())));
    }

    void failedCheckBoxHasOnlyOkAndNoIcon()
    {
        std::unique_ptr<QMessageBox> box(FConf::makeMessageBox(QStringLiteral("m"), nullptr));
        QCOMPARE(box->windowTitle(), QStringLiteral("Zelvo"));
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box->text(), QStringLiteral("m"));
    }

    void folderPickerOpensOnTheTypedFolder_data()
    {
        QTest::addColumn<bool>("typedExists");
        QTest::addColumn<bool>("choose");
        QTest::newRow("typed folder, chosen") << true << true;
        QTest::newRow("missing folder, chosen") << false << true;
        QTest::newRow("cancelled") << true << false;
    }
    void folderPickerOpensOnTheTypedFolder()
    {
        QFETCH(bool, typedExists);
        QFETCH(bool, choose);
        QTemporaryDir typed;
        QVERIFY(QDir(app.path()).mkpath(QStringLiteral("chosen")));
        const QString chosen = app.filePath(QStringLiteral("chosen"));
        auto w = openWindow();
        const QString typedText = typedExists ? typed.path() : QStringLiteral("/no/such");
        w->txtDir->setText(typedText);
        QString openedOn;
        QString title;
        onNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            openedOn = dialog->directory().absolutePath();
            title = dialog->windowTitle();
            if (choose) {
                dialog->selectFile(chosen);
                static_cast<QDialog *>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(openedOn, typedExists ? typed.path() : app.path());
        QCOMPARE(title, QStringLiteral("Por favor, selecione uma pasta:"));
        QCOMPARE(ModFolderDlg::browseStartPath, openedOn);
        QCOMPARE(w->txtDir->text(), choose ? chosen : typedText);
    }
};

QTEST_MAIN(TestFConf)
#include "tst_fconf.moc"
