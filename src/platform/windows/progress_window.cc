// The progress window: the source and target, a bar by bytes, the figures of
// the run's progress line, and Cancel. It lives on a thread of its own, which
// takes the newest figures from memory ten times a second: the run's threads
// only write them there, so a display that does not answer never holds the
// run up. Cancel, closing the window and Task Manager's End task (a close
// message first) all set the run's stop flag, as Ctrl-C does on POSIX.
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <atomic>
#include <csignal>
#include <mutex>

#include "platform/process.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

namespace {

constexpr wchar_t kClass[] = L"PlenvarProgress";
constexpr UINT_PTR kTimer = 1;
constexpr UINT kClose = WM_APP;  // posted by CloseProgress, so it need not wait for a tick
constexpr int kBarSteps = 1000;
// The client area, in pixels at 96 dpi: two path lines, the bar, the
// figures, and Cancel at the bottom right.
constexpr int kWidth = 560, kMargin = 12, kLine = 20, kButtonWidth = 88, kButtonHeight = 26;
constexpr int kHeight = kMargin + 4 * kLine + 12 + kButtonHeight + kMargin;
enum Control { kFrom = 100, kTo, kBar, kFigures };

// What the run last asked the window to show.
struct Figures {
  std::wstring line = L"Counting the mail files\u2026";
  int steps = 0;
  bool changed = true;
};

struct Window {
  std::mutex mutex;  // guards the figures and `stop`; never held while drawing
  Figures figures;
  std::wstring from, to;
  std::atomic<int>* stop = nullptr;  // null from CloseProgress on: the run's is gone
  std::atomic<bool> closing{false};
  std::atomic<HWND> hwnd{nullptr};  // once made
  HANDLE thread = nullptr;
  HFONT font = nullptr;
};

// The window a run opened last, and the one this window thread shows. Each
// is kept to the process's end, since a window thread that did not end in
// time may still use its own.
Window* window = nullptr;
thread_local Window* shown = nullptr;

// `signal`: SIGINT for Cancel, SIGTERM for the session's end, named so in
// the notice and the log.
void Stop(HWND hwnd, int signal) {
  {
    const std::lock_guard<std::mutex> lock(shown->mutex);
    if (shown->stop == nullptr) return;  // the run has ended
    int none = 0;
    shown->stop->compare_exchange_strong(none, signal);
  }
  // One click is enough: the run stops within a block of each mail file.
  const HWND cancel = GetDlgItem(hwnd, IDCANCEL);
  SetWindowTextW(cancel, L"Stopping\u2026");
  EnableWindow(cancel, FALSE);
}

void Refresh(HWND hwnd) {
  std::wstring line;
  int steps = 0;
  {
    const std::lock_guard<std::mutex> lock(shown->mutex);
    if (!shown->figures.changed) return;
    shown->figures.changed = false;
    line = shown->figures.line;
    steps = shown->figures.steps;
  }
  SetDlgItemTextW(hwnd, kFigures, line.c_str());
  SendDlgItemMessageW(hwnd, kBar, PBM_SETPOS, static_cast<WPARAM>(steps), 0);
}

HWND Child(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, int id, int x, int y,
           int width, int height) {
  const HWND child = CreateWindowExW(
      0, kind, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(shown->font), FALSE);
  return child;
}

void Build(HWND hwnd) {
  const int inner = kWidth - 2 * kMargin;
  const DWORD text = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
  Child(hwnd, L"STATIC", (L"From: " + shown->from).c_str(), text | SS_PATHELLIPSIS, kFrom, kMargin,
        kMargin, inner, kLine);
  Child(hwnd, L"STATIC", (L"To: " + shown->to).c_str(), text | SS_PATHELLIPSIS, kTo, kMargin,
        kMargin + kLine, inner, kLine);
  const HWND bar = Child(hwnd, PROGRESS_CLASSW, L"", 0, kBar, kMargin, kMargin + 2 * kLine + 4,
                         inner, kLine - 4);
  SendMessageW(bar, PBM_SETRANGE32, 0, kBarSteps);
  Child(hwnd, L"STATIC", L"", text, kFigures, kMargin, kMargin + 3 * kLine + 4, inner, kLine);
  Child(hwnd, L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL,
        kWidth - kMargin - kButtonWidth, kHeight - kMargin - kButtonHeight, kButtonWidth,
        kButtonHeight);
}

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) Stop(hwnd, SIGINT);
      return 0;
    case WM_CLOSE:  // the close box, Alt-F4, End task: the run stops, then closes the window
      Stop(hwnd, SIGINT);
      return 0;
    case WM_QUERYENDSESSION:  // logoff or shutdown: stop, as SIGHUP does on POSIX
      Stop(hwnd, SIGTERM);
      return TRUE;
    case WM_ENDSESSION:
      // The process ends when this returns: first let the run finish its
      // log, within the seconds Windows grants before it ends a program.
      for (int waited = 0; wParam && !shown->closing && waited < 4000; waited += 50) Sleep(50);
      return 0;
    case WM_TIMER:
    case kClose:
      if (shown->closing) {
        DestroyWindow(hwnd);
      } else {
        Refresh(hwnd);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

DWORD WINAPI Run(void* opened) {
  shown = static_cast<Window*>(opened);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSEXW type = {};
  type.cbSize = sizeof type;
  type.lpfnWndProc = Procedure;
  type.hInstance = GetModuleHandleW(nullptr);
  type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  type.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  type.lpszClassName = kClass;
  RegisterClassExW(&type);
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  shown->font = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)
                    ? CreateFontIndirectW(&metrics.lfMessageFont)
                    : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame = {0, 0, kWidth, kHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  // Titled as the notices are. No display (a service, Wine without X): no
  // window, and the run goes on.
  const HWND hwnd = CreateWindowExW(0, kClass, L"Plenvar", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                    frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
  if (hwnd == nullptr) return 0;
  // Either CloseProgress finds the window to post to, or this finds it
  // closing: a run that ended before its window was made never shows it.
  shown->hwnd = hwnd;
  if (shown->closing) {
    DestroyWindow(hwnd);
    return 0;
  }
  Build(hwnd);
  SetTimer(hwnd, kTimer, 100, nullptr);
  Refresh(hwnd);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(hwnd, &message)) {  // Esc presses Cancel, as in a dialog
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return 0;
}

}  // namespace

bool ProgressWanted() { return true; }

std::size_t ProgressColumns() { return kAnyWidth; }

void OpenProgress(const std::string& source, const std::string& target, std::atomic<int>* stop) {
  window = new Window;
  window->from = Wide(source);
  window->to = Wide(target);
  window->stop = stop;
  window->thread = CreateThread(nullptr, 0, Run, window, 0, nullptr);
}

void ShowProgress(std::string_view line, double done) {
  if (window == nullptr || window->closing) return;
  std::wstring text = Wide(line);
  const std::lock_guard<std::mutex> lock(window->mutex);
  window->figures.line.swap(text);
  window->figures.steps = static_cast<int>(done * kBarSteps);
  window->figures.changed = true;
}

void CloseProgress() {
  if (window == nullptr) return;
  {
    const std::lock_guard<std::mutex> lock(window->mutex);
    window->stop = nullptr;  // a Cancel from now on finds nothing to stop
  }
  window->closing = true;
  if (const HWND hwnd = window->hwnd) PostMessageW(hwnd, kClose, 0, 0);
  // Gone before the notice, unless the display does not answer: then the run
  // does not wait for it longer than this.
  if (window->thread != nullptr) {
    WaitForSingleObject(window->thread, 3000);
    CloseHandle(window->thread);
    window->thread = nullptr;
  }
}

}  // namespace plenvar::platform
