#include "app/MainDialog_win32.h"

#include <commctrl.h>

#include <ctime>
#include <string>
#include <utility>

#include "app/StatusDisplay.h"
#include "app/WindowMessageSink_win32.h"
#include "engine/DownloadState.h"
#include "res/resource.h"

namespace voltrix {

namespace {

// How often the dialog asks whether the program is to end.
constexpr UINT_PTR kEndRequestTimer = 1;
constexpr UINT kEndRequestPeriodMs = 100;

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// The program file's name without folder and extension: the caption of a
// box that names none.
std::wstring applicationName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length);
  if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos) {
    name.erase(0, slash + 1);
  }
  if (const auto dot = name.rfind(L'.'); dot != std::wstring::npos) name.erase(dot);
  return name;
}

// A GDI font, deleted when the dialog's session ends.
class FontObject {
 public:
  FontObject() = default;
  ~FontObject() { reset(nullptr); }
  FontObject(const FontObject&) = delete;
  FontObject& operator=(const FontObject&) = delete;
  void reset(HFONT font) {
    if (font_ != nullptr) DeleteObject(font_);
    font_ = font;
  }
  HFONT get() const { return font_; }

 private:
  HFONT font_ = nullptr;
};

class DialogBoxes final : public MessageBoxPresenter {
 public:
  void setOwner(HWND owner) { owner_ = owner; }
  void showMessageBox(const char* text, const char* caption) override {
    const std::wstring title = caption != nullptr ? widen(caption) : applicationName();
    MessageBoxW(owner_, widen(text != nullptr ? text : "").c_str(), title.c_str(), MB_OK);
  }

 private:
  HWND owner_ = nullptr;
};

INT_PTR CALLBACK aboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL CALLBACK closeOwnedWindow(HWND candidate, LPARAM owner) {
  if (GetWindow(candidate, GW_OWNER) == reinterpret_cast<HWND>(owner)) {
    PostMessageW(candidate, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

// Everything one showing of the dialog owns. Members are destroyed in
// reverse order: the launcher (in seams) waits for a cancelled worker while
// the state it works on still exists.
class DialogSession {
 public:
  DialogSession(HINSTANCE instance, NativeDialogSeams seams)
      : instance_(instance), seams_(std::move(seams)) {
    icon_ = LoadIconW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME));
  }

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  BOOL onInitDialog(HWND window);

 private:
  BOOL SetupFonts(int height, int width, int weight);
  void applyWorkerMessage(const WorkerMessage& message);
  void paintIcon();
  void close();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  DownloadState state_;
  StatusDisplay display_;
  NativeDialogSeams seams_;
  DialogBoxes boxes_;
  std::shared_ptr<WindowMessageSink> sink_;
  std::unique_ptr<DownloadCommand> command_;
  FontObject titleFont_;
  FontObject buttonFont_;
};

BOOL DialogSession::onInitDialog(HWND window) {
  window_ = window;
  boxes_.setOwner(window);
  sink_ = std::make_shared<WindowMessageSink>(window);
  command_ = std::make_unique<DownloadCommand>(state_, *seams_.deviceMap, boxes_,
                                               *seams_.launcher, sink_, seams_.link);
  command_->setImagePath(seams_.imagePath);

  if (HMENU systemMenu = GetSystemMenu(window, FALSE); systemMenu != nullptr) {
    wchar_t about[128] = {};
    if (LoadStringW(instance_, IDS_ABOUTBOX, about, 128) > 0) {
      AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SetupFonts(23, 0, 700);
  if (seams_.endRequested) SetTimer(window, kEndRequestTimer, kEndRequestPeriodMs, nullptr);
  return TRUE;
}

BOOL DialogSession::SetupFonts(int height, int width, int weight) {
  // The banner gets the larger, heavier face; a font that cannot be made
  // leaves its control with the template's font.
  titleFont_.reset(CreateFontW(height + 10, width, 0, 0, weight + 10, FALSE, FALSE, FALSE, 0, 0,
                               0, 0, 0, L"arial"));
  if (titleFont_.get() != nullptr) {
    SendDlgItemMessageW(window_, IDC_TITLE, WM_SETFONT,
                        reinterpret_cast<WPARAM>(titleFont_.get()), TRUE);
  }
  buttonFont_.reset(
      CreateFontW(height, width, 0, 0, weight, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, L"arial"));
  if (buttonFont_.get() != nullptr) {
    SendDlgItemMessageW(window_, IDC_DOWNLOAD, WM_SETFONT,
                        reinterpret_cast<WPARAM>(buttonFont_.get()), TRUE);
  }
  state_.setDefaults();
  return TRUE;
}

void DialogSession::applyWorkerMessage(const WorkerMessage& message) {
  display_.apply(message, state_, std::time(nullptr));
  if (display_.textChanged()) {
    SetDlgItemTextW(window_, IDC_STATUS, widen(display_.statusText()).c_str());
  }
  SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(display_.progressPosition()), 0);
}

void DialogSession::paintIcon() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(window_, &paint);
}

void DialogSession::close() {
  // A run under way is asked to stop; the launcher waits for it once the
  // window is gone, so the port is closed and the files are left whole.
  state_.cancelRequested = true;
  if (sink_) sink_->detach();
  EnumThreadWindows(GetCurrentThreadId(), closeOwnedWindow, reinterpret_cast<LPARAM>(window_));
  EndDialog(window_, IDCANCEL);
}

INT_PTR DialogSession::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (WindowMessageSink::isWorkerMessage(message)) {
    applyWorkerMessage(WindowMessageSink::decode(message, wParam, lParam));
    return FALSE;  // and on to the default handling, which ignores it
  }
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, aboutDialogProc, 0);
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      if (IsIconic(window)) {
        paintIcon();
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_DOWNLOAD:
          if (HIWORD(wParam) == BN_CLICKED) command_->OnDownload();
          return TRUE;
        case IDOK:  // Enter
        case IDCANCEL:  // Esc and the close box
          close();
          return TRUE;
        default:
          return FALSE;
      }
    case WM_TIMER:
      if (wParam == kEndRequestTimer && seams_.endRequested && seams_.endRequested()) close();
      return TRUE;
    case WM_DESTROY:
      KillTimer(window, kEndRequestTimer);
      if (sink_) sink_->detach();
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* session = reinterpret_cast<DialogSession*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    return session->onInitDialog(window);
  }
  auto* session = reinterpret_cast<DialogSession*>(GetWindowLongPtrW(window, DWLP_USER));
  return session != nullptr ? session->handle(window, message, wParam, lParam) : FALSE;
}

}  // namespace

INT_PTR runNativeMainDialog(HINSTANCE instance, NativeDialogSeams seams) {
  DialogSession session(instance, std::move(seams));
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_VOLTRIX_DIALOG), nullptr, mainDialogProc,
                         reinterpret_cast<LPARAM>(&session));
}

}  // namespace voltrix
