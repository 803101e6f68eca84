#include "ui/controls/owner_draw_button.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace quillet {

ButtonColors ButtonColors::from(const SystemColors& system) {
  ButtonColors c;
  c.hilite = system.buttonHighlight;
  c.light = system.light3d;
  c.face = system.buttonFace;
  c.shadow = system.buttonShadow;
  c.dkShadow = system.darkShadow3d;
  c.mid = halfwayColor(c.face, c.shadow);
  c.edge = halfwayColor(c.shadow, c.dkShadow);
  c.window = system.window;
  c.windowFrame = system.windowFrame;
  c.text = system.buttonText;
  return c;
}

void drawStrokes(GdiPainter& g, const ButtonColors& colors, int x, int y,
                 const std::vector<Stroke>& strokes) {
  for (const Stroke& s : strokes) {
    const QColor& color = toneColor(colors, s.tone);
    if (s.count == 1) {
      g.pixel(x + s.points[0].x, y + s.points[0].y, color);
      continue;
    }
    g.setPen(color);
    g.moveTo(x + s.points[0].x, y + s.points[0].y);
    for (int i = 1; i < s.count; ++i) {
      const StrokePoint& p = s.points[static_cast<std::size_t>(i)];
      g.lineTo(x + p.x, y + p.y);
    }
  }
}

OwnerDrawButton::OwnerDrawButton(const QString& text, QWidget* parent)
    : OwnerDrawButton(Kind::PushButton, text, parent) {}

OwnerDrawButton::OwnerDrawButton(Kind kind, const QString& text, QWidget* parent)
    : QAbstractButton(parent), buttonKind(kind) {
  setText(text);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  readColors();
  if (kind == Kind::PushButton) {
    connect(this, &QAbstractButton::pressed, this, [this] { emit pressedChanged(true); });
    connect(this, &QAbstractButton::released, this, [this] { emit pressedChanged(false); });
  }
}

void OwnerDrawButton::readColors() { palette3d = ButtonColors::from(SystemColors::fromPalette(palette())); }

void OwnerDrawButton::setCheck(int state) {
  if (buttonKind == Kind::PushButton) return;
  if (state == checkValue) return;
  checkValue = state;
  repaintIndicator();
  emit checkStateChanged(state);
}

void OwnerDrawButton::setBold(bool bold) {
  const bool changed = bold != boldCaption;
  boldCaption = bold;
  repaint();
  if (changed) emit boldChanged(bold);
}

bool OwnerDrawButton::isPressed() const { return buttonKind == Kind::PushButton ? isDown() : pressedValue; }

void OwnerDrawButton::setFlat(bool flat) {
  flatLook = flat;
  update();
}

QSize OwnerDrawButton::sizeHint() const {
  QFont f = font();
  if (boldCaption) f.setWeight(QFont::Bold);
  const QSize text = QFontMetrics(f).size(Qt::TextSingleLine, this->text());
  if (buttonKind == Kind::PushButton) return text + QSize(16, 10);
  return QSize(17 + text.width() + 2, qMax(text.height() + 2, 14));
}

void OwnerDrawButton::setPressedState(bool pressed) {
  if (pressed == pressedValue) return;
  pressedValue = pressed;
  repaintIndicator();
  emit pressedChanged(pressed);
}

void OwnerDrawButton::repaintIndicator() {
  const Edges box = indicatorBox();
  if (box.width() > 0 && box.height() > 0) {
    update(QRect(box.left, box.top, box.width(), box.height()));
  }
}

void OwnerDrawButton::pressWithMouse() {
  // Pressed before the focus arrives, so a radio button taking the focus keeps it.
  setPressedState(true);
  setFocus(Qt::MouseFocusReason);
  captured = true;
  repaintIndicator();
}

void OwnerDrawButton::trackMouse(const QPointF& position) {
  if (!captured) return;
  setPressedState(rect().contains(position.toPoint()));
}

void OwnerDrawButton::changeEvent(QEvent* event) {
  QAbstractButton::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    readColors();
    update();
  }
}

void OwnerDrawButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // A fast second click is a second press, not a gesture of its own.
  QMouseEvent press(QEvent::MouseButtonPress, event->position(), event->scenePosition(),
                    event->globalPosition(), event->button(), event->buttons(), event->modifiers(),
                    event->pointingDevice());
  mousePressEvent(&press);
  event->setAccepted(press.isAccepted());
}

