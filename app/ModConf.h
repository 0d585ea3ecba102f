#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The station's settings, read once at start-up from zelvo.ini beside the program and changed
// only by the configuration window's Save. Every other part reads them from here, for every
// photo, so a saved change applies to the next photo printed.
namespace ModConf {

// The station folder: zelvo.ini, the log, the ledgers, the lock and whatever else the station
// writes live there (see stationFolder()).
extern QString AppPath;
// The folder that holds the program and its sounds; empty means the running program's own.
extern QString ProgramPath;

extern QString SystemFolder;
extern bool PrintAll;
extern QString Printer10x15;
extern QString Printer13x18;
extern QString Printer15x23;
// Printable sizes in hundredths of an inch; the width is laid along the page's longer side.
extern float Width10x15;
extern float Height10x15;
extern float Width13x18;
extern float Height13x18;
extern float Width15x23;
extern float Height15x23;
// A second printer per paper size that takes its photos when the first cannot, or beside it
// with the printers' pace; "" for none.
extern QString StandIn10x15;
extern QString StandIn13x18;
extern QString StandIn15x23;

// How photos are handed to the printers: one per polling tick (every 15 s) across all
// printers, or each printer fed as soon as it has room for another document.
enum class PrintPace { Tick, Printers };
extern PrintPace Pace;

// What a job line's paper-size code stands for: its printer and its printable size.
struct PaperSettings
{
    QString printer;
    float width = 0;
    float height = 0;
    QString standIn; // "" for none
};

// Where a program in `programFolder` keeps what it writes. The package installs the program
// where only root may change it and gives the station a folder of its own that the group zelvo
// may write; a program anywhere else (a source build, a copy) keeps its files beside itself.
QString stationFolderFor(const QString &programFolder);
// The station folder of the running program.
QString stationFolder();

// zelvo.ini in the station folder.
QString settingsFilePath(const QString &appPath);

// Reads the settings from `iniPath` in their fixed order. Unreadable values leave the
// global empty or 0 so that ApplySettingsDefaults fills them in.
void ReadSettings(const QString &iniPath);

// Fills in what the settings leave open: the program's folder for an empty system folder,
// `currentPrinter` for an empty printer name (unless that is empty too), the fixed defaults for
// sizes not above 0.
void ApplySettingsDefaults(const QString &appPath, const QString &currentPrinter);

// Whether a printer name is empty or blanks only, so that it names no printer yet.
bool hasEmptyPrinterKey();
// Gives `printer` to every printer name that is empty or blanks only; none when it is empty.
void fillEmptyPrinterKeys(const QString &printer);

// PRINT_ALL's text: True or False in any letter case, or a number (0 is False). Anything else
// gives nullopt.
std::optional<bool> parsePrintAll(const QString &text);

// PRINT_PACE's text: missing, empty or 15 is the tick's pace, PRINTERS (any letter case) the
// printers' own. Anything else gives nullopt.
std::optional<PrintPace> parsePrintPace(const QString &text);
// The text Save writes for `pace`.
QString printPaceText(PrintPace pace);

// A printable width or height: a number in the locale, or 0 when the text is empty, not a
// number, or too large for the 16-bit sizes the configuration window accepts.
float parseDimension(const QString &text);

// The settings of paper size 0 (10x15), 1 (13x18) or 2 (15x23); nullopt for any other code.
std::optional<PaperSettings> paperSettings(int paperSize);

} // namespace ModConf
