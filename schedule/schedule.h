// The scheduling run: reads the install list that an installation recorded
// under the store name given on the command line, and hands each file, in
// order, to the shell's "open" action.
#pragma once

#include <windows.h>

// The body of the Ok button. argc and argv are the process's own (__argc,
// __argv), program name first. owner is the window that owns the shell calls
// and receives WM_CLOSE once every entry has been handed over. After a refused
// entry, or when the list cannot be read at all, nothing is posted and the
// window stays open to point the user to the manual instructions.
void ScheduleRun(int argc, char** argv, HWND owner);
