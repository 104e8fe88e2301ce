// The prompt window and its framework inside the test's own process: what
// cannot be seen from outside (the font), and how handlers are dispatched.
#include <gtest/gtest.h>

#include <stdlib.h>

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
// re-enter it: a second click and a close request arrive while it runs.
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
    SendMessageA(GetHandle(), WM_COMMAND, MAKEWPARAM(kButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Button.GetHandle()));
    SendMessageA(GetHandle(), WM_CLOSE, 0, 0);
    stillOpenInHandler = IsWindow(GetHandle()) != FALSE;
  }
  static const int kButtonId = 1001;
  int created = 0;
  int clicks = 0;
  bool stillOpenInHandler = false;
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

TEST(FormHandlers, ClicksDuringAHandlerAreDroppedAndClosingWaitsForItsEnd) {
  TReentryForm form;
  Exception failure;
  ASSERT_TRUE(form.CreateWnd(&failure)) << failure.Message();
  EXPECT_EQ(form.created, 1);
  HWND hwnd = form.GetHandle();
  SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(TReentryForm::kButtonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(form.Button.GetHandle()));
  EXPECT_EQ(form.clicks, 1);
  EXPECT_TRUE(form.stillOpenInHandler);
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
