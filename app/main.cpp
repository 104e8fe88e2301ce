// handoff's entry: harden the process, then create the prompt window and run
// it until it closes. A step that fails hands back its Exception, whose
// message is shown; the program returns 0 either way. Where no person can see
// the window, it ends at once: it hands nothing over and writes nothing, and
// the list stays for the product to schedule later.
#include <windows.h>

#include "form1.h"
#include "startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ProtectAgainstDllPlanting();
  if (PromptWouldHangTheInstall()) return 0;
  Exception failure;
  if (!Application->Initialize(&failure) || !Application->CreateForm(Form1, &failure) ||
      !Application->Run(&failure)) {
    Application->ShowException(failure);
  }
  // Entered by the first run, if there was one.
  LeaveComApartment();
  return 0;
}
