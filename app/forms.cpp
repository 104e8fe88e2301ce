// Forms built from their design, their message handling, and the application's
// message loop.
#include "forms.h"

#include <commctrl.h>

#include "resource.h"
#include "system_library.h"

namespace {

TApplication application;

int ScreenDpi() {
  HDC screen = GetDC(NULL);
  int dpi = screen != NULL ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != NULL) ReleaseDC(NULL, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

// A form's window as the dialog manager makes it: a template in memory of one
// window and no items, with its menu (none), class and caption as UTF-16
// strings after the header. The template starts on a DWORD boundary and its
// strings on WORD boundaries, as the dialog manager requires.
struct alignas(DWORD) FormTemplate {
  DLGTEMPLATE header;
  WCHAR strings[1 + 257 + 512];  // no menu, a class name, a caption
};

// Appends `text` to the template's strings; false when it does not fit.
bool AppendString(FormTemplate* dialog, int* used, const char* text) {
  const int capacity = sizeof(dialog->strings) / sizeof(dialog->strings[0]);
  int written = MultiByteToWideChar(CP_ACP, 0, text, -1, dialog->strings + *used, capacity - *used);
  *used += written;
  return written > 0;
}

// The template's size is in dialog units: this one is a window of about the
// designed outer size, in the system font's units (the template names no
// font), so that the dialog manager places a window of that size. The form
// then sets the exact size in pixels.
void SetTemplateSize(DLGTEMPLATE* header, int outerWidth, int outerHeight) {
  RECT frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, header->style, FALSE, header->dwExtendedStyle);
  const LONG units = GetDialogBaseUnits();
  header->cx = static_cast<short>(
      MulDiv(outerWidth - (frame.right - frame.left), 4, LOWORD(static_cast<DWORD>(units))));
  header->cy = static_cast<short>(
      MulDiv(outerHeight - (frame.bottom - frame.top), 8, HIWORD(static_cast<DWORD>(units))));
}

// The dialog manager sends WM_INITDIALOG only to a dialog that has a dialog
// procedure, and calls it from DefDlgProcA for every message. The form's window
// procedure has already handled what the form handles, so this one adds
// nothing.
INT_PTR CALLBACK PassOnDialogProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

// A person's input, or a command that it makes: keys, mouse buttons and moves
// over the client area and the frame, touch and pen (WM_POINTER*, which the
// default window procedure turns into clicks), gestures, and the system
// commands of the title bar, the system menu and Alt+F4 (WM_SYSCOMMAND).
bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
         (message >= WM_TOUCH && message <= WM_POINTERROUTEDRELEASED) || message == WM_GESTURE ||
         message == WM_SYSCOMMAND;
}

}  // namespace

TApplication* Application = &application;

int ScaleToDpi(int designPixels, int dpi) {
  return MulDiv(designPixels, dpi, kDesignDpi);
}

TForm::~TForm() {
  if (handle_ != NULL) DestroyWindow(handle_);
  if (font_ != NULL) DeleteObject(font_);
}

