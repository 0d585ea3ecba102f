#include "QueueList.h"
#include "QueueListWidget.h"

#include <QTest>

class TestQueueListWidget : public QObject
{
    Q_OBJECT

private:
    static QStringList rows(const QListWidget &w)
    {
        QStringList texts;
        for (int i = 0; i < w.count(); ++i)
            texts << w.item(i)->text();
        return texts;
    }

private slots:
    void mirrorsTheModelAndItsSelection()
    {
        QueueList model;
        int handlerRuns = 0;
        model.setSelectionHandler([&] { ++handlerRuns; });
        model.insert(0, QStringLiteral("job 1"));
        QueueListWidget widget(model, nullptr);
        widget.show();
        model.insert(1, QStringLiteral("job 2"));
        model.insert(2, QStringLiteral("job 3"));
        model.select(1);
        QCOMPARE(handlerRuns, 1);
        QCOMPARE(widget.currentRow(), 1);

        model.insert(0, QStringLiteral("Urgente 1")); // selection shifts with its entry
        QCOMPARE(rows(widget), (QStringList { "Urgente 1", "job 1", "job 2", "job 3" }));
        QCOMPARE(widget.currentRow(), 2);

        model.remove(2); // the selected entry: nothing is selected afterwards
        QCOMPARE(rows(widget), (QStringList { "Urgente 1", "job 1", "job 3" }));
        QCOMPARE(widget.currentRow(), -1);
        QVERIFY(widget.selectedItems().isEmpty());
        QCOMPARE(model.selectedIndex(), -1);
        QCOMPARE(handlerRuns, 1);
    }

    void operatorsClickSelectsInTheModel()
    {
        QueueList model;
        int handlerRuns = 0;
        model.setSelectionHandler([&] { ++handlerRuns; });
        for (const char *text : { "job 1", "job 2", "job 3" })
            model.insert(model.count(), QString::fromLatin1(text));
        QueueListWidget widget(model, nullptr);
        widget.show();
        const QRect second = widget.visualItemRect(widget.item(2));
        QTest::mouseClick(widget.viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(model.selectedIndex(), 2);
        QCOMPARE(handlerRuns, 1);
        QTest::mouseClick(widget.viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(handlerRuns, 1); // the entry already selected: no change, no handler
        widget.setFocus();
        QTest::keyClick(&widget, Qt::Key_Up);
        QCOMPARE(model.selectedIndex(), 1);
        QCOMPARE(handlerRuns, 2);
    }
};

QTEST_MAIN(TestQueueListWidget)
#include "tst_queuelistwidget.moc"
