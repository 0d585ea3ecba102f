#include "PrinterStatus.h"

#include <array>

namespace {

struct ReasonText
{
    const char *keyword; // without its -error, -warning or -report suffix
    const char *text;
    // Without a suffix a keyword is an error (RFC 8011); this tells which of them only warn.
    bool warnsOnly;
};

// In the order they are told when several hold; the first ones stop the printer.
constexpr std::array<ReasonText, 16> reasonTexts { {
    { "media-empty", "sem papel/mídia", false },
    { "media-needed", "sem papel/mídia", false },
    { "media-jam", "papel atolado", false },
    { "marker-supply-empty", "fita/suprimento esgotado", false },
    { "toner-empty", "fita/suprimento esgotado", false },
    { "cover-open", "tampa ou porta aberta", false },
    { "door-open", "tampa ou porta aberta", false },
    { "interlock-open", "tampa ou porta aberta", false },
    { "offline", "desligada ou desconectada", false },
    { "shutdown", "desligada ou desconectada", false },
    { "timed-out", "desligada ou desconectada", false },
    { "input-tray-missing", "bandeja ausente", false },
    { "output-area-full", "bandeja de saída cheia", false },
    { "media-low", "papel/mídia acabando", true },
    { "marker-supply-low", "fita/suprimento acabando", true },
    { "toner-low", "fita/suprimento acabando", true },
} };

const char *const LowSupplyText = "fita/suprimento acabando";

// A printer that is off or unplugged keeps its job "processing" and says so only in a report
// (the usb backend's offline-report), so these stop the printer whatever their suffix.
bool isOfflineKeyword(const QString &keyword)
{
    return keyword == QLatin1String("offline") || keyword == QLatin1String("shutdown")
        || keyword == QLatin1String("timed-out");
}

struct SplitReason
{
    QString keyword;
    QString suffix;
};

SplitReason splitReason(const QString &reason)
{
    for (const char *suffix : { "-error", "-warning", "-report" }) {
        if (reason.endsWith(QLatin1String(suffix)))
            return { reason.chopped(int(qstrlen(suffix))), QLatin1String(suffix) };
    }
    return { reason, {} };
}

void addOnce(QStringList &texts, const QString &text)
{
    if (!texts.contains(text))
        texts << text;
}

} // namespace

QString queueOfDevice(const QString &device)
{
    return device.section(QLatin1Char('/'), 0, 0);
}

std::optional<MarkerLevel> lowestMarker(const QueueStatus &status)
{
    std::optional<MarkerLevel> lowest;
    for (const MarkerLevel &marker : status.markers) {
        if (marker.level >= 0 && (!lowest || marker.level < lowest->level))
            lowest = marker;
    }
    return lowest;
}

PrinterDescription describePrinter(const QString &printer, const PrinterSnapshot &snapshot,
                                   const QString &builtInPrinter)
{
    using H = PrinterHealth;
    if (printer == builtInPrinter)
        return { QStringLiteral("Pronta (arquivos PDF)"), H::Ready };
    if (!snapshot.answering)
        return { QStringLiteral("CUPS não responde"), H::Stopped };
    if (printer.trimmed().isEmpty())
        return { QStringLiteral("Sem impressora"), H::Stopped };
    const auto found = snapshot.status.constFind(queueOfDevice(printer));
    if (found == snapshot.status.constEnd())
        return { QStringLiteral("Sem impressora: não instalada no CUPS"), H::Stopped };
    const QueueStatus &queue = *found;

    QStringList errors;
    QStringList warnings;
    for (const ReasonText &known : reasonTexts) {
        for (const QString &reason : queue.reasons) {
            const SplitReason split = splitReason(reason);
            if (split.keyword != QLatin1String(known.keyword))
                continue;
            const bool warns = split.suffix == QLatin1String("-warning")
                || (split.suffix == QLatin1String("-report") && !isOfflineKeyword(split.keyword))
                || (split.suffix.isEmpty() && known.warnsOnly);
            addOnce(warns ? warnings : errors, QString::fromUtf8(known.text));
        }
    }
    // A driver that reports levels but no reason still shows a supply at its low mark.
    for (const MarkerLevel &marker : queue.markers) {
        if (marker.level >= 0 && marker.lowLevel >= 0 && marker.level <= marker.lowLevel)
            addOnce(warnings, QString::fromUtf8(LowSupplyText));
    }

    const bool paused = queue.reasons.contains(QLatin1String("paused"));
    const int waiting = queue.queuedJobs - (queue.state == 4 ? 1 : 0);
    QString text;
    if (!errors.isEmpty())
        text = QStringLiteral("Parada: ") + errors.join(QStringLiteral(", "));
    else if (!queue.accepting)
        text = QStringLiteral("Não aceita trabalhos");
    else if (queue.state == 5)
        text = paused ? QStringLiteral("Pausada") : QStringLiteral("Parada");
    if (!text.isEmpty()) {
        if (waiting > 0)
            text += QStringLiteral(" (%1 na fila)").arg(waiting);
        return { text, H::Stopped };
    }

    text = queue.state == 4 ? QStringLiteral("Imprimindo") : QStringLiteral("Pronta");
    if (waiting > 0)
        text += QStringLiteral(", %1 na fila").arg(waiting);
    if (warnings.isEmpty())
        return { text, H::Ready };
    return { text + QStringLiteral("; ") + warnings.join(QStringLiteral(", ")), H::Warning };
}
