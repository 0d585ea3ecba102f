#include "JobIntake.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "JobsTestSupport.h"
#include "QueueCommands.h"

#include <QDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(PrintNowResult)

class TestQueueCommands : public SystemFolderTest
{
    Q_OBJECT

    std::unique_ptr<ShowingStore> m_store;

    ShowingStore &store() const { return *m_store; }
    QString images(const QString &name = {}) const { return at("images/" + name); }
    QStringList entries() const { return entryTexts(store().LstJobs); }
    // Job <key> with `photos` photos in the images folder, photo i with i copies.
    [[nodiscard]] bool addJob(const QString &key, int photos)
    {
        JobRecord &job = appendJob(store(), key, photos, m_root);
        for (int i = 0; i < photos; ++i) {
            job.photos[size_t(i)].copies = int16_t(i + 1);
            if (!writeFile(images(job.photos[size_t(i)].imageFileName), "photo " + key.toLatin1()))
                return false;
        }
        return true;
    }
    // Every entry's record carries the entry's index as its queueOrder.
    bool ordersFollowTheList() const
    {
        for (int i = 0; i < store().LstJobs.count(); ++i) {
            const int32_t slot = FindJobByKey(store().printJobs, formEntryKey(entries()[i]));
            if (store().printJobs[size_t(slot)].queueOrder != i)
                return false;
        }
        return true;
    }

private slots:
    void init()
    {
        QVERIFY(newSystemFolder());
        m_store = std::make_unique<ShowingStore>();
    }

    void moves_data()
    {
        QTest::addColumn<int>("move");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("order"); // job keys after the command; "" when nothing moves
        QTest::addColumn<int>("target");
        const int top = int(QueueMove::ToTop), up = int(QueueMove::Up), down = int(QueueMove::Down),
                  bottom = int(QueueMove::ToBottom);
        QTest::newRow("top from 2") << top << 2 << "3124" << 0;
        QTest::newRow("up from 2") << up << 2 << "1324" << 1;
        QTest::newRow("down from 1") << down << 1 << "1324" << 2;
        QTest::newRow("bottom from 1") << bottom << 1 << "1342" << 3;
        for (int move : { top, up })
            QTest::addRow("%d at the top", move) << move << 0 << "" << -1;
        for (int move : { down, bottom })
            QTest::addRow("%d at the bottom", move) << move << 3 << "" << -1;
        for (int move : { top, up, down, bottom })
            QTest::addRow("%d without selection", move) << move << -1 << "" << -1;
    }
    void moves()
    {
        QFETCH(int, move);
        QFETCH(int, selected);
        QFETCH(QString, order);
        QFETCH(int, target);
        for (const QString key : { "1", "2", "3", "4" })
            QVERIFY(addJob(key, 1));
        store().LstJobs.select(selected);
        store().shown.clear();

        QCOMPARE(MoveSelectedJob(store(), QueueMove(move)), target >= 0);
        QCOMPARE(entries().join("").remove("job "), order.isEmpty() ? "1234" : order);
        QCOMPARE(store().LstJobs.selectedIndex(), target >= 0 ? target : selected);
        QCOMPARE(store().lastShownIndex, target >= 0 ? target : selected);
        QVERIFY(ordersFollowTheList() || target < 0);
        QCOMPARE(store().shown, QStringList()); // the moved job is the one already shown
    }

