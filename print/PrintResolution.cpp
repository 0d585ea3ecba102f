#include "PrintResolution.h"

#include "ModConf.h"

#include <QLoggingCategory>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcPrint)

namespace PrintResolution {

int effectivePpi(QSize pixels, QSizeF inches)
{
    if (pixels.isEmpty() || !(inches.width() > 0 && inches.height() > 0))
        return 0;
    // The photo is turned so that its longer side lies along the size's longer side.
    if ((pixels.width() >= pixels.height()) != (inches.width() >= inches.height()))
        pixels.transpose();
    // Filling the size, the axis with fewer pixels per inch sets the scale; the other is cropped.
    const double ppi = std::min(pixels.width() / inches.width(), pixels.height() / inches.height());
    // A hair of slack, so that 1500 pixels over 10 inches stays 150 whatever the rounding.
    return int(std::floor(ppi + 1e-9));
}

Grade gradeOf(int ppi)
{
    if (ppi < CoarsePpi)
        return Grade::Coarse;
    return ppi < SoftPpi ? Grade::Soft : Grade::Fine;
}

QSizeF paperInches(int paperSize)
{
    const auto paper = ModConf::paperSettings(paperSize);
    return paper ? QSizeF(paper->width / 100.0, paper->height / 100.0) : QSizeF();
}

void logIfLow(const QString &path, int paperSize, int ppi)
{
    if (ppi <= 0 || gradeOf(ppi) == Grade::Fine)
        return;
    static std::mutex mutex;
    static QSet<QString> logged;
    {
        std::lock_guard lock(mutex);
        const QString key = path + QLatin1Char('\n') + QString::number(paperSize)
            + QLatin1Char('\n') + QString::number(ppi);
        if (logged.contains(key))
            return;
        logged.insert(key);
    }
    static const char *const sizes[] = { "10x15", "13x18", "15x23" };
    const bool coarse = gradeOf(ppi) == Grade::Coarse;
    qCInfo(lcPrint, "'%s' has %d ppi at %s, below %d ppi: it may print %s", qUtf8Printable(path),
           ppi, paperSize >= 0 && paperSize < 3 ? sizes[paperSize] : "?",
           coarse ? CoarsePpi : SoftPpi, coarse ? "blocky" : "soft");
}

} // namespace PrintResolution
