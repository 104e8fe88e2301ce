// What the program does first, before any window or shell call: close the
// ways other people's files could get code into this process; and the
// apartment the shell expects, entered only once the shell is first needed;
// and whether anyone can see the window at all.
#pragma once

#include <windows.h>

// Loads DLLs only from the system directory from now on.
void ProtectAgainstDllPlanting();

// True where no person can ever see the window: in session 0, or in a window
// station without visible display surfaces. Deployment tools, services and
// tasks that run whether the user is logged on or not start installers
// there, and an installer that waits for this program would wait for ever.
// A locked screen or a disconnected remote session keeps its visible window
// station: the person comes back.
bool PromptWouldHangTheInstall();

// The GUI thread's single-threaded COM apartment. File associations may be
// served by shell extensions, which the shell expects on such an apartment
// from its first call on. Entering it loads COM, which the window does not
// need: the first press of Ok enters it, and it lasts until the program ends.
void EnterComApartment();
// Leaves the apartment, if it was entered; the entry function's last step.
void LeaveComApartment();
