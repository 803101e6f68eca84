// Dialog groups: runs of sibling controls, in their parent's child order, each starting at a
// control marked as a group start (the first child starts one anyway). Radio buttons check, clear
// and move within their group. UI thread only.
#pragma once

#include <QList>

class QWidget;

namespace quillet {

// Marks widget as the first control of a new group (or removes the mark).
void setGroupStart(QWidget* widget, bool starts = true);

// The controls of widget's group, in order; widget itself included.
QList<QWidget*> dialogGroup(QWidget* widget);

// The next (or previous) visible and enabled control of widget's group, wrapping at the group's
// ends; widget itself when it is the only one.
QWidget* nextInGroup(QWidget* widget, bool forward);

}  // namespace quillet
