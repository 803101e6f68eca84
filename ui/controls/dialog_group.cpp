#include "ui/controls/dialog_group.h"

#include <QVariant>
#include <QWidget>

namespace quillet {

namespace {
constexpr const char* kGroupStart = "quilletGroupStart";

bool startsGroup(const QWidget* widget) { return widget->property(kGroupStart).toBool(); }

QList<QWidget*> siblings(QWidget* widget) {
  QList<QWidget*> result;
  QWidget* parent = widget->parentWidget();
  if (parent == nullptr) return {widget};
  for (QObject* child : parent->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w != nullptr && !w->isWindow()) result.append(w);
  }
  return result;
}
}  // namespace

void setGroupStart(QWidget* widget, bool starts) { widget->setProperty(kGroupStart, starts); }

QList<QWidget*> dialogGroup(QWidget* widget) {
  const QList<QWidget*> all = siblings(widget);
  qsizetype index = all.indexOf(widget);
  if (index < 0) return {widget};
  qsizetype first = index;
  while (first > 0 && !startsGroup(all[first])) --first;
  qsizetype end = index + 1;
  while (end < all.size() && !startsGroup(all[end])) ++end;
  return all.mid(first, end - first);
}

QWidget* nextInGroup(QWidget* widget, bool forward) {
  const QList<QWidget*> group = dialogGroup(widget);
  const qsizetype count = group.size();
  const qsizetype index = group.indexOf(widget);
  for (qsizetype step = 1; step < count; ++step) {
    QWidget* candidate = group[((forward ? index + step : index - step) % count + count) % count];
    if (candidate->isVisible() && candidate->isEnabled()) return candidate;
  }
  return widget;
}

}  // namespace quillet
