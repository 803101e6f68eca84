// A test tool run under Wine beside the program: finds the program's windows and controls and
// reports what the window tests cannot see from X (control texts, enabled states, where a control
// lies on the screen), so the tests can click and type with xdotool and check the outcome.
// Usage: quillet_ui_probe count <title> | minimize <title> | iconic <title>
//                         | center <title> <id> | text <title> <id> | enabled <title> <id>
//                         | owned-text <title> <id> | focus <title>
// owned-text reads the control of the window of that title that has an owner (a message box over
// the main dialog, which shares its caption). focus prints the id of the window's control that has
// the keyboard focus (0 when none of its controls has it).
// Exit status 0 on success, 1 when the window or control is not there, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<HWND> topLevelWindows(const std::string& title) {
  struct Search {
    const std::string* title;
    std::vector<HWND> found;
  } search{&title, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        char text[256] = {};
        GetWindowTextA(window, text, sizeof text);
        if (IsWindowVisible(window) && *s->title == text) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const std::vector<HWND> windows = topLevelWindows(argv[2]);
  if (command == "count") {
    std::printf("%zu\n", windows.size());
    return 0;
  }
  if (windows.empty()) return 1;
  if (command == "minimize") {
    ShowWindow(windows.front(), SW_MINIMIZE);
    return 0;
  }
  if (command == "iconic") {
    std::printf("%d\n", IsIconic(windows.front()) ? 1 : 0);
    return 0;
  }
  if (command == "focus") {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(windows.front(), nullptr), &info)) return 1;
    const bool ours = info.hwndFocus != nullptr && GetParent(info.hwndFocus) == windows.front();
    std::printf("%d\n", ours ? GetDlgCtrlID(info.hwndFocus) : 0);
    return 0;
  }
  if (argc < 4) return 2;
  HWND window = windows.front();
  if (command == "owned-text") {
    window = nullptr;
    for (HWND candidate : windows) {
      if (GetWindow(candidate, GW_OWNER) != nullptr) window = candidate;
    }
    if (window == nullptr) return 1;
  }
  HWND control = GetDlgItem(window, std::atoi(argv[3]));
  if (control == nullptr) return 1;
  if (command == "center") {
    RECT area{};
    GetWindowRect(control, &area);
    std::printf("%ld %ld\n", (area.left + area.right) / 2, (area.top + area.bottom) / 2);
  } else if (command == "text" || command == "owned-text") {
    char text[1024] = {};
    SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    std::printf("%s\n", text);
  } else if (command == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
  } else {
    return 2;
  }
  return 0;
}
