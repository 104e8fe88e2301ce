// What the program does first, before any window or shell call: close the
// ways other people's files could get code into this process, and set up the
// apartment the shell expects.
#pragma once

// Loads DLLs only from the system directory from now on.
void ProtectAgainstDllPlanting();

// The GUI thread's single-threaded COM apartment, for the lifetime of the object.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialized_;
};