    void remove_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("recordGone");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("normal entry") << 1 << false << QStringList { "job 1", "Urgente 1" };
        QTest::newRow("urgent entry: its whole text is the key")
            << 2 << false << QStringList { "job 1", "job 2" };
        // FindJobByKey answers slot 0 for a key nobody holds: that job must stay.
        QTest::newRow("record gone") << 1 << true << QStringList { "job 1", "job 2", "Urgente 1" };
    }
    void remove()
    {
        QFETCH(int, selected);
        QFETCH(bool, recordGone);
        QFETCH(QStringList, left);
        for (const char *key : { "1", "2", "Urgente 1" })
            QVERIFY(addJob(key, 2));
        if (recordGone)
            store().printJobs[1].listKey = QStringLiteral("9");
        store().LstJobs.select(selected);

        QCOMPARE(RemoveJob(store(), SelectedJobSerial(store())), !recordGone);
        QCOMPARE(entries(), left);
        QCOMPARE(int(store().jobCount), left.size());
        QCOMPARE(QFile::exists(at("backup/images/ABUrgente 1_0001.jpg")),
                 !left.contains("Urgente 1"));
        QCOMPARE(QFile::exists(at("backup/images/AB2_0002.jpg")), !left.contains("job 2"));
    }

    void printNow_numberingAndTheUrgentRecord()
    {
        QVERIFY(addJob("1", 3));
        QVERIFY(addJob("2", 3));
        store().LstJobs.select(1);
        store().shown.clear();

        QCOMPARE(PrintNow(store(), 1), PrintNowResult::Made);
        QCOMPARE(entries(), (QStringList { "Urgente 1", "job 1", "job 2" }));
        const JobRecord &urgent = store().printJobs[2];
        QVERIFY(urgent.listKey == "Urgente 1" && urgent.urgent && urgent.fileName == "2AB2.job");
        QVERIFY(urgent.photoCount == 1 && urgent.printedCount == 0 && urgent.photos[0].copies == 2);
        QCOMPARE(urgent.photos[0].imageFileName, "AB2_0002u0.jpg");
        QCOMPARE(readFile(images("AB2_0002u0.jpg")), "photo 2");
        const JobRecord &source = store().printJobs[1];
        QVERIFY(source.printedCount == 1 && source.photos[1].printed == 1);
        QVERIFY(store().forceThumbRefresh);
        QCOMPARE(store().LstJobs.selectedIndex(), 2); // still job 2, one place lower
        QCOMPARE(store().shown, QStringList()); // the viewer keeps it until the next selection

        // The same photo again: a further copy, not counted a second time.
        PrintNow(store(), 1);
        QCOMPARE(entries(), (QStringList { "Urgente 1", "Urgente 2", "job 1", "job 2" }));
        QCOMPARE(store().printJobs[3].photos[0].imageFileName, "AB2_0002u1.jpg");
        QCOMPARE(int(store().printJobs[1].printedCount), 1);
        QVERIFY(ordersFollowTheList());

        // Once every urgent job is gone the numbers start again at 1, at the top.
        for (const char *key : { "Urgente 1", "Urgente 2" })
            RetireJob(store(), FindJobByKey(store().printJobs, key));
        store().LstJobs.select(0);
        PrintNow(store(), 0);
        QCOMPARE(entries(), (QStringList { "Urgente 1", "job 1", "job 2" }));

        // Urgente 1 moved to the bottom: the next one goes directly below it.
        store().LstJobs.select(0);
        MoveSelectedJob(store(), QueueMove::ToBottom);
        store().LstJobs.select(0);
        PrintNow(store(), 1);
        QCOMPARE(entries(), (QStringList { "job 1", "job 2", "Urgente 1", "Urgente 2" }));
        QVERIFY(ordersFollowTheList());
    }

    void printNow_copyNames_data()
    {
        QTest::addColumn<QStringList>("present"); // earlier copies in the images folder
        QTest::addColumn<bool>("photoMissing");
        QTest::addColumn<QString>("copy");
        QTest::newRow("u0 and u1 taken")
            << QStringList { "AB5_0001u0.jpg", "AB5_0001u1.jpg" } << false << "AB5_0001u2.jpg";
        QTest::newRow("a gap is filled")
            << QStringList { "AB5_0001u1.jpg" } << false << "AB5_0001u0.jpg";
        QTest::newRow("photo missing: no copy, no name") << QStringList() << true << "";
    }
    void printNow_copyNames()
    {
        QFETCH(QStringList, present);
        QFETCH(bool, photoMissing);
        QVERIFY(addJob("5", 1));
        for (const QString &name : present)
            QVERIFY(writeFile(images(name), "older copy"));
        if (photoMissing)
            QVERIFY(QFile::remove(images("AB5_0001.jpg")));
        store().LstJobs.select(0);
        QCOMPARE(PrintNow(store(), 0), PrintNowResult::Made);
        QTEST(store().printJobs[1].photos[0].imageFileName, "copy");
        QCOMPARE(QDir(images()).entryList(QDir::Files).size(),
                 present.size() + (photoMissing ? 0 : 2));
    }

    void printNow_refusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<PrintNowResult>("result");
        QTest::newRow("no selection") << "no selection" << PrintNowResult::NoSource;
        QTest::newRow("record gone") << "record gone" << PrintNowResult::NoSource;
        QTest::newRow("no such photo") << "photo 5" << PrintNowResult::NoSource;
        QTest::newRow("copy fails") << "copy fails" << PrintNowResult::CopyFailed;
        QTest::newRow("queue full") << "queue full" << PrintNowResult::QueueFull;
    }
    void printNow_refusals()
    {
        QFETCH(QString, situation);
        QVERIFY(addJob("1", 2));
        QVERIFY(addJob("2", 2));
        store().LstJobs.select(situation == "no selection" ? -1 : 1);
        if (situation == "record gone")
            store().printJobs[1].listKey = QStringLiteral("9");
        while (situation == "queue full" && store().LstJobs.count() < QueueList::MaxEntries)
            store().LstJobs.insert(store().LstJobs.count(), QStringLiteral("job x"));
        const QStringList before = entries();
        const QStringList imagesBefore = QDir(images()).entryList(QDir::Files);
        const auto failingCopy = [](const QString &, const QString &) { return false; };

        QTEST(PrintNow(store(), situation == "photo 5" ? 5 : 0, failingCopy), "result");
        QCOMPARE(entries(), before);
        QCOMPARE(store().printJobs.size(), size_t(2));
        QCOMPARE(int(store().printJobs[1].printedCount), 0);
        QVERIFY(!store().forceThumbRefresh);
        QCOMPARE(QDir(images()).entryList(QDir::Files), imagesBefore);
    }
};

QTEST_GUILESS_MAIN(TestQueueCommands)
#include "tst_queuecommands.moc"
