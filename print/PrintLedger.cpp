#include "PrintLedger.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>

Q_DECLARE_LOGGING_CATEGORY(lcTracker)

const QString PrintLedger::Sent = QStringLiteral("enviado");
const QString PrintLedger::Completed = QStringLiteral("concluido");
const QString PrintLedger::Aborted = QStringLiteral("abortado");
const QString PrintLedger::Canceled = QStringLiteral("cancelado");
const QString PrintLedger::Unknown = QStringLiteral("desconhecido");

namespace {

const QStringList Header { "hora",   "job",        "foto",     "tamanho",
                           "copias", "impressora", "job_cups", "estado" };
enum Column { Time, Job, Photo, PaperSize, Copies, Printer, CupsJob, State, Columns };

} // namespace

PrintLedger::PrintLedger(const QString &folder)
    : m_folder(folder)
{ }

QString PrintLedger::path(const QDate &day) const
{
    return m_folder + QStringLiteral("/impressoes-") + day.toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral(".csv");
}

QByteArray PrintLedger::formatLine(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields) {
        if (field.contains(QLatin1Char(';')) || field.contains(QLatin1Char('"'))
            || field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')))
            quoted << QLatin1Char('"')
                    + QString(field).replace(QStringLiteral("\""), QStringLiteral("\"\""))
                    + QLatin1Char('"');
        else
            quoted << field;
    }
    return quoted.join(QLatin1Char(';')).toUtf8() + "\r\n";
}

QList<QStringList> PrintLedger::parseLines(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> lines;
    QStringList fields;
    QString field;
    bool quoted = false;
    bool lineStarted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        lineStarted = true;
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            fields << field;
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            fields << field;
            lines << fields;
            fields.clear();
            field.clear();
            lineStarted = false;
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (lineStarted)
        lines << (fields << field);
    return lines;
}

QList<QStringList> PrintLedger::readFields(const QDate &day) const
{
    QFile file(path(day));
    QList<QStringList> lines;
    if (file.open(QIODevice::ReadOnly))
        lines = parseLines(file.readAll());
    // The header stays as it is, with the names of columns others have added.
    if (lines.isEmpty() || lines.first().value(0) != Header.first())
        lines.prepend(Header);
    return lines;
}

bool PrintLedger::writeFields(const QDate &day, const QList<QStringList> &lines) const
{
    QSaveFile file(path(day));
    if (file.open(QIODevice::WriteOnly)) {
        for (const QStringList &fields : lines)
            file.write(formatLine(fields));
        if (file.commit())
            return true;
    }
    qCWarning(lcTracker, "Cannot write the print ledger '%s': %s", qUtf8Printable(path(day)),
              qUtf8Printable(file.errorString()));
    return false;
}

bool PrintLedger::add(const QDate &day, const LedgerRow &row)
{
    QList<QStringList> lines = readFields(day);
    lines << QStringList { row.time.toString(QStringLiteral("HH:mm:ss")),
                           row.job,
                           row.photo,
                           row.paperSize,
                           QString::number(row.copies),
                           row.printer,
                           row.cupsJobId > 0 ? QString::number(row.cupsJobId) : QString(),
                           row.state };
    return writeFields(day, lines);
}

bool PrintLedger::setState(const QDate &day, const QString &printer, int cupsJobId,
                           const QString &state)
{
    return setField(day, printer, cupsJobId, State, state);
}

bool PrintLedger::setPrinter(const QDate &day, const QString &printer, int cupsJobId,
                             const QString &newPrinter)
{
    return setField(day, printer, cupsJobId, Printer, newPrinter);
}

// The row of a CUPS job is found by its printer and job id together: ids repeat across
// printers, and across days when CUPS's spool is wiped.
bool PrintLedger::setField(const QDate &day, const QString &printer, int cupsJobId, int column,
                           const QString &value)
{
    QList<QStringList> lines = readFields(day);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QStringList &fields = lines[i];
        if (fields.size() >= Columns && fields[Printer] == printer
            && fields[CupsJob] == QString::number(cupsJobId)) {
            fields[column] = value;
            return writeFields(day, lines);
        }
    }
    return false;
}

QList<LedgerRow> PrintLedger::rows(const QDate &day) const
{
    QList<LedgerRow> rows;
    for (const QStringList &f : readFields(day).mid(1)) {
        if (f.size() < Columns)
            continue;
        rows << LedgerRow { QTime::fromString(f[Time], QStringLiteral("HH:mm:ss")),
                            f[Job],
                            f[Photo],
                            f[PaperSize],
                            f[Copies].toInt(),
                            f[Printer],
                            f[CupsJob].toInt(),
                            f[State] };
    }
    return rows;
}
