#pragma once

#include "PrinterPort.h"

// A printing platform with a fixed list of printers and no documents, for windows that only
// list printers.
class StaticPrinterPort : public PrinterPort
{
public:
    explicit StaticPrinterPort(QStringList names)
        : names(std::move(names))
    { }
    QStringList installedPrinters() const override { return names; }
    QString defaultPrinter() const override { return names.value(0); }
    QString currentPrinter() const override
    {
        return current.isEmpty() ? defaultPrinter() : current;
    }
    void setCurrentPrinter(const QString &deviceName) override { current = deviceName; }
    float resolution() override { return 300; }
    QSizeF printableSize() override { return { 1800, 1200 }; }
    bool beginDocument(const QString &) override { return false; }
    QPainter *painter() override { return nullptr; }
    bool newPage() override { return false; }
    bool endDocument() override { return false; }

    QStringList names;
    QString current;
};
