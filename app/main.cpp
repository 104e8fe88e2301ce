// handoff's entry: harden the process, then create the prompt window and run
// it until it closes.
#include <windows.h>

#include "form1.h"
#include "startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ProtectAgainstDllPlanting();
  ComApartment apartment;
  try {
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const Exception& exception) {
    Application->ShowException(exception);
  }
  return 0;
}
