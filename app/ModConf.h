#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The station's settings, read once at start-up from zelvo.ini beside the program and changed
// only by the configuration window's Save. Every other part reads them from here, for every
// photo, so a saved change applies to the next photo printed.
namespace ModConf {

// The folder that holds the program; zelvo.ini and sounds/keypress.wav live there.
extern QString AppPath;

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

// What a job line's paper-size code stands for: its printer and its printable size.
struct PaperSettings
{
    QString printer;
    float width = 0;
    float height = 0;
};

// The settings of paper size 0 (10x15), 1 (13x18) or 2 (15x23); nullopt for any other code.
std::optional<PaperSettings> paperSettings(int paperSize);

} // namespace ModConf
