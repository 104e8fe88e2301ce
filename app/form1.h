// The prompt window: two paragraphs of text, Ok to schedule the files, Cancel to leave.
#pragma once

#include "forms.h"

class TForm1 : public TForm {
 public:
  TForm1();

  TLabel Label1;
  TLabel Label2;
  TButton ButtonOk;
  TButton ButtonCancel;
  void FormCreate(TObject* Sender);
  void ButtonOkClick(TObject* Sender);
  void ButtonCancelClick(TObject* Sender);
};

extern TForm1* Form1;

// The design the window is built from, for tests that compare against it.
const TFormDesign& Form1Design();
