// zelvo.ini content from the fuzzer: reading never fails or returns more than 254 characters,
// every setting converts to a usable value, and a saved value reads back while the rest of the
// file keeps its values.
#include "ModConf.h"
#include "ModIni.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

QString expectedReadBack(const QString &value)
{
    QString v = value;
    while (!v.isEmpty() && (v.front() == QLatin1Char(' ') || v.front() == QLatin1Char('\t')))
        v.remove(0, 1);
    while (!v.isEmpty() && (v.back() == QLatin1Char(' ') || v.back() == QLatin1Char('\t')))
        v.chop(1);
    if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\''))
        && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v.left(ModIni::MaxValueLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first line (up to 300 bytes) is the value to save, the rest the file's content.
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.left(300).indexOf('\n');
    const QString value = cut < 0 ? QString() : QString::fromUtf8(input.left(cut));
    const QByteArray content = cut < 0 ? input : input.mid(cut + 1);

    const QString general = QStringLiteral("General");
    const QString key = QStringLiteral("SYSTEM_FOLDER");
    const QString printers = QStringLiteral("Printers");
    const QString width = QStringLiteral("10x15W");

    const QString before = ModIni::readIniValue(content, general, key);
    const QString otherBefore = ModIni::readIniValue(content, printers, width);
    if (before.size() > ModIni::MaxValueLength)
        std::abort();
    ModConf::parsePrintAll(ModIni::readIniValue(content, general, QStringLiteral("PRINT_ALL")));
    // A size is 0 (the default follows) or a finite number within the 16-bit sizes.
    for (const char *size : { "10x15W", "10x15H", "13x18W", "13x18H", "15x23W", "15x23H" }) {
        const float v
            = ModConf::parseDimension(ModIni::readIniValue(content, printers, QLatin1String(size)));
        if (!std::isfinite(v) || v > 32767)
            std::abort();
    }

    const auto saved = ModIni::writeIniValue(content, general, key, value);
    if (!saved)
        return 0; // values with line breaks are refused
    if (ModIni::readIniValue(*saved, general, key) != expectedReadBack(value))
        std::abort();
    if (ModIni::readIniValue(*saved, printers, width) != otherBefore)
        std::abort();
    return 0;
}
