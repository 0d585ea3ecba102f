// Draws the station's artwork: the main window's background, the twelve button pictures, the
// program's icon at the sizes desktop menus use, and the click sound. Run it (target make_assets)
// after changing a drawing; its output is committed, so a build does not depend on it.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdint>
#include <random>

namespace {

const QColor ground(36, 110, 170);
const QColor groundDark(20, 72, 124);
const QColor panel(236, 244, 250);

QImage newImage(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A light rounded card on the blue ground, with its shadow.
void drawCard(QPainter &p, const QRectF &rect)
{
    QPainterPath card;
    card.addRoundedRect(rect, 18, 18);
    p.fillPath(card.translated(0, 3), QColor(0, 0, 0, 50));
    QLinearGradient light(0, rect.top(), 0, rect.bottom());
    light.setColorAt(0, panel);
    light.setColorAt(1, QColor(214, 230, 242));
    p.fillPath(card, light);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1.5));
    p.drawPath(card);
}

void drawBackground(const QString &path)
{
    QImage image(700, 618, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, ground);
    sky.setColorAt(1, groundDark);
    p.fillRect(image.rect(), sky);
    // The first card holds the queue, the buttons and the viewer; the title above it and
    // "Setup" below it stand on the blue ground. The printer strip has a card of its own at the
    // bottom.
    drawCard(p, QRectF(10, 44, 680, 448));
    drawCard(p, QRectF(10, 528, 680, 84));
    image.save(path);
}

// A round button face with a white symbol; `on` is the lit look.
QImage buttonFace(int size, bool on)
{
    QImage image = newImage(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1.5, 1.5, size - 3, size - 3);
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, on ? QColor(255, 190, 70) : QColor(80, 150, 205));
    g.setColorAt(1, on ? QColor(230, 120, 20) : QColor(30, 90, 150));
    p.setBrush(g);
    p.setPen(QPen(on ? QColor(170, 80, 0) : QColor(20, 60, 110), 1.5));
    p.drawEllipse(r);
    return image;
}

void drawArrows(QPainter &p, int size, bool up, bool bar, bool twoHeads)
{
    const double c = size / 2.0;
    const double s = size / 40.0;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    auto head = [&](double tipY) {
        const double dir = up ? 1 : -1;
        QPolygonF t;
        t << QPointF(c, tipY) << QPointF(c - 9 * s, tipY + dir * 9 * s)
          << QPointF(c + 9 * s, tipY + dir * 9 * s);
        p.drawPolygon(t);
    };
    const double first = up ? c - 9 * s : c + 9 * s;
    head(twoHeads ? (up ? first + 2 * s : first - 2 * s) : (up ? c - 6 * s : c + 6 * s));
    if (twoHeads)
        head(up ? first + 10 * s : first - 10 * s);
    if (bar) {
        const double y = up ? c - 12 * s : c + 10 * s;
        p.drawRoundedRect(QRectF(c - 10 * s, y, 20 * s, 2.5 * s), 1, 1);
    }
}

void drawMoveButton(const QString &path, bool on, bool up, bool bar)
{
    QImage image = buttonFace(40, on);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawArrows(p, 40, up, bar, bar);
    image.save(path);
}

void drawCancel(const QString &path, bool on)
{
    QImage image = buttonFace(40, on);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13, 13), QPointF(27, 27));
    p.drawLine(QPointF(27, 13), QPointF(13, 27));
    image.save(path);
}

// "Print now": a small printer with a sheet coming out, on a rounded tab.
void drawAgora(const QString &path, bool on)
{
    QImage image = newImage(24, 18);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(on ? QColor(170, 80, 0) : QColor(20, 60, 110), 1));
    p.setBrush(on ? QColor(255, 170, 50) : QColor(70, 140, 200));
    p.drawRoundedRect(QRectF(0.5, 0.5, 23, 17), 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(8, 3, 8, 4)); // paper in
    p.drawRoundedRect(QRectF(4, 6.5, 16, 6), 1.5, 1.5); // body
    p.setBrush(on ? QColor(255, 170, 50) : QColor(70, 140, 200));
    p.drawRect(QRectF(7, 10, 10, 1.2)); // slot
    p.setBrush(Qt::white);
    p.drawRect(QRectF(8, 11.5, 8, 4)); // paper out
    image.save(path);
}

