// handoff's entry: create the prompt window and run it until it closes.
#include <windows.h>

#include "form1.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const Exception& exception) {
    Application->ShowException(exception);
  }
  return 0;
}
