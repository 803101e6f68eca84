#include "win32ui/owner_draw_button.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win32ui/gdi.h"

namespace quillet::win32 {

namespace {
constexpr UINT_PTR kSubclassId = 0x5142;  // one subclass per item; the number only tells ours apart
constexpr const char* kObjectProperty = "QuilletOwnerDrawButton";  // the item's object, for from()

std::string windowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}
}  // namespace

OwnerDrawButton::~OwnerDrawButton() {
  if (window != nullptr && IsWindow(window)) {
    RemovePropA(window, kObjectProperty);
    RemoveWindowSubclass(window, subclassProc, kSubclassId);
  }
}

void OwnerDrawButton::attach(HWND item) {
  window = item;
  const LONG_PTR style = GetWindowLongPtrA(item, GWL_STYLE);
  SetWindowLongPtrA(item, GWL_STYLE, (style & ~LONG_PTR(BS_TYPEMASK)) | BS_OWNERDRAW);
  SetWindowSubclass(item, subclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  SetPropA(item, kObjectProperty, this);
}

OwnerDrawButton* OwnerDrawButton::from(HWND window) {
  if (window == nullptr) return nullptr;
  return static_cast<OwnerDrawButton*>(GetPropA(window, kObjectProperty));
}

void OwnerDrawButton::setCheck(int state) {
  if (kind_ == Kind::PushButton || state == checkState) return;
  checkState = state;
  repaintIndicator();
  if (kind_ == Kind::Radio) updateGroupTabStops();
}

void OwnerDrawButton::updateGroupTabStops() {
  if (window == nullptr) return;
  // Tab stops only at the group's checked radio button, so that Tab and Shift+Tab pass the group
  // in one step either way; an unchecked neighbour with a stop would hand the focus back to the
  // checked one. A group with none checked keeps every stop, so the keyboard can still reach it.
  HWND parent = GetParent(window);
  std::vector<HWND> radios{window};
  bool anyChecked = checkState == 1;
  for (HWND next = GetNextDlgGroupItem(parent, window, FALSE); next != nullptr && next != window;
       next = GetNextDlgGroupItem(parent, next, FALSE)) {
    OwnerDrawButton* other = from(next);
    if (other == nullptr || other->kind_ != Kind::Radio) continue;
    radios.push_back(next);
    anyChecked = anyChecked || other->checkState == 1;
  }
  for (HWND radio : radios) {
    const bool stop = !anyChecked || from(radio)->checkState == 1;
    const LONG_PTR style = GetWindowLongPtrA(radio, GWL_STYLE);
    SetWindowLongPtrA(radio, GWL_STYLE, stop ? (style | WS_TABSTOP) : (style & ~LONG_PTR(WS_TABSTOP)));
  }
}

void OwnerDrawButton::setBold(bool bold) {
  boldCaption = bold;
  if (window == nullptr) return;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

RECT OwnerDrawButton::indicatorBox() const {
  RECT item{};
  GetClientRect(window, &item);
  const int top = (item.bottom - item.top - 12) / 2 - 1;
  if (kind_ == Kind::Radio) return {item.left + 1, top, item.left + 13, top + 12};
  return {item.left, top, item.left + 14, top + 12};
}

void OwnerDrawButton::repaintIndicator() {
  if (window == nullptr || kind_ == Kind::PushButton) return;
  const RECT box = indicatorBox();
  InvalidateRect(window, &box, TRUE);
}

void OwnerDrawButton::clearGroup() {
  HWND parent = GetParent(window);
  for (HWND next = GetNextDlgGroupItem(parent, window, FALSE); next != nullptr && next != window;
       next = GetNextDlgGroupItem(parent, next, FALSE)) {
    OwnerDrawButton* other = from(next);
    if (other != nullptr && other->kind_ == Kind::Radio) other->setCheck(0);
  }
}

void OwnerDrawButton::clicked() {
  if (kind_ == Kind::CheckBox) {
    setCheck(checkState == 0 ? 1 : 0);
  } else if (kind_ == Kind::Radio) {
    setCheck(1);
    clearGroup();
  }
}

LRESULT CALLBACK OwnerDrawButton::subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                               UINT_PTR, DWORD_PTR self) {
  (void)window;
  return reinterpret_cast<OwnerDrawButton*>(self)->onMessage(message, wParam, lParam);
}

LRESULT OwnerDrawButton::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDBLCLK:
      // A fast second click is a second press.
      return onMessage(WM_LBUTTONDOWN, wParam, lParam);
    case WM_LBUTTONDOWN: {
      mouseDown = true;
      const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
      mouseDown = false;
      return result;
    }
    case WM_SETFOCUS: {
      const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
      // Tabbing into the radio group lands on its checked button.
      if (kind_ == Kind::Radio && checkState == 0 && !mouseDown) {
        HWND parent = GetParent(window);
        for (HWND next = GetNextDlgGroupItem(parent, window, FALSE); next != nullptr && next != window;
             next = GetNextDlgGroupItem(parent, next, FALSE)) {
          OwnerDrawButton* other = from(next);
          if (other == nullptr || other->kind_ != Kind::Radio) break;
          if (other->checkState == 1) {
            SetFocus(next);
            break;
          }
        }
      }
      return result;
    }
    case WM_GETDLGCODE: {
      // The dialog moves the focus through the group on an arrow key; the radio button moves the
      // check with it first and tells the dialog, as a click on the neighbour would.
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      // The dialog asks the neighbour about the same key too: only the button the key is for acts.
      if (kind_ == Kind::Radio && msg != nullptr && msg->hwnd == window && msg->message == WM_KEYDOWN &&
          (msg->wParam == VK_LEFT || msg->wParam == VK_UP || msg->wParam == VK_RIGHT ||
           msg->wParam == VK_DOWN)) {
        const bool previous = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
        HWND parent = GetParent(window);
        clearGroup();
        HWND next = GetNextDlgGroupItem(parent, window, previous ? TRUE : FALSE);
        OwnerDrawButton* other = from(next);
        setCheck(0);
        if (other != nullptr && other->kind_ == Kind::Radio && next != window) {
          other->setCheck(1);
          SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(next), BN_CLICKED),
                       reinterpret_cast<LPARAM>(next));
        }
      }
      return DefSubclassProc(window, message, wParam, lParam);
    }
    case WM_NCDESTROY: {
      RemovePropA(window, kObjectProperty);
      const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
      RemoveWindowSubclass(window, subclassProc, kSubclassId);
      window = nullptr;
      return result;
    }
    default: return DefSubclassProc(window, message, wParam, lParam);
  }
}