// The program's icon: a photo print over a second one, on the station's blue tile. Drawn on a
// 64-unit grid and scaled, so every size is drawn rather than resampled.
void drawIcon(const QString &path, int size)
{
    QImage image = newImage(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    QLinearGradient g(0, 2, 0, 62);
    g.setColorAt(0, ground.lighter(125));
    g.setColorAt(1, groundDark);
    p.fillPath(tile, g);
    p.setPen(Qt::NoPen);
    p.translate(32, 34);
    p.rotate(-12);
    p.setBrush(QColor(255, 255, 255, 140));
    p.drawRoundedRect(QRectF(-22, -17, 44, 32), 2, 2);
    p.rotate(18);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(-22, -17, 44, 34), 2, 2);
    p.setBrush(QColor(150, 205, 240));
    p.drawRect(QRectF(-19, -14, 38, 24));
    p.setBrush(QColor(255, 170, 50));
    p.drawEllipse(QPointF(10, -7), 4.5, 4.5);
    p.setBrush(QColor(60, 150, 80));
    QPolygonF hills;
    hills << QPointF(-19, 10) << QPointF(-19, 4) << QPointF(-9, -5) << QPointF(0, 4)
          << QPointF(6, -1) << QPointF(19, 8) << QPointF(19, 10);
    p.drawPolygon(hills);
    p.end();
    image.save(path);
}

void put16(QByteArray &b, uint16_t v)
{
    b.append(char(v & 0xff)).append(char(v >> 8));
}

void put32(QByteArray &b, uint32_t v)
{
    put16(b, uint16_t(v & 0xffff));
    put16(b, uint16_t(v >> 16));
}

// A short key click: a noise burst through a resonant decay, 40 ms, 44.1 kHz mono 16-bit.
void writeClick(const QString &path)
{
    const int rate = 44100;
    const int samples = rate * 40 / 1000;
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> noise(-1, 1);
    QByteArray pcm;
    double low = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / rate;
        low += 0.35 * (noise(random) - low);
        const double tone = std::sin(2 * M_PI * 2200 * t) * std::exp(-t * 180);
        const double v = (0.6 * low * std::exp(-t * 260) + 0.4 * tone) * 0.7;
        put16(pcm, uint16_t(int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32000))));
    }
    QByteArray wav("RIFF");
    put32(wav, uint32_t(36 + pcm.size()));
    wav.append("WAVEfmt ");
    put32(wav, 16);
    put16(wav, 1);
    put16(wav, 1);
    put32(wav, rate);
    put32(wav, rate * 2);
    put16(wav, 2);
    put16(wav, 16);
    wav.append("data");
    put32(wav, uint32_t(pcm.size()));
    wav.append(pcm);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(wav);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out + QStringLiteral("/buttons"));
    QDir().mkpath(out + QStringLiteral("/sounds"));
    QDir().mkpath(out + QStringLiteral("/icons"));
    drawBackground(out + QStringLiteral("/background.png"));
    for (bool on : { false, true }) {
        const QString suffix = on ? QStringLiteral("_on.png") : QStringLiteral("_off.png");
        const QString b = out + QStringLiteral("/buttons/bt_");
        drawMoveButton(b + QStringLiteral("first") + suffix, on, true, true);
        drawMoveButton(b + QStringLiteral("up") + suffix, on, true, false);
        drawMoveButton(b + QStringLiteral("down") + suffix, on, false, false);
        drawMoveButton(b + QStringLiteral("last") + suffix, on, false, true);
        drawCancel(b + QStringLiteral("cancel") + suffix, on);
        drawAgora(b + QStringLiteral("agora") + suffix, on);
    }
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        drawIcon(out + QStringLiteral("/icons/zelvo_%1.png").arg(size), size);
    writeClick(out + QStringLiteral("/sounds/keypress.wav"));
    return 0;
}
