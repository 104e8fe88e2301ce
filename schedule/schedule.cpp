// The scheduling run, one press of Ok: no state survives from one run to the next.
#include "schedule.h"

#include <limits.h>
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
  // A count written wrongly can lie far beyond the entries, and every index
  // past the last one the key holds hands nothing over. The key's values bound
  // how many entries can still come: the run counts the values it has met,
  // "inscount" (which a count above 0 was read from) and each entry found, and
  // stops once it has met them all. Values the key holds besides the list only
  // loosen the bound. The number is asked again before stopping, so that
  // entries added during the run are still read.
  int met = 1;
  int values = ProfileGetValueCount(&store, INT_MAX);
  for (int i = 0; i < count; ++i) {
    if (met >= values && met >= (values = ProfileGetValueCount(&store, INT_MAX))) break;
    // "ins" and at most 10 digits: far inside the buffer.
    memcpy(valueName, "ins", 3);
    _itoa(i, valueName + 3, 10);
    if (ProfileGetString(&store, valueName, "", entry, sizeof(entry))) ++met;
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
