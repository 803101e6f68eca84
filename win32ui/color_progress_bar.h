// The colour progress bar: a standard progress bar item that paints itself, a flat button-face
// background, a shaded bar in the chosen colour and the percentage in white over the middle.
// UI thread only.
#pragma once

#include <windows.h>

namespace quillet::win32 {

class ColorProgressBar {
 public:
  ColorProgressBar();
  ~ColorProgressBar();
  ColorProgressBar(const ColorProgressBar&) = delete;
  ColorProgressBar& operator=(const ColorProgressBar&) = delete;

  void attach(HWND item);
  HWND handle() const { return window; }
  // Stores the bounds, resets the position to lower and passes both on as 16-bit words.
  void setRange(int lower, int upper);
  void setPos(int position);
  // Derives the shading colours and repaints at once.
  void setColor(COLORREF color);
  int pos() const { return position; }
  int upper() const { return upperBound; }

 private:
  static LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  void paint();
  void deriveColors();

  HWND window = nullptr;
  int lowerBound = 0;
  int upperBound = 100;
  int position = 0;
  COLORREF base;
  COLORREF light1 = 0, light2 = 0, light3 = 0, dark1 = 0, dark2 = 0, dkShadow = 0, shadow = 0, midShadow = 0;
};

}  // namespace quillet::win32
