// Builds a dialog template in memory (the classic DLGTEMPLATE layout with its items), so the
// windows are laid out in dialog units from tables in the code. UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/drawing_rules.h"

namespace quillet::win32 {

// Predefined control classes of a template item.
enum class ItemClass : std::uint16_t { Button = 0x80, Edit = 0x81, Static = 0x82, ComboBox = 0x85 };

class DialogTemplate {
 public:
  // Caption, style, size in dialog units and the font the units are measured in.
  // The shared dialog font by default: "MS Shell Dlg", which every system maps to its dialog font
  // (Wine's substitute for the older "MS Sans Serif" is far wider than the tables were measured in).
  DialogTemplate(const std::string& caption, DWORD style, DWORD exStyle, int width, int height,
                 const std::string& fontFace = kDialogFontFace, int fontPoints = kDialogFontPoints);

  void add(ItemClass itemClass, const std::string& text, int id, DWORD style, int x, int y, int width,
           int height);
  // An item of a registered class named by text (a progress bar).
  void add(const std::string& className, const std::string& text, int id, DWORD style, int x, int y,
           int width, int height);

  // The template, valid while this object lives and is not changed.
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words.data()); }

 private:
  void align();
  void addText(const std::string& text);
  void addItem(DWORD style, int x, int y, int width, int height, int id);

  std::vector<WORD> words;
};

// Widens every static text of dialog whose text is wider than its control, so no word is wrapped
// out of sight when the dialog font is wider than the one the layout was measured in.
void fitStaticTexts(HWND dialog);

}  // namespace quillet::win32
