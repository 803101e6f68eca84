// The owner-drawn push button, check box and radio button: attached to an existing dialog item,
// which is switched to owner drawing and from then on painted here with GDI. The platform keeps
// the press tracking (mouse capture, the space key) and reports the item's pressed state when it
// asks for a drawing; the check state is kept here, because an owner-drawn item has none.
// UI thread only.
#pragma once

#include <windows.h>

namespace quillet::win32 {

class OwnerDrawButton {
 public:
  enum class Kind { PushButton, CheckBox, Radio };

  explicit OwnerDrawButton(Kind kind = Kind::PushButton) : kind_(kind) {}
  ~OwnerDrawButton();
  OwnerDrawButton(const OwnerDrawButton&) = delete;
  OwnerDrawButton& operator=(const OwnerDrawButton&) = delete;

  // Subclasses the item and adds the owner-draw style (the flat style bit stays).
  void attach(HWND item);
  HWND handle() const { return window; }
  Kind kind() const { return kind_; }

  // Ignored for push buttons; repaints the indicator when the state changes.
  void setCheck(int state);
  int check() const { return checkState; }
  // Stores the flag and repaints at once.
  void setBold(bool bold);
  bool bold() const { return boldCaption; }

  // The dialog's answer to the item's draw request.
  void draw(const DRAWITEMSTRUCT& item);
  // The dialog calls this on the item's click notification, before its own handler: a check box
  // toggles, a radio button checks itself and clears the other radio buttons of its group.
  void clicked();

  // The object attached to window, or null.
  static OwnerDrawButton* from(HWND window);

 private:
  static LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
  RECT indicatorBox() const;
  void repaintIndicator();
  void clearGroup();
  void updateGroupTabStops();
  void drawPushFrame(HDC dc, const RECT& item, bool selected, bool disabled, bool flat);
  void drawCheckIndicator(HDC dc, bool pressed, bool disabled);
  void drawRadioIndicator(HDC dc, bool pressed, bool disabled);

  Kind kind_;
  HWND window = nullptr;
  int checkState = 0;
  bool boldCaption = false;
  bool mouseDown = false;  // a press by the mouse is under way (it takes the focus first)
};

}  // namespace quillet::win32
