#include "PrinterStrip.h"

#include "ConsoleLook.h"
#include "PrintTracker.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace {

constexpr int RowHeight = 17;
constexpr int Top = 3;
constexpr int GaugeLeft = 506;
constexpr int GaugeWidth = 50;

const QColor ReadyColour(40, 140, 60);
const QColor WarningColour(205, 125, 0);
const QColor StoppedColour(200, 35, 35);

QColor colourOf(PrinterHealth health)
{
    switch (health) {
    case PrinterHealth::Ready:
        return ReadyColour;
    case PrinterHealth::Warning:
        return WarningColour;
    case PrinterHealth::Stopped:
        return StoppedColour;
    }
    return ReadyColour;
}

QLabel *cell(QWidget *parent, int left, int top, int width, double pointSize)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(left, top, width, RowHeight);
    label->setFont(ConsoleLook::labelFont(pointSize));
    ConsoleLook::setTextColour(label, ConsoleLook::LabelGrey);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// The text elided to the label's width, the whole of it in the tooltip.
void setFittingText(QLabel *label, const QString &text)
{
    const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, label->width());
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : ConsoleLook::plainToolTip(text));
}

// A size's health with a stand-in: it prints while either printer does.
PrinterHealth combinedHealth(PrinterHealth first, PrinterHealth second)
{
    if (first == PrinterHealth::Stopped && second == PrinterHealth::Stopped)
        return PrinterHealth::Stopped;
    if (first == PrinterHealth::Ready && second == PrinterHealth::Ready)
        return PrinterHealth::Ready;
    return PrinterHealth::Warning;
}

constexpr int StateLeft = 224;
constexpr int StateWidth = 276;
constexpr int ResumeWidth = 58;

} // namespace

PrinterStrip::PrinterStrip(PrintTracker &tracker, QWidget *parent)
    : QWidget(parent)
    , m_tracker(tracker)
{
    for (int i = 0; i < 3; ++i) {
        const int top = Top + i * RowHeight;
        Row row { cell(this, 22, top, 46, 8.25),
                  cell(this, 70, top, 150, 8.25),
                  cell(this, StateLeft, top, StateWidth, 8.25),
                  cell(this, 596, top, 62, 8.25),
                  new QPushButton(QStringLiteral("Retomar"), this),
                  {} };
        row.today->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row.resume->setGeometry(StateLeft + StateWidth - ResumeWidth, top, ResumeWidth, RowHeight);
        row.resume->setFont(ConsoleLook::labelFont(7.5));
        row.resume->setVisible(false);
        row.resume->setObjectName(QStringLiteral("resume%1").arg(i));
        connect(row.resume, &QPushButton::clicked, this,
                [this, i] { emit resumeRequested(rows[i].resumeDevice); });
        rows << row;
    }
    notice = cell(this, 22, Top + 3 * RowHeight, 636, 8.25);
    printAgain = new QPushButton(QStringLiteral("Imprimir de novo"), this);
    printAgain->setObjectName(QStringLiteral("printAgain"));
    printAgain->setFont(ConsoleLook::labelFont(7.5));
    printAgain->setGeometry(658 - 96, Top + 3 * RowHeight, 96, RowHeight);
    printAgain->setVisible(false);
    connect(printAgain, &QPushButton::clicked, this, [this] { m_tracker.printAgain(); });
    connect(&m_tracker, &PrintTracker::changed, this, &PrinterStrip::refresh);
    refresh();
}

