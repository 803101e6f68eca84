// The flat frame of edit boxes and drop-down lists: after the control has painted itself, a frame is
// drawn over its border and a few pixels around it (edit and combo box controls draw with their
// dialog's clipping), and a sunken edge while the mouse is over it, checked every 10 ms.
// UI thread only.
#pragma once

#include <windows.h>

namespace quillet::win32 {

class FlatEdit {
 public:
  FlatEdit() = default;
  ~FlatEdit();
  FlatEdit(const FlatEdit&) = delete;
  FlatEdit& operator=(const FlatEdit&) = delete;

  // noOutline: a drop-down list, with no grey line and no extra hover edge.
  void attach(HWND item, bool noOutline);
  HWND handle() const { return window; }

 private:
  static LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  void drawFrame(bool hot);

  HWND window = nullptr;
  bool noOutline = false;
};

}  // namespace quillet::win32
