// Drives modal windows from inside their own message loops, as a user's input would arrive: steps
// run one per timer tick of the UI thread, so a step that opens a box blocks while the next step,
// served by the box's loop, answers it. Windows the steps left open are closed after some 200 idle
// ticks (or a step waited that long) so that a failing test ends instead of hanging; such a rescue
// fails the test. Tests only; UI thread only, one driver at a time.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace quillet::win32 {

class StepDriver {
 public:
  // A step returning bool is not ready while it returns false (a box not shown yet) and is tried
  // again at the next tick; any other step runs once.
  struct Step {
    template <class F>
    Step(F f) {  // NOLINT: implicit, so that lambdas make the list
      if constexpr (std::is_same_v<std::invoke_result_t<F&>, bool>) {
        run = std::move(f);
      } else {
        run = [f = std::move(f)]() mutable {
          f();
          return true;
        };
      }
    }
    std::function<bool()> run;
  };

  explicit StepDriver(std::vector<Step> steps, UINT intervalMs = 60) : pending(steps.begin(), steps.end()) {
    current = this;
    timer = SetTimer(nullptr, 0, intervalMs, tick);
  }
  ~StepDriver() {
    KillTimer(nullptr, timer);
    current = nullptr;
  }
  StepDriver(const StepDriver&) = delete;
  StepDriver& operator=(const StepDriver&) = delete;

  // Every step ran and nothing had to be closed for the test.
  bool ranCleanly() const { return pending.empty() && !rescued; }

 private:
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    StepDriver* self = current;
    if (self == nullptr) return;
    if (!self->pending.empty()) {
      // Taken off before it runs: a step blocked in a box lets the next one run inside it.
      Step step = std::move(self->pending.front());
      self->pending.pop_front();
      if (step.run()) {
        self->idleTicks = 0;
        return;
      }
      self->pending.push_front(std::move(step));
    }
    if (++self->idleTicks < 200) return;
    self->rescued = true;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
          if (IsWindowVisible(window) && IsWindowEnabled(window))
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
          return TRUE;
        },
        0);
  }

  static inline StepDriver* current = nullptr;
  std::deque<Step> pending;
  UINT_PTR timer = 0;
  int idleTicks = 0;
  bool rescued = false;
};

inline std::string windowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The visible top-level window of this thread with this title, the newest first; null when none.
inline HWND threadWindowTitled(const std::string& title) {
  std::pair<const std::string*, HWND> search{&title, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<std::pair<const std::string*, HWND>*>(data);
        if (!IsWindowVisible(window) || windowText(window) != *s->first) return TRUE;
        s->second = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// A message box's text (its static of id 0xFFFF).
inline std::string boxText(HWND box) {
  char text[1024] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  return text;
}

// Key down and up through the dialog manager of dialog, as the modal loop hands them over.
inline void pressKey(HWND dialog, WPARAM key) {
  MSG down{GetFocus(), WM_KEYDOWN, key, 1, 0, {}};
  if (!IsDialogMessageA(dialog, &down)) {
    TranslateMessage(&down);
    DispatchMessageA(&down);
  }
  MSG up{GetFocus(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u), 0, {}};
  if (!IsDialogMessageA(dialog, &up)) DispatchMessageA(&up);
}

}  // namespace quillet::win32
