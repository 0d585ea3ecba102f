#pragma once

#include "PrinterPort.h"

#include <QImage>
#include <QPainter>
#include <QStringList>

// A printing platform in memory: printers with a resolution and a printable size, each
// document's pages kept as white images to look at, and failures on demand.
class RecordingPrinterPort : public PrinterPort
{
public:
    struct Printer
    {
        QString name;
        float dpi;
        QSizeF printable;
    };
    QList<Printer> printers;
    QString systemDefault;
    bool failBegin = false, failNewPage = false, failEnd = false;
    QStringList madeCurrent; // every name passed to setCurrentPrinter
    int newPages = 0;
    QList<QImage> pages; // of the open or last document

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
        madeCurrent << name;
        if (installedPrinters().contains(name))
            m_current = name;
    }
    float resolution() override { return find() ? find()->dpi : 0; }
    QSizeF printableSize() override { return find() ? find()->printable : QSizeF(); }
    bool beginDocument(const QString &) override
    {
        if (failBegin || !find())
            return false;
        pages.clear();
        return startPage();
    }
    QPainter *painter() override { return m_painter.isActive() ? &m_painter : nullptr; }
    bool newPage() override
    {
        ++newPages;
        return !failNewPage && m_painter.end() && startPage();
    }
    bool endDocument() override { return m_painter.end() && !failEnd; }

private:
    const Printer *find() const
    {
        for (const Printer &p : printers) {
            if (p.name == currentPrinter())
                return &p;
        }
        return nullptr;
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
