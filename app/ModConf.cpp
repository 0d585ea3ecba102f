#include "ModConf.h"

namespace ModConf {

QString AppPath;
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

std::optional<PaperSettings> paperSettings(int paperSize)
{
    switch (paperSize) {
    case 0:
        return PaperSettings { Printer10x15, Width10x15, Height10x15 };
    case 1:
        return PaperSettings { Printer13x18, Width13x18, Height13x18 };
    case 2:
        return PaperSettings { Printer15x23, Width15x23, Height15x23 };
    default:
        return std::nullopt;
    }
}

} // namespace ModConf
