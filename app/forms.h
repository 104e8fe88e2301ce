// The little window framework the program's one form stands on: an application
// object that creates forms and runs the message loop, forms built from a
// declared design, and thin wrappers over native controls.
//
// A form's window is a dialog that the platform's dialog manager creates
// (CreateDialogIndirectParamA), from a template in memory naming the form's own
// class (DLGWINDOWEXTRA, its procedure passing on to DefDlgProcA), as Windows
// documents custom dialog classes. The dialog manager gives it the usual
// keyboard behaviour: Tab between tab stops, Enter for the default or focused
// button, Esc for IDCANCEL. The template says only the frame; the size and the
// controls are set afterwards in pixels, from the design.
#pragma once

#include <windows.h>

// What a step that failed hands back to the entry function, which shows its
// message. The program is built without C++ exceptions: a failing step
// returns false and fills the Exception it was given.
class Exception {
 public:
  Exception() {
    message_[0] = '\0';
  }
  explicit Exception(const char* message) {
    lstrcpynA(message_, message, sizeof(message_));
  }
  const char* Message() const {
    return message_;
  }

 private:
  char message_[256];
};

// Forms and controls are never deleted through a base pointer: the forms live
// as long as the program, and the controls are members of their form.
class TObject {};

class TWinControl : public TObject {
 public:
  HWND GetHandle() const {
    return handle_;
  }

 protected:
  friend class TForm;
  HWND handle_ = nullptr;
};

class TLabel : public TWinControl {};
class TButton : public TWinControl {};

class TForm;
using TNotifyEvent = void (TForm::*)(TObject* sender);
using TControlRef = TWinControl& (*)(TForm& form);

// Binds a design entry to the form member that holds the control.
template <class Form, class Control, Control Form::*member>
TWinControl& ControlOf(TForm& form) {
  return static_cast<Form&>(form).*member;
}

// Figures are pixels at 96 dots per inch; a form scales them to the screen.
const int kDesignDpi = 96;

struct TControlDesign {
  TControlRef control;
  const char* windowClass;
  int id;  // IDOK and IDCANCEL make a control the default and the cancel button
  DWORD style;
  int left, top, width, height;  // in the form's client area
  const char* caption;
  TNotifyEvent onClick;
};

struct TFormDesign {
  const char* windowClass;
  const char* caption;
  int width, height;  // outer size
  const char* fontFace;
  int fontHeight;  // negative: character height, as in LOGFONT
  TNotifyEvent onCreate;
  const TControlDesign* controls;
  int controlCount;
};

// Scales a design figure to the given screen resolution.
int ScaleToDpi(int designPixels, int dpi);

class TForm : public TWinControl {
 public:
  explicit TForm(const TFormDesign& design) : design_(design) {}
  ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Creates the window and its controls from the design; false, with what
  // went wrong in `failure`, when it cannot.
  bool CreateWnd(Exception* failure);
  void Show();
  // True for a message of a person's input, aimed at this window or its
  // controls, that was made while a click handler ran: the message loop drops
  // it instead of dispatching it.
  bool IsInputMadeWhileBusy(const MSG& msg);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Click(int id);

  const TFormDesign& design_;
  HFONT font_ = nullptr;
  // The shell may pump messages while a click handler runs: input that it
  // dispatches meanwhile is dropped, and a program's close request waits until
  // the handler ends. Input made before the handler ended and still queued
  // then is dropped by the message loop (IsInputMadeWhileBusy).
  bool inHandler_ = false;
  bool closeDeferred_ = false;
  bool busyEnded_ = false;  // a handler has ended, at busyEnd_, and input of then may be queued
  DWORD busyEnd_ = 0;       // GetTickCount() when it ended
};

// Each step of start-up returns false when it fails, with what went wrong in
// `failure`, for ShowException.
class TApplication {
 public:
  bool Initialize(Exception* failure);
  // Creates a form, stores it in `form` and, for the first one, makes it the
  // main form. The program has one form of each class, living as long as the
  // program does.
  template <class Form>
  bool CreateForm(Form*& form, Exception* failure) {
    static Form instance;
    form = &instance;
    Adopt(form);
    return form->CreateWnd(failure);
  }
  // Shows the main form and dispatches messages until it has closed.
  bool Run(Exception* failure);
  void ShowException(const Exception& exception);

 private:
  void Adopt(TForm* form);
  TForm* mainForm_ = nullptr;
};

extern TApplication* Application;
