#include "win32ui/message_boxes.h"

#include "script/failure_text.h"

namespace quillet::win32 {

namespace {
constexpr UINT kShowRequest = WM_APP + 1;
constexpr const char* kRelayClass = "QuilletFailureRelay";
}  // namespace

int showBox(HWND owner, const quillet::MessageBox& box) {
  UINT flags = box.buttons == BoxButtons::OkCancel ? MB_OKCANCEL : MB_OK;
  switch (box.icon) {
    case BoxIcon::Warning: flags |= MB_ICONWARNING; break;
    case BoxIcon::Question: flags |= MB_ICONQUESTION; break;
    case BoxIcon::Error: flags |= MB_ICONERROR; break;
    case BoxIcon::Information: flags |= MB_ICONINFORMATION; break;
  }
  return MessageBoxA(box.owned ? owner : nullptr, box.text.c_str(), box.caption.c_str(), flags);
}

struct Win32FailurePresenter::Request {
  Caption caption;
  const std::string* text;
};

Win32FailurePresenter::Win32FailurePresenter(std::string applicationTitle, HWND owner)
    : title(std::move(applicationTitle)), ownerWindow(owner), uiThread(GetCurrentThreadId()) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = relayProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kRelayClass;
  RegisterClassA(&windowClass);  // a second registration fails harmlessly
  relay = CreateWindowExA(0, kRelayClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                          nullptr);
  SetWindowLongPtrA(relay, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32FailurePresenter::~Win32FailurePresenter() {
  if (relay != nullptr) DestroyWindow(relay);
}

void Win32FailurePresenter::showHere(Caption caption, const std::string& text) {
  showBox(ownerWindow, failureBox(caption, text, title));
}

void Win32FailurePresenter::showError(Caption caption, const std::string& text) {
  if (GetCurrentThreadId() == uiThread || relay == nullptr) {
    showHere(caption, text);
    return;
  }
  // A sent message is handled by the UI thread's next message wait, whichever loop it is in (the
  // progress dialog's or the wait for the worker), and the sender waits for the handler's end.
  Request request{caption, &text};
  SendMessageA(relay, kShowRequest, 0, reinterpret_cast<LPARAM>(&request));
}

void Win32FailurePresenter::present(const RunFailure& failure) {
  showError(failureCaption(failure), failureBoxText(failure));
}

LRESULT CALLBACK Win32FailurePresenter::relayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kShowRequest) {
    auto* self = reinterpret_cast<Win32FailurePresenter*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    const auto* request = reinterpret_cast<const Request*>(lParam);
    if (self != nullptr) self->showHere(request->caption, *request->text);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void Win32ErrorPresenter::show(const std::string& caption, const std::string& text) {
  showBox(nullptr, settingsErrorBox(caption, text));
}

void joinWorkerServingMessages(WorkerThread& worker, const GenerationJob& job) {
  if (!worker.started()) return;
  while (!job.finished.load()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  worker.join();
}

}  // namespace quillet::win32
