#pragma once

#include "PrinterPort.h"

#include <QImage>
#include <QList>
#include <QPainter>
#include <QStringList>

// A printing platform in memory: printers with a resolution and a printable size, and each
// document's pages kept as white images that the test can look at. Failures on demand.
class RecordingPrinterPort : public PrinterPort
{
public:
    struct Printer
    {
        QString name;
        float dpi = 300;
        QSizeF printable;
    };

    QList<Printer> printers;
    QString systemDefault;
    bool failBegin = false;
    bool failNewPage = false;
    bool failEnd = false;

    QStringList calls;
    QList<QImage> pages; // of the open or last document
    int documentsEnded = 0;

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
    void setCurrentPrinter(const QString &deviceName) override
    {
        calls << QStringLiteral("setCurrentPrinter ") + deviceName;
        if (installedPrinters().contains(deviceName))
            m_current = deviceName;
    }
    float resolution() override
    {
        const Printer *p = find();
        return p ? p->dpi : 0;
    }
    QSizeF printableSize() override
    {
        const Printer *p = find();
        return p ? p->printable : QSizeF();
    }
    bool beginDocument(const QString &title) override
    {
        calls << QStringLiteral("beginDocument ") + title;
        if (failBegin || !find() || m_painter.isActive())
            return false;
        pages.clear();
        startPage();
        return true;
    }
    QPainter *painter() override { return m_painter.isActive() ? &m_painter : nullptr; }
    bool newPage() override
    {
        calls << QStringLiteral("newPage");
        if (failNewPage || !m_painter.isActive())
            return false;
        m_painter.end();
        startPage();
        return true;
    }
    bool endDocument() override
    {
        calls << QStringLiteral("endDocument");
        if (!m_painter.isActive())
            return false;
        m_painter.end();
        ++documentsEnded;
        return !failEnd;
    }

private:
    const Printer *find() const
    {
        for (const Printer &p : printers) {
            if (p.name == currentPrinter())
                return &p;
        }
        return nullptr;
    }
    void startPage()
    {
        QImage page(find()->printable.toSize(), QImage::Format_RGB32);
        page.fill(Qt::white);
        pages.append(page);
        m_painter.begin(&pages.last());
    }

    QString m_current;
    QPainter m_painter;
};