void OwnerDrawButton::keyPressEvent(QKeyEvent* event) {
  const bool space = event->key() == Qt::Key_Space || event->key() == Qt::Key_Select;
  if (space && event->modifiers() != Qt::NoModifier) {
    event->ignore();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

void OwnerDrawButton::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  QPixmap pixmap(size() * ratio);
  pixmap.setDevicePixelRatio(ratio);
  {
    QPainter p(&pixmap);
    GdiPainter g(p);
    const Edges item{0, 0, width(), height()};
    const bool push = buttonKind == Kind::PushButton;
    const bool selected = push && isDown();
    const bool disabled = !isEnabled();

    g.fillRect(item, palette3d.face);
    if (push) drawPushFrame(g, item, selected, disabled);

    QFont captionFont = font();
    if (boldCaption) captionFont.setWeight(QFont::Bold);
    p.setFont(captionFont);
    const QSize textSize = QFontMetrics(captionFont).size(Qt::TextSingleLine, text());
    const QRect caption =
        push ? QRect((item.width() - textSize.width()) / 2, (item.height() - textSize.height()) / 2,
                     textSize.width(), textSize.height())
             : QRect(17, (item.height() - textSize.height()) / 2 - 1, textSize.width(), textSize.height());
    // The palette's caption colour rather than a fixed black, so captions stay readable when the
    // desktop's colours are dark.
    QColor textColor = palette3d.text;
    if (selected) textColor = palette3d.hilite;
    if (disabled) textColor = palette3d.shadow;
    p.setPen(textColor);
    p.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, text());

    if (hasFocus()) {
      if (push) {
        g.focusRect(item.grown(-4), palette3d.windowFrame);
      } else {
        Edges mark{caption.left() - 1, caption.top() - 1, caption.left() + caption.width() + 1,
                   caption.top() + caption.height() + 2};
        mark = {qMax(mark.left, item.left), qMax(mark.top, item.top), qMin(mark.right, item.right),
                qMin(mark.bottom, item.bottom)};
        g.focusRect(mark, palette3d.windowFrame);
      }
    }
    if (!push) drawIndicator(g, disabled);
  }
  QPainter(this).drawPixmap(0, 0, pixmap);
}

void OwnerDrawButton::drawPushFrame(GdiPainter& g, const Edges& item, bool selected, bool disabled) {
  if (flatLook) {
    const QColor fill = selected ? invertedColor(palette3d.window) : palette3d.window;
    const QColor outline = disabled ? palette3d.shadow : invertedColor(palette3d.window);
    g.roundRect(item, 6, 6, outline, fill);
    return;
  }
  const QColor outline = disabled ? palette3d.shadow : palette3d.windowFrame;
  g.roundRect(item, 6, 6, outline, selected ? palette3d.mid : palette3d.face);
  if (disabled) return;
  if (selected) {
    drawPressedBevel(g, item);
  } else {
    drawRaisedBevel(g, item);
  }
  drawCornerPixels(g, item);
}

void OwnerDrawButton::drawRaisedBevel(GdiPainter& g, const Edges& r) {
  const int L = r.left, T = r.top, R = r.right, B = r.bottom;
  g.setPen(palette3d.hilite);
  g.polyline({{L + 2, B - 4}, {L + 2, T + 2}, {R - 3, T + 2}});
  g.pixel(L + 3, T + 3, palette3d.hilite);
  g.setPen(palette3d.mid);
  g.polyline({{L + 3, B - 3}, {R - 4, B - 3}, {R - 4, B - 4}, {R - 3, B - 4}, {R - 3, T + 2}});
  g.setPen(palette3d.shadow);
  g.polyline({{L + 3, B - 2}, {R - 3, B - 2}, {R - 3, B - 3}, {R - 2, B - 3}, {R - 2, T + 2}});
  for (const QPoint& p : {QPoint(L + 1, T + 2), QPoint(L + 2, T + 1), QPoint(R - 3, T + 1),
                          QPoint(R - 2, T + 2), QPoint(L + 2, B - 2), QPoint(L + 1, B - 3)}) {
    g.pixel(p.x(), p.y(), palette3d.mid);
  }
}

void OwnerDrawButton::drawPressedBevel(GdiPainter& g, const Edges& r) {
  const int L = r.left, T = r.top, R = r.right, B = r.bottom;
  g.setPen(palette3d.edge);
  g.polyline({{L + 1, B - 4}, {L + 1, T + 2}, {L + 2, T + 2}, {L + 2, T + 1}, {R - 3, T + 1}});
  g.setPen(palette3d.shadow);
  g.polyline({{L + 2, B - 4}, {L + 2, T + 3}, {L + 3, T + 3}, {L + 3, T + 2}, {R - 3, T + 2}});
  g.setPen(palette3d.light);
  g.polyline({{L + 3, B - 2}, {R - 4, B - 2}, {R - 2, B - 4}, {R - 2, T + 2}});
  g.setPen(palette3d.face);
  g.polyline({{L + 3, B - 3}, {R - 4, B - 3}, {R - 4, B - 4}, {R - 3, B - 4}, {R - 3, T + 2}});
  g.pixel(R - 2, T + 2, palette3d.face);
  g.pixel(L + 2, B - 2, palette3d.face);
  g.pixel(R - 3, T + 1, palette3d.shadow);
  g.pixel(L + 1, B - 3, palette3d.shadow);
}

void OwnerDrawButton::drawCornerPixels(GdiPainter& g, const Edges& r) {
  const int L = r.left, T = r.top, R = r.right, B = r.bottom;
  for (const QPoint& p :
       {QPoint(L, T + 2), QPoint(L + 2, T), QPoint(R - 3, T), QPoint(R - 1, T + 2), QPoint(R - 1, B - 3),
        QPoint(R - 3, B - 1), QPoint(L + 2, B - 1), QPoint(L, B - 3)}) {
    g.pixel(p.x(), p.y(), palette3d.edge);
  }
}

}  // namespace quillet
