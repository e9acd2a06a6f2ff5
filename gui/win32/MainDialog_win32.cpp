#include "gui/win32/MainDialog_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <ctime>
#include <string>
#include <utility>

#include "control/DeviceRun.h"
#include "control/DownloadCommand.h"
#include "control/StatusDisplay.h"
#include "engine/DownloadState.h"
#include "engine/Refusal.h"
#include "gui/win32/ImageChoice_win32.h"
#include "gui/win32/WindowMessageSink_win32.h"
#include "platform/WideText_win32.h"
#include "res/resource.h"

namespace voltrix {

namespace {

// How often the dialog asks whether the program is to end.
constexpr UINT_PTR kEndRequestTimer = 1;
constexpr UINT kEndRequestPeriodMs = 100;

// The fonts' sizes below are pixels at 96 DPI, where the dialog units of
// the template were laid out.
constexpr int kDesignDpi = 96;

// The DPI the window is drawn at: the window's own where the system knows
// per-window DPI (Windows 10 1607 and later), else the screen's.
int windowDpi(HWND window) {
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (dpiForWindow != nullptr) {
    if (const UINT dpi = dpiForWindow(window); dpi > 0) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(window);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc != nullptr) ReleaseDC(window, dc);
  return dpi > 0 ? dpi : kDesignDpi;
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
  void applyCaptionFonts(int dpi);
  void addSystemMenuItems();
  bool refusedWhileBusy();
  void useImage(const std::wstring& name);
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
  std::unique_ptr<DeviceRun> run_;
  std::unique_ptr<DownloadCommand> command_;
  FontObject titleFont_;
  FontObject buttonFont_;
  // The template's caption; an image chosen in the dialog is named before it.
  std::wstring caption_;
  // The arguments SetupFonts was given, kept for a change of DPI.
  int fontHeight_ = 0;
  int fontWidth_ = 0;
  int fontWeight_ = 0;
};

void DialogSession::addSystemMenuItems() {
  HMENU systemMenu = GetSystemMenu(window_, FALSE);
  if (systemMenu == nullptr) return;
  const std::wstring about = loadText(instance_, IDS_ABOUTBOX);
  if (!about.empty()) {
    AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
  }
  const std::wstring choose = loadText(instance_, IDS_CHOOSE_IMAGE);
  if (!choose.empty()) AppendMenuW(systemMenu, MF_STRING, IDM_CHOOSE_IMAGE, choose.c_str());
}

bool DialogSession::refusedWhileBusy() {
  // The image of a run under way is not swapped under the operator's eyes:
  // the title names the image being written until the run ends.
  if (state_.busy == BusyState::Idle) return false;
  boxes_.showMessageBox(refusalText(Refusal::Busy), refusalCaption(Refusal::Busy));
  return true;
}

void DialogSession::useImage(const std::wstring& name) {
  if (name.empty() || refusedWhileBusy()) return;
  const std::wstring image = imageNamedBy(name);
  command_->setImagePath(narrow(image));
  SetWindowTextW(window_, (image + L" - " + caption_).c_str());
}

BOOL DialogSession::onInitDialog(HWND window) {
  window_ = window;
  boxes_.setOwner(window);
  sink_ = std::make_shared<WindowMessageSink>(window);
  // The worker's messages come back as posted window messages; handle()
  // shows them.
  DeviceRun::Parts parts;
  parts.link = seams_.link;
  parts.launcher = seams_.launcher.get();
  parts.sink = sink_;
  run_ = std::make_unique<DeviceRun>(state_, std::move(parts));
  command_ = std::make_unique<DownloadCommand>(*run_, *seams_.deviceMap, boxes_);
  command_->setImagePath(seams_.imagePath);
  command_->nameWhereImageWasLookedFor(seams_.workFolderProblem);
  wchar_t caption[256] = {};
  caption_.assign(caption, static_cast<std::size_t>(GetWindowTextW(window, caption, 256)));

  addSystemMenuItems();
  DragAcceptFiles(window, TRUE);
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SetupFonts(23, 0, 700);
  if (seams_.endRequested) SetTimer(window, kEndRequestTimer, kEndRequestPeriodMs, nullptr);
  return TRUE;
}

BOOL DialogSession::SetupFonts(int height, int width, int weight) {
  fontHeight_ = height;
  fontWidth_ = width;
  fontWeight_ = weight;
  applyCaptionFonts(windowDpi(window_));
  state_.setDefaults();
  return TRUE;
}

void DialogSession::applyCaptionFonts(int dpi) {
  // The banner gets the larger, heavier face. The sizes are pixels at 96
  // DPI and grow with the DPI as the template's dialog units do, so the
  // captions keep their place in their controls. A font that cannot be made
  // leaves its control with the font it has.
  const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, kDesignDpi); };
  const auto apply = [this](int control, FontObject& holder, HFONT font) {
    if (font == nullptr) return;
    SendDlgItemMessageW(window_, control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    holder.reset(font);  // the control no longer uses the previous one
  };
  apply(IDC_TITLE, titleFont_,
        CreateFontW(scaled(fontHeight_ + 10), scaled(fontWidth_), 0, 0, fontWeight_ + 10, FALSE,
                    FALSE, FALSE, 0, 0, 0, 0, 0, L"arial"));
  apply(IDC_DOWNLOAD, buttonFont_,
        CreateFontW(scaled(fontHeight_), scaled(fontWidth_), 0, 0, fontWeight_, FALSE, FALSE, FALSE,
                    0, 0, 0, 0, 0, L"arial"));
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
      if ((wParam & 0xFFF0) == IDM_CHOOSE_IMAGE) {
        if (!refusedWhileBusy()) useImage(askForImage(instance_, window));
        return TRUE;
      }
      return FALSE;
    case WM_DROPFILES:
      // Of several dropped names the first is taken.
      useImage(takeFirstDroppedName(reinterpret_cast<HDROP>(wParam)));
      return TRUE;
    case WM_DPICHANGED:
      // The system scales the template's controls; the captions' own fonts
      // follow here.
      applyCaptionFonts(HIWORD(wParam));
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
        case IDOK:      // Enter
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
