#include "ui/controls/flat_edit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QWidget>

#include "ui/controls/gdi_painter.h"
#include "ui/system_colors.h"

namespace quillet {

namespace {
constexpr int kBorder = kFlatEditBorder;
constexpr int kRings = kFlatEditRings;
const QColor kOutline = colorOf(kFlatEditOutline);
}  // namespace

FlatEdit::FlatEdit(QWidget* control, bool noOutline)
    : QObject(control), edit(control), parent(control->parentWidget()), withoutOutline(noOutline) {
  cursorPosition = [] { return QCursor::pos(); };
  readColors();
  hoverTimer.setInterval(10);
  connect(&hoverTimer, &QTimer::timeout, this, &FlatEdit::checkHover);
  control->setMouseTracking(true);
  control->installEventFilter(this);
  if (parent != nullptr) parent->installEventFilter(this);
}

void FlatEdit::readColors() {
  const SystemColors system = SystemColors::fromPalette(edit->palette());
  hilite = system.buttonHighlight;
  shadow = system.buttonShadow;
  face = system.buttonFace;
}

QRect FlatEdit::clientRect() const { return edit->rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }

void FlatEdit::checkHover() {
  const QRect window(edit->mapToGlobal(QPoint(0, 0)), edit->size());
  if (edit->isEnabled() && window.contains(cursorPosition())) {
    setHot(true);
  } else {
    hoverTimer.stop();
    setHot(false);
  }
}

void FlatEdit::setHot(bool state) {
  if (state == hot) return;
  hot = state;
  repaintFrame();
  emit hotChanged(hot);
}

void FlatEdit::repaintFrame() {
  edit->update();
  if (parent != nullptr) {
    parent->update(edit->geometry().adjusted(-kBorder, -kBorder, kBorder, kBorder));
  }
}

void FlatEdit::paintFrame(QWidget* target, QPoint offset, int firstRing, int lastRing) {
  QPainter painter(target);
  GdiPainter g(painter);
  const QRect client = clientRect().translated(offset);
  const Edges c{client.left(), client.top(), client.left() + client.width(), client.top() + client.height()};
  const bool enabled = edit->isEnabled();
  auto ring = [&](int n, const QColor& topLeft, const QColor& bottomRight) {
    if (n >= firstRing && n <= lastRing) g.draw3dRect(c.grown(n), topLeft, bottomRight);
  };
  if (!withoutOutline) {
    ring(0, kOutline, kOutline);
  } else if (hot) {
    ring(0, shadow, hilite);
  } else {
    ring(0, face, face);
  }
  ring(1, enabled ? face : hilite, enabled ? face : hilite);
  for (int n = 2; n < kRings; ++n) ring(n, face, face);
  if (hot && enabled && !withoutOutline) {
    ring(0, face, face);
    ring(1, shadow, hilite);
  }
}

QRect FlatEdit::focusMarkRect() const {
  auto* list = qobject_cast<QComboBox*>(edit.data());
  if (list == nullptr) return {};
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.editable = false;
  option.frame = true;
  option.subControls = QStyle::SC_All;
  const QRect field =
      list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
  return field.intersected(clientRect()).adjusted(1, 1, -1, -1);
}

void FlatEdit::paintFocusMark() {
  auto* list = qobject_cast<QComboBox*>(edit.data());
  if (list == nullptr || !list->hasFocus() || !list->isEnabled() || list->view()->isVisible()) return;
  const QRect mark = focusMarkRect();
  if (mark.isEmpty()) return;
  QPainter painter(list);
  const QPalette& palette = list->palette();
  painter.fillRect(mark, palette.color(QPalette::Highlight));
  painter.setPen(palette.color(QPalette::HighlightedText));
  painter.setFont(list->font());
  painter.drawText(mark.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, list->currentText());
  GdiPainter g(painter);
  g.focusRect(Edges{mark.left(), mark.top(), mark.left() + mark.width(), mark.top() + mark.height()},
              palette.color(QPalette::HighlightedText));
}

bool FlatEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit) {
    switch (event->type()) {
      case QEvent::Paint:
        if (!painting) {
          // The control paints itself first; the frame goes over its border afterwards.
          painting = true;
          static_cast<QObject*>(edit.data())->event(event);
          painting = false;
          paintFrame(edit, QPoint(0, 0), 0, kBorder);
          paintFocusMark();
          return true;
        }
        break;
      case QEvent::MouseMove:
      case QEvent::HoverMove:
      case QEvent::Enter:
        if (edit->isEnabled()) hoverTimer.start();
        break;
      case QEvent::PaletteChange: readColors(); break;
      case QEvent::FocusIn:
      case QEvent::FocusOut: edit->update(); break;
      case QEvent::EnabledChange:
        if (!edit->isEnabled()) {
          hoverTimer.stop();
          hot = false;
        }
        repaintFrame();
        break;
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
        if (parent != nullptr) parent->update();
        break;
      default: break;
    }
  } else if (watched == parent && event->type() == QEvent::Paint && edit->isVisible()) {
    // The outer rings lie on the parent, outside the control; the parent's own painting of a
    // plain dialog leaves them alone.
    paintFrame(parent, edit->geometry().topLeft(), kBorder + 1, kRings - 1);
  }
  return false;
}

}  // namespace quillet
