// Draws the program's pictures: the splash bitmap (281 x 469, no text: the splash window writes its
// own) and the program icon. Run by hand when the design changes; the PNGs it writes are committed.
// Usage: quillet_make_resources <output folder>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QTransform>
#include <cstdio>

namespace {

const QColor kNight(16, 26, 46);
const QColor kDeep(34, 58, 94);
const QColor kMist(214, 224, 236);
const QColor kPaper(244, 246, 249);
const QColor kTeal(46, 160, 150);
const QColor kAmber(236, 164, 62);
const QColor kSky(96, 150, 212);

// A sheet with a folded top-right corner, its top-left at the origin.
QPainterPath sheet(double width, double height, double fold) {
  QPainterPath path;
  path.moveTo(0, 0);
  path.lineTo(width - fold, 0);
  path.lineTo(width, fold);
  path.lineTo(width, height);
  path.lineTo(0, height);
  path.closeSubpath();
  return path;
}

// One page of the stack: body, a coloured header strip, ruled lines and the fold.
void drawPage(QPainter& p, const QTransform& place, double width, double height, const QColor& accent,
              double opacity) {
  const double fold = width * 0.2;
  p.save();
  p.setTransform(place);
  p.setOpacity(opacity);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawPath(sheet(width, height, fold).translated(4, 5));  // soft drop shadow
  p.setBrush(kPaper);
  p.setPen(QPen(QColor(255, 255, 255, 200), 1.0));
  const QPainterPath body = sheet(width, height, fold);
  p.drawPath(body);
  p.setClipPath(body);
  p.setPen(Qt::NoPen);
  p.setBrush(accent);
  p.drawRect(QRectF(0, 0, width, height * 0.14));
  p.setClipping(false);
  p.setBrush(accent.darker(130));
  QPainterPath corner;
  corner.moveTo(width - fold, 0);
  corner.lineTo(width - fold, fold);
  corner.lineTo(width, fold);
  corner.closeSubpath();
  p.drawPath(corner);
  p.setBrush(QColor(150, 165, 185));
  for (double y = height * 0.24; y < height * 0.9; y += height * 0.085) {
    const double length = (static_cast<int>(y) % 3 == 0) ? width * 0.55 : width * 0.72;
    p.drawRoundedRect(QRectF(width * 0.12, y, length, height * 0.028), 1.5, 1.5);
  }
  p.restore();
}

QImage splash() {
  QImage image(281, 469, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  // Dark at the top for the white product and version texts, light at the bottom for the black
  // message line.
  QLinearGradient sky(0, 0, 0, 469);
  sky.setColorAt(0.0, kNight);
  sky.setColorAt(0.08, kNight);
  sky.setColorAt(0.55, kDeep);
  sky.setColorAt(0.86, kMist);
  sky.setColorAt(1.0, kPaper);
  p.fillRect(image.rect(), sky);

  // Faint platter rings behind the stack.
  p.setBrush(Qt::NoBrush);
  for (int r = 40; r <= 190; r += 22) {
    p.setPen(QPen(QColor(255, 255, 255, 26 - r / 10), 1.2));
    p.drawEllipse(QPointF(140, 205), r, r);
  }
  QRadialGradient glow(QPointF(140, 205), 150);
  glow.setColorAt(0.0, QColor(120, 180, 230, 70));
  glow.setColorAt(1.0, QColor(120, 180, 230, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(glow);
  p.drawEllipse(QPointF(140, 205), 150, 150);

  // The stack of generated files, fanned out, the front page fully opaque.
  const QColor accents[] = {kSky, kTeal, kAmber, kSky, kTeal};
  for (int i = 0; i < 5; ++i) {
    QTransform place;
    place.translate(64 + i * 11, 110 + i * 17);
    place.rotate(-14 + i * 5.5);
    drawPage(p, place, 118, 150, accents[i], 0.55 + i * 0.11);
  }

  // Fill-level blocks under the stack, like clusters being taken one after another.
  for (int i = 0; i < 12; ++i) {
    const QColor c = i < 8 ? kTeal : QColor(255, 255, 255, 70);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(40 + i * 17, 398, 13, 9), 2, 2);
  }
  p.setBrush(kAmber);
  p.drawRect(QRectF(0, 436, 281, 1.5));  // a thin rule above the message line
  return image;
}

QImage icon() {
  QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient back(0, 0, 0, 256);
  back.setColorAt(0.0, kDeep);
  back.setColorAt(1.0, kNight);
  p.setPen(Qt::NoPen);
  p.setBrush(back);
  p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
  const QColor accents[] = {kSky, kTeal, kAmber};
  for (int i = 0; i < 3; ++i) {
    QTransform place;
    place.translate(62 + i * 22, 48 + i * 20);
    place.rotate(-10 + i * 6);
    drawPage(p, place, 110, 140, accents[i], 0.7 + i * 0.15);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const bool ok = splash().save(folder + QStringLiteral("/splash.png")) &&
                  icon().save(folder + QStringLiteral("/icon.png"));
  if (!ok) std::fprintf(stderr, "cannot write the pictures into %s\n", argv[1]);
  return ok ? 0 : 1;
}
