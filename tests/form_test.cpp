// The prompt window and its framework inside the test's own process: what
// cannot be seen from outside (the font), and how handlers are dispatched.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>

#include "form1.h"

namespace {

int ScreenDpi() {
  HDC screen = GetDC(NULL);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(NULL, screen);
  return dpi;
}

TEST(FormAtScreenResolution, FontIsTheDesignedFaceScaledAndTheTextFitsItsBoxes) {
  // Measured under handoff.exe's own manifest, which this program carries; Wine
  // shows its code page, though it makes every program DPI aware.
  ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "not run under the program's manifest";
  const int dpi = ScreenDpi();
  // Started by the scaling tests, which say what the screen has been set to.
  if (const char* expected = getenv("HANDOFF_EXPECT_DPI")) {
    EXPECT_EQ(dpi, atoi(expected));
  }

  TForm1 form;
  Exception failure;
  ASSERT_TRUE(form.CreateWnd(&failure)) << failure.Message();
  for (const TWinControl* control :
       {static_cast<TWinControl*>(&form.Label1), static_cast<TWinControl*>(&form.Label2),
        static_cast<TWinControl*>(&form.ButtonOk), static_cast<TWinControl*>(&form.ButtonCancel)}) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control->GetHandle(), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA logFont;
    ASSERT_EQ(GetObjectA(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
    EXPECT_STREQ(logFont.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(logFont.lfHeight, -MulDiv(11, dpi, 96));
    EXPECT_EQ(logFont.lfWeight, FW_NORMAL);
    EXPECT_FALSE(logFont.lfItalic || logFont.lfUnderline || logFont.lfStrikeOut);
    EXPECT_EQ(logFont.lfCharSet, DEFAULT_CHARSET);
  }

  // Wrapped in that font, each paragraph fits the box it is shown in.
  for (const TLabel* label : {&form.Label1, &form.Label2}) {
    HWND hwnd = label->GetHandle();
    char text[512];
    GetWindowTextA(hwnd, text, sizeof(text));
    RECT box;
    GetClientRect(hwnd, &box);
    RECT needed = {0, 0, box.right, 0};
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
    DrawTextA(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    EXPECT_LE(needed.bottom, box.bottom) << text;
    EXPECT_LE(needed.right, box.right) << text;
  }
}

// A form of one button whose handler is re-entered the way the shell can
// re-enter it: what arrives while it runs is up to each test.
class TReentryForm : public TForm {
 public:
  TReentryForm();
  TButton Button;
  void FormCreate(TObject*) {
    ++created;
  }
  void ButtonClick(TObject* sender) {
    ++clicks;
    EXPECT_EQ(sender, &Button);
    if (duringClick) duringClick();
  }
  static const int kButtonId = 1001;
  int created = 0;
  int clicks = 0;
  std::function<void()> duringClick;
};

const TControlDesign kReentryControls[] = {
    {&ControlOf<TReentryForm, TButton, &TReentryForm::Button>, "BUTTON", TReentryForm::kButtonId,
     BS_PUSHBUTTON | WS_TABSTOP, 10, 10, 75, 25, "Go",
     static_cast<TNotifyEvent>(&TReentryForm::ButtonClick)},
};
const TFormDesign kReentryDesign = {
    "THandoffReentryForm",
    "Re-entry",
    200,
    100,
    "MS Sans Serif",
    -11,
    static_cast<TNotifyEvent>(&TReentryForm::FormCreate),
    kReentryControls,
    1,
};

TReentryForm::TReentryForm() : TForm(kReentryDesign) {}

void ClickGo(TReentryForm& form) {
  SendMessageA(form.GetHandle(), WM_COMMAND, MAKEWPARAM(TReentryForm::kButtonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(form.Button.GetHandle()));
}

TEST(FormHandlers, ClicksDuringAHandlerAreDroppedAndClosingWaitsForItsEnd) {
  TReentryForm form;
  Exception failure;
  ASSERT_TRUE(form.CreateWnd(&failure)) << failure.Message();
  EXPECT_EQ(form.created, 1);
  HWND hwnd = form.GetHandle();
  bool stillOpenInHandler = false;
  form.duringClick = [&] {
    ClickGo(form);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    stillOpenInHandler = IsWindow(hwnd) != FALSE;
  };
  ClickGo(form);
  EXPECT_EQ(form.clicks, 1);
  EXPECT_TRUE(stillOpenInHandler);
  ASSERT_TRUE(IsWindow(hwnd));

  // The close request was put back in the queue once the handler had returned.
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
  DispatchMessageA(&msg);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(form.GetHandle(), nullptr);
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) break;
  }
}

// A person's input of each kind, as the window system queues it: posted, and
// stamped with the time of its posting.
struct Input {
  bool toGo;  // to the Go button, else to the form
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
const Input kInputOfEachKind[] = {
    {true, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)},  // a click
    {true, WM_LBUTTONUP, 0, MAKELPARAM(5, 5)},
    {true, WM_KEYDOWN, VK_SPACE, MAKELPARAM(1, 0x39)},  // a press of the space bar
    {true, WM_KEYUP, VK_SPACE, MAKELPARAM(1, 0xC039)},
    {true, WM_POINTERDOWN,
     MAKEWPARAM(1, POINTER_MESSAGE_FLAG_NEW | POINTER_MESSAGE_FLAG_FIRSTBUTTON), 0},  // a tap
    {false, WM_SYSCOMMAND, SC_CLOSE, 0},  // what a close box or Alt+F4 makes
};

void Post(TReentryForm& form, const Input& input) {
  PostMessageA(input.toGo ? form.Button.GetHandle() : form.GetHandle(), input.message, input.wParam,
               input.lParam);
}

// Hands the queued messages on as the application's loop does.
void RunMessageLoop(TForm& form) {
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT || form.IsInputMadeWhileBusy(msg)) continue;
    if (form.GetHandle() != NULL && IsDialogMessageA(form.GetHandle(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

int tapsOnGo = 0;
WNDPROC goProcedure = nullptr;
LRESULT CALLBACK CountTaps(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_POINTERDOWN) ++tapsOnGo;
  return CallWindowProcA(goProcedure, hwnd, message, wParam, lParam);
}

TEST(FormHandlers, InputMadeWhileAHandlerRunsIsDroppedAndInputMadeAfterItIsHandled) {
  TReentryForm form;
  Exception failure;
  ASSERT_TRUE(form.CreateWnd(&failure)) << failure.Message();
  HWND hwnd = form.GetHandle();
  goProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      form.Button.GetHandle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountTaps)));

  // While the handler runs, input of every kind arrives, and the shell
  // dispatches a click on the close box, which sends the system command.
  form.duringClick = [&] {
    for (const Input& input : kInputOfEachKind) Post(form, input);
    SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  };
  ClickGo(form);
  form.duringClick = nullptr;
  RunMessageLoop(form);
  EXPECT_EQ(form.clicks, 1) << "a click or key made during the run started another";
  EXPECT_EQ(tapsOnGo, 0) << "a tap made during the run reached the button";
  ASSERT_TRUE(IsWindow(hwnd)) << "a close asked for during the run closed the window";

  // The same, each made on a later tick than the end of the last handler.
  for (const Input& input : kInputOfEachKind) {
    Sleep(50);
    Post(form, input);
    RunMessageLoop(form);
  }
  EXPECT_EQ(form.clicks, 3);
  EXPECT_EQ(tapsOnGo, 1);
  EXPECT_FALSE(IsWindow(hwnd));
}

// A step that fails says so and why, for the entry function to show.
class TBrokenForm : public TForm {
 public:
  TBrokenForm();
  TLabel Missing;
};

const TControlDesign kBrokenControls[] = {
    {&ControlOf<TBrokenForm, TLabel, &TBrokenForm::Missing>, "HandoffNoSuchClass", 1002, 0, 0, 0,
     10, 10, "", nullptr},
};
const TFormDesign kBrokenDesign = {
    "THandoffBrokenForm", "Broken", 200, 100, "MS Sans Serif", -11, nullptr, kBrokenControls, 1,
};

TBrokenForm::TBrokenForm() : TForm(kBrokenDesign) {}

TEST(FormCreation, AControlThatCannotBeMadeFailsTheStepWithItsMessage) {
  TBrokenForm form;
  Exception failure;
  EXPECT_FALSE(form.CreateWnd(&failure));
  EXPECT_STREQ(failure.Message(), "A control of the window could not be created.");
  EXPECT_EQ(form.Missing.GetHandle(), nullptr);
}

}  // namespace
