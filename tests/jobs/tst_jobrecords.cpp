#include "JobFile.h"
#include "JobTable.h"
#include "JobsTestSupport.h"

#include <QSignalSpy>
#include <QtTest>

// Parsing, the table searches, the queue list and its selection: no disk.
class TestJobRecords : public QObject
{
    Q_OBJECT

private slots:
    void parseJobFileText_data()
    {
        QTest::addColumn<QByteArray>("text");
        // "photos:image|printed|paper|copies|amount" of the first photo and " ?" + the first
        // warning, or "!" + the error; compared as a prefix
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const QByteArray &text, const char *expected) {
            QTest::newRow(tag) << text << QString::fromUtf8(expected);
        };
        row("all columns", "00001000200001250", "1:AB1_0001.jpg|0|0|2|12.5");
        row("past column 17 ignored", "10002102005000000XYZ", "1:AB1_0002.jpg|1|1|20|50000");
        row("blanks kept in photo number", "0 12 2  3     150", "1:AB1_ 12 .jpg|0|2|3|1.5");
        row("short line shortens amount", "0000100010012", "1:AB1_0001.jpg|0|0|1|0.12");
        row("signs and blanks", "000011 -1 +250   ", "1:AB1_0001.jpg|0|1|-1|2.5");
        row("decimal amount", "000010002   12.50", "1:AB1_0001.jpg|0|0|2|0.125");
        row("decimal comma and blanks", "000010002  -12,5 ", "1:AB1_0001.jpg|0|0|2|-0.125");
        row("unreadable amount counts as 0", "0000100021.2.3abc",
            "1:AB1_0001.jpg|0|0|2|0 ?line 1: amount");
        row("shorter than 10: no amount", "000010002", "1:AB1_0001.jpg|0|0|2|0 ?line 1: amount");
        row("blanks only", "   \t ", "!line 1: the line is blank");
        row("letter in copies", "000010x0200001250", "!line 1: copies");
        row("blank inside copies", "0000101 200001250", "!line 1: copies");
        row("blank paper size", "00001 00200001250", "!line 1: paper size");
        row("sign without digits", "-0001000200001250", "!line 1: printed");
        row("path in photo number", "0/../000200001250", "!line 1: photo number");
        const QByteArray a = "00001000200001250",
                         b = "0000200010012"; // b's CR would land in amount
        row("LF", a + "\n" + b + "\n", "2:AB1_0001.jpg");
        row("CRLF", a + "\r\n" + b + "\r\n", "2:AB1_0001.jpg");
        row("last line without end", a + "\r\n" + b, "2:AB1_0001.jpg");
        row("empty file", QByteArray(), "0:");
        row("single-byte text", "0\xe9 1 000100000100", "1:AB1_\u00e9 1 .jpg");
        row("blank line between", a + "\n\n" + b, "!line 2: the line is blank");
        row("blank CRLF line at end", a + "\r\n\r\n", "!line 2: the line is blank");
        row("malformed third line", a + "\n" + a + "\nxx", "!line 3: printed");
        row("unreadable amounts: the first is told", a + "\n" + "000010002 x\n000010002 y",
            "3:AB1_0001.jpg|0|0|2|12.5 ?line 2: amount");
        row("32767 lines", (a + "\r\n").repeated(32767), "32767:AB1_0001.jpg");
        row("32768 lines", (a + "\r\n").repeated(32767) + a, "!more than 32767 lines");
    }
    void parseJobFileText()
    {
        QFETCH(QByteArray, text);
        const JobPhotos parsed = ::parseJobFileText(text, QStringLiteral("AB1"));
        QVERIFY(parsed.error.isEmpty() || parsed.photos.empty());
        QString got = "!" + parsed.error;
        if (parsed.error.isEmpty()) {
            got = QString::number(parsed.photos.size()) + ':';
            if (!parsed.photos.empty()) {
                const PhotoItem &p = parsed.photos[0];
                got += QStringLiteral("%1|%2|%3|%4|%5")
                           .arg(p.imageFileName)
                           .arg(p.printed)
                           .arg(p.paperSize)
                           .arg(p.copies)
                           .arg(p.amount);
            }
            got += parsed.warning.isEmpty() ? QString() : " ?" + parsed.warning;
        }
        QFETCH(QString, expected);
        QVERIFY2(got.startsWith(expected), qPrintable(got));
    }

    void tableSearches_data()
    {
        // One per slot; a negative one: a job without photos.
        QTest::addColumn<QList<int>>("orders");
        QTest::addColumn<QList<int>>("highest"); // queueOrder, index, found
        QTest::addColumn<QList<int>>("next");
        using L = QList<int>;
        QTest::newRow("never allocated") << L {} << L { -1, -1, 0 } << L { -1, -1, 0 };
        QTest::newRow("stale slot") << L { 0 } << L { -1, -1, 1 } << L { 0, 0, 1 };
        QTest::newRow("last slot skipped") << L { 3, 9 } << L { 3, 0, 1 } << L { 3, 0, 1 };
        QTest::newRow("no photos ignored") << L { -5, 2, 0 } << L { 2, 1, 1 } << L { 0, 2, 1 };
        QTest::newRow("ties to lower slot") << L { 4, 4, 4 } << L { 4, 0, 1 } << L { 4, 0, 1 };
        QTest::newRow("none qualifies")
            << L { -1, -2 } << L { -1, -1, 1 } << L { 2000000000, -1, 1 };
    }
    void tableSearches()
    {
        QFETCH(QList<int>, orders);
        std::vector<JobRecord> table(size_t(orders.size()));
        for (size_t i = 0; i < table.size(); ++i) {
            table[i].listKey = QString::number(std::min<size_t>(i, 1));
            table[i].queueOrder = int16_t(std::abs(orders[qsizetype(i)]));
            table[i].photoCount = orders[qsizetype(i)] >= 0;
        }
        const auto asList = [](QueueOrderSearch s) {
            return QList<int> { s.queueOrder, s.index, s.found };
        };
        QTEST(asList(FindHighestQueueOrder(table)), "highest");
        QTEST(asList(FindNextJobToPrint(table)), "next");
        // Keys "0", "1", "1": the first match wins; no match gives 0, an unallocated table -1.
        QCOMPARE(FindJobByKey(table, "1"), orders.size() > 1 ? 1 : table.empty() ? -1 : 0);
        QCOMPARE(FindJobByKey(table, "none"), table.empty() ? -1 : 0);
    }

    // How the list widget shows this and passes clicks in is tst_console's matter.
    void queueList_keepsSelectionOnSameEntry()
    {
        QueueList list;
        int handlerRuns = 0;
        list.setSelectionHandler([&] { ++handlerRuns; });
        QSignalSpy selection(&list, &QueueList::selectedIndexChanged);
        for (const char *text : { "a", "b", "c" })
            list.insert(list.count(), text);
        list.select(1);
        list.insert(0, "z"); // above: the selection follows "b"
        list.insert(4, "end"); // below: nothing moves
        list.remove(0);
        QCOMPARE(list.text(list.selectedIndex()), "b");
        list.remove(1); // the selected entry: none selected
        // Every change reaches the list widget; only select() runs the handler.
        QCOMPARE(selection.size(), 4);
        QCOMPARE(handlerRuns, 1);
        QVERIFY(!list.insert(-1, "x") && !list.insert(4, "x") && !list.remove(3)
                && !list.select(3));
    }

    void selectionAndRenumber()
    {
        ShowingStore store;
        for (const char *key : { "7", "8", "7" })
            appendJob(store, key);
        store.LstJobs.select(1);
        LstJobsSelectionChanged(store); // the entry already shown: not loaded again
        store.forceThumbRefresh = true; // from now on every selection event reloads
        LstJobsSelectionChanged(store);
        QCOMPARE(store.shown, (QStringList { "8", "8" }));
        // Equal keys resolve to the first record, which keeps the later index.
        store.printJobs[2].queueOrder = 99;
        RenumberQueue(store);
        QCOMPARE(queueOrders(store), (QList<int> { 2, 1, 99 }));
    }
};

QTEST_GUILESS_MAIN(TestJobRecords)
#include "tst_jobrecords.moc"
