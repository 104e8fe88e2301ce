// The scheduling run, one press of Ok: no state survives from one run to the next.
#include "schedule.h"

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "profile.h"

void ScheduleRun(int argc, char** argv, HWND owner) {
  char storeName[1024];
  char valueName[1024];
  char entry[1024];

  if (argc < 2 || argv == NULL || argv[1] == NULL) return;
  // An argument too long for the buffer is refused, never cut: a cut name
  // could address another product's list.
  const char* end = static_cast<const char*>(memchr(argv[1], '\0', sizeof(storeName)));
  if (end == NULL) return;
  memcpy(storeName, argv[1], static_cast<size_t>(end - argv[1]) + 1);

  ProfileStore store;
  ProfileOpen(storeName, storeName, &store, 1);
  // No key means no list could be read: leave the window to the manual instructions.
  if (store.key == NULL) return;

  int count = ProfileGetInt(&store, "inscount", 0);
  for (int i = 0; i < count; ++i) {
    // "ins" and at most 10 digits: far inside the buffer.
    memcpy(valueName, "ins", 3);
    _itoa(i, valueName + 3, 10);
    ProfileGetString(&store, valueName, "", entry, sizeof(entry));
    if (entry[0] == '\0') continue;
    INT_PTR result =
        reinterpret_cast<INT_PTR>(ShellExecuteA(owner, "open", entry, NULL, NULL, SW_HIDE));
    if (result <= 32) {
      ProfileClose(&store);
      return;
    }
  }
  ProfileClose(&store);
  PostMessageA(owner, WM_CLOSE, 0, 0);
}
