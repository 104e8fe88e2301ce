// The prompt window's design and its handlers.
#include "form1.h"

#include <stdlib.h>

#include "resource.h"
#include "schedule.h"
#include "startup.h"

TForm1* Form1 = nullptr;

namespace {

// The layout, in pixels at 96 dots per inch: the one place these figures live.
const TControlDesign kControls[] = {
    {&ControlOf<TForm1, TLabel, &TForm1::Label1>, "STATIC", IDC_LABEL1, SS_LEFT | SS_NOPREFIX, 8,
     16, 377, 33,
     "The next step in installation is to schedule the appropriate files for installation "
     "into your palm computer.",
     nullptr},
    {&ControlOf<TForm1, TLabel, &TForm1::Label2>, "STATIC", IDC_LABEL2, SS_LEFT | SS_NOPREFIX, 8,
     56, 377, 41,
     "This installation program will attempt to do that now. If this should fail for any "
     "reason, then see the \"Manual Installation Instructions\" located in the program folder.",
     nullptr},
    {&ControlOf<TForm1, TButton, &TForm1::ButtonOk>, "BUTTON", IDOK,
     BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 121, 128, 75, 25, "Ok",
     static_cast<TNotifyEvent>(&TForm1::ButtonOkClick)},
    {&ControlOf<TForm1, TButton, &TForm1::ButtonCancel>, "BUTTON", IDCANCEL,
     BS_PUSHBUTTON | WS_TABSTOP, 201, 128, 75, 25, "Cancel",
     static_cast<TNotifyEvent>(&TForm1::ButtonCancelClick)},
};

const TFormDesign kForm1 = {
    "TForm1",
    "Automatic Installation",
    404,
    202,
    "MS Sans Serif",
    -11,
    static_cast<TNotifyEvent>(&TForm1::FormCreate),
    kControls,
    sizeof(kControls) / sizeof(kControls[0]),
};

}  // namespace

const TFormDesign& Form1Design() {
  return kForm1;
}

TForm1::TForm1() : TForm(kForm1) {}

void TForm1::FormCreate(TObject*) {}

void TForm1::ButtonOkClick(TObject*) {
  EnterComApartment();
  ScheduleRun(__argc, __argv, GetHandle());
}

void TForm1::ButtonCancelClick(TObject*) {
  PostMessageA(GetHandle(), WM_CLOSE, 0, 0);
}
