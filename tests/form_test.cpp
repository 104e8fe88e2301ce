// The prompt window and its framework inside the test's own process: what
// cannot be seen from outside (the font), and how handlers are dispatched.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>
#include <iterator>

#include "form1.h"

namespace {

TEST(FormAtScreenResolution, FontIsTheDesignedFaceScaledAndTheTextFitsItsBoxes) {
  // Measured under handoff.exe's own manifest, which this program carries; Wine
  // shows its code page, though it makes every program DPI aware.
  ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "not run under the program's manifest";
  HDC screen = GetDC(NULL);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(NULL, screen);
  // Started by the scaling tests, which say what the screen has been set to.
  if (const char* expected = getenv("HANDOFF_EXPECT_DPI")) {
    EXPECT_EQ(dpi, atoi(expected));
  }

  TForm1 form;
  Exception failure;
  ASSERT_TRUE(form.CreateWnd(&failure)) << failure.Message();
  for (const TWinControl* control : std::initializer_list<const TWinControl*>{
           &form.Label1, &form.Label2, &form.ButtonOk, &form.ButtonCancel}) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control->GetHandle(), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA logFont;
    ASSERT_EQ(GetObjectA(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
    EXPECT_STREQ(logFont.lfFaceName, Form1Design().fontFace);
    EXPECT_EQ(logFont.lfHeight, -MulDiv(-Form1Design().fontHeight, dpi, kDesignDpi));
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
  explicit TReentryForm(const TFormDesign& design) : TForm(design) {}
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

const TControlDesign kGoButton[] = {
    {&ControlOf<TReentryForm, TButton, &TReentryForm::Button>, "BUTTON", TReentryForm::kButtonId,
     BS_PUSHBUTTON | WS_TABSTOP, 10, 10, 75, 25, "Go",
     static_cast<TNotifyEvent>(&TReentryForm::ButtonClick)},
};
const TNotifyEvent kOnCreate = static_cast<TNotifyEvent>(&TReentryForm::FormCreate);
const TFormDesign kReentryDesign = {
    "THandoffReentryForm", "Re-entry", 200, 100, "MS Sans Serif", -11, kOnCreate, kGoButton, 1,
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

// What reaches the Go button's own window procedure: taps, which the form
// never sees.
int tapsOnGo = 0;
WNDPROC goProcedure = nullptr;
LRESULT CALLBACK CountTaps(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_POINTERDOWN) ++tapsOnGo;
  return CallWindowProcA(goProcedure, hwnd, message, wParam, lParam);
}

// Input of each kind made after the handler has ended, one on each tick of
// a timer that the application's loop dispatches; what the form had seen by
// the first tick is noted. A loop still running after 10 s is ended by
// destroying its form.
struct LaterInput {
  TReentryForm* form;
  UINT_PTR timer;
  size_t next;
  DWORD started;
  int clicksBefore, tapsBefore;
  bool openBefore, ended;
} later;

void CALLBACK MakeLaterInput(HWND, UINT, UINT_PTR, DWORD) {
  if (later.next == 0) {
    later.clicksBefore = later.form->clicks;
    later.tapsBefore = tapsOnGo;
    later.openBefore = IsWindow(later.form->GetHandle()) != FALSE;
  }
  if (later.next < std::size(kInputOfEachKind)) {
    Post(*later.form, kInputOfEachKind[later.next++]);
  } else if (GetTickCount() - later.started > 10000) {
    later.ended = true;
    DestroyWindow(later.form->GetHandle());
  }
}

TEST(FormHandlers, InputMadeWhileAHandlerRunsIsDroppedAndInputMadeAfterItIsHandled) {
  // The application's own loop, on a form of its own: the one instance of
  // its class, which an earlier run of this case may have used already.
  TApplication application;
  TReentryForm* form = nullptr;
  Exception failure;
  ASSERT_TRUE(application.CreateForm(form, &failure)) << failure.Message();
  HWND hwnd = form->GetHandle();
  form->clicks = 0;
  tapsOnGo = 0;
  later = {form, 0, 0, GetTickCount(), -1, -1, false, false};
  goProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      form->Button.GetHandle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountTaps)));

  // While the first click's handler runs, input of every kind arrives, and
  // the shell dispatches a click on the close box, which sends the system
  // command; the same input follows later, the close last.
  form->duringClick = [&] {
    if (form->clicks > 1) return;
    for (const Input& input : kInputOfEachKind) Post(*form, input);
    SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    later.timer = SetTimer(NULL, 0, 50, MakeLaterInput);
  };
  // Whatever an earlier case left in this thread's queue, a quit request
  // among it, is taken out, so that the loop starts on an empty queue.
  for (MSG msg; PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);) {
  }
  PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(TReentryForm::kButtonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(form->Button.GetHandle()));
  EXPECT_TRUE(application.Run(&failure));
  KillTimer(NULL, later.timer);
  form->duringClick = nullptr;
  EXPECT_EQ(later.clicksBefore, 1) << "a click or key made during the run started another";
  EXPECT_EQ(later.tapsBefore, 0) << "a tap made during the run reached the button";
  EXPECT_TRUE(later.openBefore) << "a close asked for during the run closed the window";
  EXPECT_EQ(form->clicks, 3);
  EXPECT_EQ(tapsOnGo, 1);
  EXPECT_FALSE(later.ended) << "the later input did not close the window";
  EXPECT_FALSE(IsWindow(hwnd));
}

// A step that fails says so and why, for the entry function to show: here
// the form's one control is of a class that does not exist.
const TControlDesign kBrokenControls[] = {
    {&ControlOf<TReentryForm, TButton, &TReentryForm::Button>, "HandoffNoSuchClass", 1002, 0, 0, 0,
     10, 10, "", nullptr},
};
const TFormDesign kBrokenDesign = {
    "THandoffBrokenForm", "Broken", 200, 100, "MS Sans Serif", -11, nullptr, kBrokenControls, 1,
};

TEST(FormCreation, AControlThatCannotBeMadeFailsTheStepWithItsMessage) {
  TReentryForm form(kBrokenDesign);
  Exception failure;
  EXPECT_FALSE(form.CreateWnd(&failure));
  EXPECT_STREQ(failure.Message(), "A control of the window could not be created.");
  EXPECT_EQ(form.Button.GetHandle(), nullptr);
}

}  // namespace
