#pragma once

#include "PrinterPort.h"

#include <QImage>
#include <QPainter>
#include <QStringList>

#include <algorithm>

// A printing platform in memory: printers with a resolution and a printable size (300 dpi and
// 1800 x 1200 unless given), each document noted and its pages kept as white images to look at,
// and failures on demand. With answerLater, documents go out as CUPS's do, answered later by
// answer(); the snapshot is the test's to set and publish().
class RecordingPrinterPort : public PrinterPort
{
public:
    struct Printer
    {
        QString name;
        float dpi = 300;
        QSizeF printable { 1800, 1200 };
    };
    struct Document
    {
        QString printer;
        QString title;
        bool ended = false;
        bool drawn = false; // something at the centre of a page, where every photo goes
    };
    // The first printer given is the system's default.
    explicit RecordingPrinterPort(const QList<Printer> &installed = {})
        : printers(installed)
        , systemDefault(installed.value(0).name)
    { }

    QList<Printer> printers;
    QString systemDefault;
    bool failBegin = false, failNewPage = false, failEnd = false;
    bool answerLater = false;
    QList<int> waitingTickets;
    PrinterSnapshot snap = [] {
        PrinterSnapshot answering;
        answering.generation = 1;
        answering.answering = true;
        return answering;
    }();
    QList<int> followed;
    QList<Document> documents; // every document begun
    QList<QImage> pages; // of the open or last document

    // One field of every document begun, in order.
    QStringList noted(QString Document::*field) const
    {
        QStringList values;
        for (const Document &document : documents)
            values << document.*field;
        return values;
    }
    QStringList titles() const { return noted(&Document::title); }

    PrintQueues printQueues() const override
    {
        QStringList queues = installedPrinters();
        queues.removeAll(BuiltInPdfPrinter);
        return { true, queues, systemDefault };
    }
    QStringList installedPrinters() const override
    {
        QStringList names;
        for (const Printer &p : printers)
            names << p.name;
        return names;
    }
    QString defaultPrinter() const override { return systemDefault; }
    QString currentPrinter() const override
    {
        return m_current.isEmpty() ? systemDefault : m_current;
    }
    void setCurrentPrinter(const QString &name) override
    {
        if (installedPrinters().contains(name))
            m_current = name;
    }
    float resolution() override { return find() ? find()->dpi : 0; }
    QSizeF printableSize() override { return find() ? find()->printable : QSizeF(); }
    bool beginDocument(const QString &title) override
    {
        if (failBegin || !find())
            return false;
        documents << Document { currentPrinter(), title };
        pages.clear();
        return startPage();
    }
    QPainter *painter() override { return m_painter.isActive() ? &m_painter : nullptr; }
    bool newPage() override { return !failNewPage && m_painter.end() && startPage(); }
    void abandonDocument() override { m_painter.end(); }
    Handover endDocument() override
    {
        if (!m_painter.isActive())
            return {};
        documents.last().ended = true;
        for (const QImage &page : pages)
            documents.last().drawn |= page.pixelColor(page.rect().center()) != Qt::white;
        if (!m_painter.end() || failEnd)
            return {};
        if (!answerLater)
            return { Handover::Accepted, 0, 0, currentPrinter() };
        waitingTickets << int(documents.size());
        return { Handover::Pending, waitingTickets.last(), 0, currentPrinter() };
    }
    // CUPS's answer to the oldest document waiting: its job id, or 0 for a refusal.
    void answer(int jobId)
    {
        const int ticket = waitingTickets.takeFirst();
        emit events.documentAnswered(ticket, jobId);
    }
    // Job `jobId` ended in `state` (or any other change in `snap`), as the next snapshot says.
    void publish(int jobId = 0, int state = 0)
    {
        if (jobId > 0)
            snap.jobStates.insert(jobId, state);
        ++snap.generation;
        emit events.snapshotChanged();
    }
    PrinterSnapshot snapshot() const override { return snap; }
    void setFollowedJobs(const QList<int> &jobs) override { followed = jobs; }
    bool idle() const override { return waitingTickets.isEmpty(); }

private:
    const Printer *find() const
    {
        const auto it = std::find_if(printers.begin(), printers.end(), [this](const Printer &p) {
            return p.name == currentPrinter();
        });
        return it == printers.end() ? nullptr : &*it;
    }
    bool startPage()
    {
        pages.append(QImage(find()->printable.toSize(), QImage::Format_RGB32));
        pages.last().fill(Qt::white);
        return m_painter.begin(&pages.last());
    }
    QString m_current;
    QPainter m_painter;
};