void OwnerDrawButton::draw(const DRAWITEMSTRUCT& item) {
  const RECT r{0, 0, item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top};
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  const bool push = kind_ == Kind::PushButton;
  const ButtonColors c = ButtonColors::fromSystem();
  OffscreenDc off(item.hDC, r.right, r.bottom);
  HDC dc = off.dc();
  { Painter(dc).fillRect(r, c.face); }
  if (push) drawPushFrame(dc, r, selected, disabled, (GetWindowLongPtrA(window, GWL_STYLE) & BS_FLAT) != 0);

  HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  HFONT boldFont = nullptr;
  if (boldCaption && font != nullptr) {
    LOGFONTA description{};
    GetObjectA(font, sizeof description, &description);
    description.lfWeight = FW_BOLD;
    boldFont = CreateFontIndirectA(&description);
  }
  HGDIOBJ oldFont = SelectObject(dc, boldFont != nullptr ? boldFont : font);
  const std::string text = windowText(window);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  RECT caption = push ? RECT{(r.right - size.cx) / 2, (r.bottom - size.cy) / 2, 0, 0}
                      : RECT{17, (r.bottom - size.cy) / 2 - 1, 0, 0};
  caption.right = caption.left + size.cx;
  caption.bottom = caption.top + size.cy;
  COLORREF textColor = c.text;
  if (push && selected) textColor = c.hilite;
  if (disabled) textColor = c.shadow;
  SetTextColor(dc, textColor);
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &caption,
            DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  if (boldFont != nullptr) DeleteObject(boldFont);

  if (focused) {
    SetTextColor(dc, c.text);
    SetBkColor(dc, c.face);
    if (push) {
      RECT mark{r.left + 4, r.top + 4, r.right - 4, r.bottom - 4};
      DrawFocusRect(dc, &mark);
    } else {
      RECT mark{std::max(caption.left - 1, r.left), std::max(caption.top - 1, r.top),
                std::min(caption.right + 1, r.right), std::min(caption.bottom + 2, r.bottom)};
      DrawFocusRect(dc, &mark);
    }
  }
  if (kind_ == Kind::CheckBox) drawCheckIndicator(dc, selected, disabled);
  if (kind_ == Kind::Radio) drawRadioIndicator(dc, selected, disabled);
}