bool TForm::CreateWnd(Exception* failure) {
  HINSTANCE instance = GetModuleHandleA(NULL);
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;  // room for the dialog manager's own data
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPICON));
  windowClass.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = design_.windowClass;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    *failure = Exception("The window class could not be registered.");
    return false;
  }

  // The frame the window has always had: sizeable, with the system menu and
  // the minimise and maximise boxes (DS_MODALFRAME would make it a dialog
  // frame without the title bar's icon). Windows documents no "default"
  // position for a template: DS_CENTER lets the system choose the place, the
  // middle of the work area of a monitor of its choosing.
  FormTemplate dialog = {};
  dialog.header.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | DS_CENTER;
  dialog.header.dwExtendedStyle = WS_EX_CONTROLPARENT;
  const int dpi = ScreenDpi();
  const int width = ScaleToDpi(design_.width, dpi);
  const int height = ScaleToDpi(design_.height, dpi);
  SetTemplateSize(&dialog.header, width, height);
  int used = 1;  // strings[0] == 0: no menu
  if (!AppendString(&dialog, &used, design_.windowClass) ||
      !AppendString(&dialog, &used, design_.caption) ||
      CreateDialogIndirectParamA(instance, &dialog.header, NULL, PassOnDialogProc,
                                 reinterpret_cast<LPARAM>(this)) == NULL ||
      handle_ == NULL) {
    *failure = Exception("The window could not be created.");
    return false;
  }
  SetWindowPos(handle_, NULL, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  font_ = CreateFontA(ScaleToDpi(design_.fontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      VARIABLE_PITCH | FF_SWISS, design_.fontFace);
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  for (int i = 0; i < design_.controlCount; ++i) {
    const TControlDesign& control = design_.controls[i];
    HWND child = CreateWindowExA(
        0, control.windowClass, control.caption, WS_CHILD | WS_VISIBLE | control.style,
        ScaleToDpi(control.left, dpi), ScaleToDpi(control.top, dpi), ScaleToDpi(control.width, dpi),
        ScaleToDpi(control.height, dpi), handle_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, NULL);
    if (child == NULL) {
      *failure = Exception("A control of the window could not be created.");
      return false;
    }
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    control.control(*this).handle_ = child;
  }
  if (design_.onCreate != nullptr) (this->*design_.onCreate)(this);
  return true;
}

void TForm::Show() {
  ShowWindow(handle_, SW_SHOWDEFAULT);
  // A prompt nobody can see can never be answered: a starter that asked for a
  // hidden window still gets a visible one.
  if (!IsWindowVisible(handle_)) ShowWindow(handle_, SW_SHOWNORMAL);
  SendMessageA(handle_, WM_NEXTDLGCTL,
               reinterpret_cast<WPARAM>(GetNextDlgTabItem(handle_, NULL, FALSE)), TRUE);
  // Windows gives the foreground only to a process that the one in the
  // foreground started: started by the Windows Installer service or a
  // scheduled task, the prompt opens behind the window the user is in, and the
  // install seems to hang. Asked for the foreground, Windows gives it where
  // the program may have it, as it would to the activation above, and refuses
  // elsewhere; the taskbar button then flashes until the user turns to it
  // (the count is of no account with FLASHW_TIMERNOFG). A prompt that a
  // starter asked to show minimised is not brought up, only flashed.
  if (IsIconic(handle_) || !SetForegroundWindow(handle_) || GetForegroundWindow() != handle_) {
    FLASHWINFO flash = {sizeof(flash), handle_, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
  }
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The messages of creation, before this one, go to DefDlgProcA alone.
  if (message == WM_INITDIALOG) {
    TForm* form = reinterpret_cast<TForm*>(lParam);
    form->handle_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
    // The controls do not exist yet: Show gives the first of them the focus.
    return FALSE;
  }
  TForm* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (form == nullptr) return DefDlgProcA(hwnd, message, wParam, lParam);
  return form->HandleMessage(message, wParam, lParam);
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = handle_;
  // Input that the shell dispatches while it runs inside a click handler was
  // made while busy: dropped, as the loop drops it (IsInputMadeWhileBusy).
  if (inHandler_ && IsUserInput(message)) return 0;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        Click(LOWORD(wParam));
        return 0;
      }
      break;
    case WM_CLOSE:
      // Handled here: the dialog manager would turn it into a Cancel click. A
      // program's request, or a person's that the input rule let through, is
      // honoured: at once, or once the handler has ended.
      if (inHandler_) {
        closeDeferred_ = true;
      } else {
        DestroyWindow(hwnd);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      handle_ = NULL;
      break;
  }
  return DefDlgProcA(hwnd, message, wParam, lParam);
}

void TForm::Click(int id) {
  if (inHandler_) return;
  for (int i = 0; i < design_.controlCount; ++i) {
    const TControlDesign& control = design_.controls[i];
    if (control.id != id || control.onClick == nullptr) continue;
    inHandler_ = true;
    (this->*control.onClick)(&control.control(*this));
    inHandler_ = false;
    busyEnd_ = GetTickCount();
    busyEnded_ = true;
    if (closeDeferred_) {
      closeDeferred_ = false;
      PostMessageA(handle_, WM_CLOSE, 0, 0);
    }
    return;
  }
}

bool TForm::IsInputMadeWhileBusy(const MSG& msg) {
  // A second Ok pressed, tapped or clicked during a long hand-over must not
  // start a second run once the first has ended, nor a close asked for
  // meanwhile end the program afterwards: a busy window takes no input. One
  // rule for every kind: input made no later than the end of the handler is
  // dropped, whether the shell dispatched it meanwhile (HandleMessage) or it
  // is still queued when the handler ends (here). A message's time is the
  // GetTickCount() of when its input was made, or of its posting.
  if (!busyEnded_ || !IsUserInput(msg.message) || handle_ == NULL ||
      (msg.hwnd != handle_ && !IsChild(handle_, msg.hwnd))) {
    return false;
  }
  // What was queued by the end is read within moments of it. An hour on, the
  // end is forgotten, so that the counter's wrap after 49.7 days cannot make
  // new input look old; until then the signed difference holds across it.
  const DWORD kInputBacklogMs = 60 * 60 * 1000;
  if (GetTickCount() - busyEnd_ > kInputBacklogMs) {
    busyEnded_ = false;
    return false;
  }
  return static_cast<LONG>(msg.time - busyEnd_) <= 0;
}

bool TApplication::Initialize(Exception*) {
  // Common Controls 6, which the manifest names, gives the controls their
  // look. It is loaded rather than imported, as it is no DLL that Windows
  // always takes from System32: loaded here, it comes from there alone.
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl32 = LoadSystemLibrary("comctl32.dll");
  InitCommonControlsExFn initCommonControlsEx =
      comctl32 == NULL ? nullptr
                       : reinterpret_cast<InitCommonControlsExFn>(reinterpret_cast<void*>(
                             GetProcAddress(comctl32, "InitCommonControlsEx")));
  if (initCommonControlsEx != nullptr) {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES;
    initCommonControlsEx(&controls);
  }
  return true;
}

void TApplication::Adopt(TForm* form) {
  // The program has one form, its main form, which the application owns.
  if (mainForm_ == nullptr) mainForm_ = form;
}

bool TApplication::Run(Exception*) {
  if (mainForm_ == nullptr) return true;
  mainForm_->Show();
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    if (mainForm_->IsInputMadeWhileBusy(msg)) continue;
    HWND main = mainForm_->GetHandle();
    if (main != NULL && IsDialogMessageA(main, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

void TApplication::ShowException(const Exception& exception) {
  HWND owner = mainForm_ != nullptr ? mainForm_->GetHandle() : NULL;
  MessageBoxA(owner, exception.Message(), "handoff", MB_OK | MB_ICONSTOP);
}
