#pragma once

#include <QSize>
#include <QSizeF>
#include <QString>

// How finely a photo prints at its size: the pixels the photo lays across one inch of the
// printed area once it fills the size (the photo turned to the size's orientation, the excess
// cropped). Below SoftPpi a print looks soft, below CoarsePpi blocky; the photo still prints.
namespace PrintResolution {

constexpr int SoftPpi = 150;
constexpr int CoarsePpi = 100;

enum class Grade { Fine, Soft, Coarse };

// Whole pixels per inch (rounded down) of a photo of `pixels` filling `inches`; 0 when either
// is empty.
int effectivePpi(QSize pixels, QSizeF inches);
Grade gradeOf(int ppi);
// The print size of paper size 0, 1 or 2 in inches from the settings; empty for another.
QSizeF paperInches(int paperSize);
// Logs, once per photo file and resolution, that `path` prints at `ppi` on `paperSize`, when
// that is below SoftPpi. Any thread.
void logIfLow(const QString &path, int paperSize, int ppi);

} // namespace PrintResolution