void PrinterStrip::refresh()
{
    const QList<SizeLine> lines = m_tracker.sizeLines();
    for (int i = 0; i < rows.size() && i < lines.size(); ++i) {
        Row &row = rows[i];
        const SizeLine &line = lines[i];
        row.size->setText(line.size);
        const QString printer = line.printer.isEmpty() ? QStringLiteral("—") : line.printer;
        row.resumeDevice = line.resumable;
        row.resume->setVisible(!line.resumable.isEmpty());
        row.state->resize(StateWidth - (line.resumable.isEmpty() ? 0 : ResumeWidth + 2), RowHeight);
        if (line.standIn.isEmpty()) {
            setFittingText(row.printer, printer);
            setFittingText(row.state, line.description.text);
            row.health = line.description.health;
        } else {
            setFittingText(row.printer, printer + QStringLiteral(" + ") + line.standIn);
            setFittingText(row.state,
                           line.description.text + QStringLiteral(" | ")
                               + line.standInDescription.text);
            row.health = combinedHealth(line.description.health, line.standInDescription.health);
        }
        ConsoleLook::setTextColour(row.state,
                                   row.health == PrinterHealth::Stopped ? StoppedColour
                                                                        : ConsoleLook::LabelGrey);
        row.mediaLevel = line.media ? line.media->level : -1;
        row.mediaLow = line.media ? line.media->lowLevel : -1;
        row.today->setText(QStringLiteral("Hoje: %1").arg(line.printedToday));
    }
    const bool alert = m_tracker.isAlert();
    printAgain->setVisible(m_tracker.canPrintAgain());
    notice->resize(printAgain->isHidden() ? 636 : 636 - 100, RowHeight);
    QString text = m_tracker.notice();
    if (alert && m_tracker.alertCount() > 1)
        text = QStringLiteral("(%1) ").arg(m_tracker.alertCount()) + text;
    if (!hold.isEmpty())
        setFittingText(notice, hold);
    else
        setFittingText(notice,
                       text.isEmpty() ? QString()
                                      : text
                               + (alert ? QStringLiteral(" — clique para dispensar") : QString()));
    if (alert || !hold.isEmpty())
        notice->setToolTip(ConsoleLook::plainToolTip(hold.isEmpty() ? text : hold));
    ConsoleLook::setTextColour(notice,
                               alert || !hold.isEmpty() ? StoppedColour : ConsoleLook::LabelGrey);
    update();
}

void PrinterStrip::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        const int middle = Top + i * RowHeight + RowHeight / 2;
        // The state light; a printer that cannot print carries a "!" in it.
        p.setPen(Qt::NoPen);
        p.setBrush(colourOf(row.health));
        const QRectF light(6, middle - 6, 12, 12);
        p.drawEllipse(light);
        if (row.health == PrinterHealth::Stopped) {
            p.setPen(Qt::white);
            p.setFont(ConsoleLook::labelFont(7.5));
            p.drawText(light, Qt::AlignCenter, QStringLiteral("!"));
        }
        if (row.mediaLevel < 0)
            continue;
        // Media left: a bar filled to its level, with a tick at the driver's low mark.
        const QRectF bar(GaugeLeft, middle - 4, GaugeWidth, 8);
        p.setPen(QPen(QColor(120, 140, 160), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(bar, 3, 3);
        const bool low = row.mediaLow >= 0 && row.mediaLevel <= row.mediaLow;
        p.setPen(Qt::NoPen);
        p.setBrush(low ? WarningColour : ReadyColour);
        p.drawRoundedRect(QRectF(bar.left() + 1, bar.top() + 1,
                                 (bar.width() - 2) * std::min(row.mediaLevel, 100) / 100.0,
                                 bar.height() - 2),
                          2, 2);
        if (row.mediaLow >= 0) {
            const double x = bar.left() + bar.width() * std::min(row.mediaLow, 100) / 100.0;
            p.setPen(QPen(QColor(60, 60, 60), 1.5));
            p.drawLine(QPointF(x, bar.top() - 2), QPointF(x, bar.bottom() + 2));
        }
        p.setPen(ConsoleLook::LabelGrey);
        p.setFont(ConsoleLook::labelFont(7.5));
        p.drawText(QRectF(bar.right() + 3, middle - 8, 30, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1%").arg(row.mediaLevel));
    }
}

void PrinterStrip::mousePressEvent(QMouseEvent *event)
{
    event->accept(); // the release comes here, not to the window
}

void PrinterStrip::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && hold.isEmpty()
        && notice->geometry().contains(event->position().toPoint()))
        m_tracker.acknowledge();
}
