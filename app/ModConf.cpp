#include "ModConf.h"

#include "LocaleNumber.h"
#include "ModIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdint>
#include <limits>

Q_DECLARE_LOGGING_CATEGORY(lcIni)

namespace ModConf {

QString AppPath;
QString ProgramPath;
QString SystemFolder;
bool PrintAll = false;
QString Printer10x15;
QString Printer13x18;
QString Printer15x23;
float Width10x15 = 0;
float Height10x15 = 0;
float Width13x18 = 0;
float Height13x18 = 0;
float Width15x23 = 0;
float Height15x23 = 0;
QString StandIn10x15;
QString StandIn13x18;
QString StandIn15x23;
PrintPace Pace = PrintPace::Tick;

namespace {

struct DimensionDefault
{
    float *global;
    const char *key;
    float fallback;
};

const DimensionDefault dimensions[] = {
    { &Width10x15, "10x15W", 613 }, { &Height10x15, "10x15H", 413 },
    { &Width13x18, "13x18W", 700 }, { &Height13x18, "13x18H", 500 },
    { &Width15x23, "15x23W", 900 }, { &Height15x23, "15x23H", 600 },
};

bool isBlankText(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace

QString stationFolderFor(const QString &programFolder)
{
    const QString installed = QStringLiteral(ZELVO_INSTALLED_PROGRAM_DIR);
    const QString folder = QDir::cleanPath(programFolder);
    const QString canonical = QFileInfo(installed).canonicalFilePath();
    if (folder == installed || (!canonical.isEmpty() && folder == canonical))
        return QStringLiteral(ZELVO_INSTALLED_STATION_DIR);
    return programFolder;
}

QString stationFolder()
{
    return stationFolderFor(QCoreApplication::applicationDirPath());
}

QString settingsFilePath(const QString &appPath)
{
    return appPath + QStringLiteral("/zelvo.ini");
}

std::optional<bool> parsePrintAll(const QString &text)
{
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto number = parseLocaleNumber(word))
        return *number != 0;
    return std::nullopt;
}

std::optional<PrintPace> parsePrintPace(const QString &text)
{
    const QString word = text.trimmed();
    if (word.isEmpty() || word == QLatin1String("15"))
        return PrintPace::Tick;
    if (word.compare(QLatin1String("PRINTERS"), Qt::CaseInsensitive) == 0)
        return PrintPace::Printers;
    return std::nullopt;
}

QString printPaceText(PrintPace pace)
{
    return pace == PrintPace::Printers ? QStringLiteral("PRINTERS") : QStringLiteral("15");
}

float parseDimension(const QString &text)
{
    const auto number = parseLocaleNumber(text);
    // Beyond what the configuration window accepts the size arithmetic would overflow.
    if (!number || *number > std::numeric_limits<int16_t>::max())
        return 0;
    return float(*number);
}

void ReadSettings(const QString &iniPath)
{
    const QString general = QStringLiteral("General");
    const QString printers = QStringLiteral("Printers");
    SystemFolder = ModIni::ReadIni(general, QStringLiteral("SYSTEM_FOLDER"), iniPath);
    const QString printAll = ModIni::ReadIni(general, QStringLiteral("PRINT_ALL"), iniPath);
    // Orders awaiting payment are printed only when the file clearly says so.
    PrintAll = parsePrintAll(printAll).value_or(false);
    if (!parsePrintAll(printAll))
        qCWarning(lcIni, "PRINT_ALL is '%s' in '%s'; orders awaiting payment are not printed.",
                  qPrintable(printAll), qPrintable(iniPath));
    const QString pace = ModIni::ReadIni(general, QStringLiteral("PRINT_PACE"), iniPath);
    Pace = parsePrintPace(pace).value_or(PrintPace::Tick);
    if (!parsePrintPace(pace))
        qCWarning(lcIni, "PRINT_PACE is '%s' in '%s'; one photo is printed per tick.",
                  qPrintable(pace), qPrintable(iniPath));
    Printer10x15 = ModIni::ReadIni(printers, QStringLiteral("10x15"), iniPath);
    Printer13x18 = ModIni::ReadIni(printers, QStringLiteral("13x18"), iniPath);
    Printer15x23 = ModIni::ReadIni(printers, QStringLiteral("15x23"), iniPath);
    for (const DimensionDefault &d : dimensions)
        *d.global = parseDimension(ModIni::ReadIni(printers, QLatin1String(d.key), iniPath));
    StandIn10x15 = ModIni::ReadIni(printers, QStringLiteral("10x15_2"), iniPath);
    StandIn13x18 = ModIni::ReadIni(printers, QStringLiteral("13x18_2"), iniPath);
    StandIn15x23 = ModIni::ReadIni(printers, QStringLiteral("15x23_2"), iniPath);
}

void ApplySettingsDefaults(const QString &appPath, const QString &currentPrinter)
{
    if (isBlankText(SystemFolder))
        SystemFolder = appPath;
    fillEmptyPrinterKeys(currentPrinter);
    for (const DimensionDefault &d : dimensions) {
        if (!(*d.global > 0))
            *d.global = d.fallback;
    }
}

bool hasEmptyPrinterKey()
{
    return isBlankText(Printer10x15) || isBlankText(Printer13x18) || isBlankText(Printer15x23);
}

void fillEmptyPrinterKeys(const QString &printer)
{
    if (isBlankText(printer))
        return;
    for (QString *key : { &Printer10x15, &Printer13x18, &Printer15x23 }) {
        if (isBlankText(*key))
            *key = printer;
    }
}

std::optional<PaperSettings> paperSettings(int paperSize)
{
    switch (paperSize) {
    case 0:
        return PaperSettings { Printer10x15, Width10x15, Height10x15, StandIn10x15 };
    case 1:
        return PaperSettings { Printer13x18, Width13x18, Height13x18, StandIn13x18 };
    case 2:
        return PaperSettings { Printer15x23, Width15x23, Height15x23, StandIn15x23 };
    default:
        return std::nullopt;
    }
}

} // namespace ModConf