void OwnerDrawButton::drawPushFrame(HDC dc, const RECT& item, bool selected, bool disabled, bool flat) {
  const ButtonColors c = ButtonColors::fromSystem();
  Painter g(dc);
  if (flat) {
    g.roundRect(item, 6, disabled ? c.shadow : invertedColor(c.window),
                selected ? invertedColor(c.window) : c.window);
    return;
  }
  g.roundRect(item, 6, disabled ? c.shadow : c.windowFrame, selected ? c.mid : c.face);
  if (disabled) return;
  const int L = item.left, T = item.top, R = item.right, B = item.bottom;
  if (selected) {
    g.setPen(c.edge);
    g.polyline({{L + 1, B - 4}, {L + 1, T + 2}, {L + 2, T + 2}, {L + 2, T + 1}, {R - 3, T + 1}});
    g.setPen(c.shadow);
    g.polyline({{L + 2, B - 4}, {L + 2, T + 3}, {L + 3, T + 3}, {L + 3, T + 2}, {R - 3, T + 2}});
    g.setPen(c.light);
    g.polyline({{L + 3, B - 2}, {R - 4, B - 2}, {R - 2, B - 4}, {R - 2, T + 2}});
    g.setPen(c.face);
    g.polyline({{L + 3, B - 3}, {R - 4, B - 3}, {R - 4, B - 4}, {R - 3, B - 4}, {R - 3, T + 2}});
    g.pixel(R - 2, T + 2, c.face);
    g.pixel(L + 2, B - 2, c.face);
    g.pixel(R - 3, T + 1, c.shadow);
    g.pixel(L + 1, B - 3, c.shadow);
  } else {
    g.setPen(c.hilite);
    g.polyline({{L + 2, B - 4}, {L + 2, T + 2}, {R - 3, T + 2}});
    g.pixel(L + 3, T + 3, c.hilite);
    g.setPen(c.mid);
    g.polyline({{L + 3, B - 3}, {R - 4, B - 3}, {R - 4, B - 4}, {R - 3, B - 4}, {R - 3, T + 2}});
    g.setPen(c.shadow);
    g.polyline({{L + 3, B - 2}, {R - 3, B - 2}, {R - 3, B - 3}, {R - 2, B - 3}, {R - 2, T + 2}});
    for (const POINT p : {POINT{L + 1, T + 2}, POINT{L + 2, T + 1}, POINT{R - 3, T + 1}, POINT{R - 2, T + 2},
                          POINT{L + 2, B - 2}, POINT{L + 1, B - 3}}) {
      g.pixel(p.x, p.y, c.mid);
    }
  }
  for (const POINT p : {POINT{L, T + 2}, POINT{L + 2, T}, POINT{R - 3, T}, POINT{R - 1, T + 2},
                        POINT{R - 1, B - 3}, POINT{R - 3, B - 1}, POINT{L + 2, B - 1}, POINT{L, B - 3}}) {
    g.pixel(p.x, p.y, c.edge);
  }
}

void OwnerDrawButton::drawCheckIndicator(HDC dc, bool pressed, bool disabled) {
  const ButtonColors c = ButtonColors::fromSystem();
  Painter g(dc);
  RECT box = indicatorBox();
  box.right -= 2;  // drawn 12 wide
  g.frameRect(box, disabled ? c.shadow : c.windowFrame);
  const RECT inner{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
  if (pressed) {
    g.fillRect(inner, c.mid);
    g.edge(inner, c.shadow, c.light);
  } else {
    g.fillRect(inner, c.face);
    if (!disabled) g.edge(inner, c.hilite, c.shadow);
  }
  g.pixel(inner.right - 1, inner.top, c.face);
  g.pixel(inner.left, inner.bottom - 1, c.face);
  if (checkState != 1) return;
  g.strokes(inner.left, inner.top, c, checkMarkStrokes(disabled));
}

void OwnerDrawButton::drawRadioIndicator(HDC dc, bool pressed, bool disabled) {
  const ButtonColors c = ButtonColors::fromSystem();
  Painter g(dc);
  const RECT box = indicatorBox();
  g.roundRect(box, 10, disabled ? c.shadow : c.windowFrame, c.face);
  const int x = box.left, y = box.top;
  if (!disabled) {
    const bool sunken = checkState == 1 || pressed;
    g.strokes(x, y, c, radioPatternStrokes(sunken));
  }
  const COLORREF ring = disabled ? c.mid : c.shadow;
  for (const StrokePoint& q : radioRingPixels()) g.pixel(x + q.x, y + q.y, ring);
  if (checkState == 1) {
    const COLORREF dot = disabled ? c.shadow : c.dkShadow;
    g.roundRect({box.left + 3, box.top + 3, box.right - 3, box.bottom - 3}, 2, dot, dot);
  }
}

}  // namespace quillet::win32
