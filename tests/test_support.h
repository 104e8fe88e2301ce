// What the tests share: store keys made and removed per test, registry
// snapshots, a hidden owner window, the recording "open" handler, and the
// scheduling run on them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "test_base.h"

// Names, paths and texts in these helpers are UTF-8, and reach Windows
// through its wide calls: this test process keeps the system's code page,
// which need not hold them.
std::wstring Widen(const std::string& utf8);

// The folder of this test program, where the programs it starts were built too.
std::string ModuleFolder();
// The names of the files that match this path, whose last part may hold
// wildcards, sorted; of the folders instead when `folders`.
std::vector<std::string> FindNames(const std::string& pattern, bool folders = false);
// Removes the folder with all that is in it.
void RemoveFolder(const std::string& folder);
// Creates or replaces the file with exactly this text.
void WriteFileText(const std::string& path, const std::string& text);
// The whole file; empty when it cannot be read.
std::string ReadFileText(const std::string& path);
// The path of this name in the temporary folder.
std::string TempPath(const std::string& name);

// "Software\Varnolt\<name>" under HKEY_CURRENT_USER.
std::string StoreKeyPath(const std::string& name);
// Deletes the key under HKEY_CURRENT_USER, with all that is in it.
void DeleteUserKey(const std::string& keyPath);

// A store name of this test process's own; its key is deleted when the object goes.
class TestStore : NoCopy {
 public:
  explicit TestStore(const std::string& tag);
  ~TestStore();

  const std::string& name() const {
    return name_;
  }
  const char* c_str() const {
    return name_.c_str();
  }
  bool Exists() const;
  void SetDword(const char* valueName, DWORD value) const;
  // Stores the UTF-8 text as the wide string it encodes, as a Unicode installer does.
  void SetString(const char* valueName, const std::string& text) const;
  // Stores exactly these bytes with this type (no NUL is added).
  void SetRaw(const char* valueName, DWORD type, const std::string& bytes) const;
  // The install list: "inscount" as this many entries, then each that is not
  // empty as "ins<i>".
  void SetList(const std::vector<std::string>& entries) const;

 private:
  std::string name_;
};

struct RegistryValue {
  std::string name;
  DWORD type;
  std::string data;
  bool operator==(const RegistryValue& other) const {
    return name == other.name && type == other.type && data == other.data;
  }
};
void PrintTo(const RegistryValue& value, std::ostream* out);
// Values as Snapshot reads them: a DWORD, and a string of the system's code
// page with its NUL.
RegistryValue DwordValue(const std::string& name, DWORD value);
RegistryValue StringValue(const std::string& name, const std::string& text);
// Creates the key under HKEY_CURRENT_USER when it is missing, and stores each
// value with exactly its bytes and type (no NUL is added).
void WriteUserKey(const std::string& keyPath, const std::vector<RegistryValue>& values);

// Every value of the key under HKEY_CURRENT_USER, sorted by name; empty when
// the key is missing.
std::vector<RegistryValue> Snapshot(const std::string& keyPath);
bool KeyExists(const std::string& keyPath);
std::string KeyClass(const std::string& keyPath);
// The names of the key's subkeys, sorted.
std::vector<std::string> Subkeys(const std::string& keyPath);
// The store keys whose names are one of these names or the start of one: the
// keys that a run given one of them, whole or cut, could have made. Other
// tests' keys, which have names of their own, are not among them.
std::vector<std::string> StoreKeysNamedFrom(const std::vector<std::string>& names);

// A hidden top-level window whose queue receives the run's close request.
class OwnerWindow : NoCopy {
 public:
  OwnerWindow();
  ~OwnerWindow();

  HWND hwnd() const {
    return hwnd_;
  }
  // True when a WM_CLOSE waits in the queue; takes it out.
  bool TakeCloseRequest();

 private:
  HWND hwnd_;
};

// A new, empty folder of this name in the temporary folder, removed with the
// files in it when the object goes.
class ScratchFolder : NoCopy {
 public:
  explicit ScratchFolder(const std::string& leaf);
  ~ScratchFolder();

  const std::string& path() const {
    return path_;
  }
  // The path of a file of this name in the folder.
  std::string File(const std::string& name) const {
    return path_ + "\\" + name;
  }

 private:
  std::string path_;
};

// Registers open_recorder.exe, beside the test program, as the "open" handler
// of a file extension of this process's own, and removes it again when done.
// The folder it records into is on the registered command line, so that a
// hand-over is recorded whatever the environment of the process that makes
// it (see OnlyWindowsEnvironment).
class OpenRecorder : NoCopy {
 public:
  OpenRecorder();
  // The same for a file extension fixed elsewhere, such as in an installer
  // built for a test; the extension includes its dot.
  explicit OpenRecorder(const std::string& extension);
  ~OpenRecorder();

  // The command line that the type's verb runs for this path (registered
  // with "%1" for it): a test may start the handler itself.
  std::string Command(const std::string& path, const std::string& verb = "open") const;
  // Creates an existing file with the handled extension and returns its path.
  // The file holds `text`, or its stem when that is empty (see open_recorder.cpp
  // for texts that make the handler misbehave).
  std::string MakeFile(const std::string& stem, const std::string& text = "");
  // A path with the handled extension that does not exist.
  std::string MissingFile(const std::string& stem) const;
  // A path of an existing file whose extension no program handles. Wine's
  // shell refuses it; Windows 8 and later offer a chooser of programs instead.
  std::string MakeUnassociatedFile(const std::string& stem);
  // A path of an existing file that every shell refuses: its type is
  // registered, but its "open" command names a program that does not exist.
  std::string MakeRefusedFile(const std::string& stem);
  // The files handed over so far, in the order the handlers' processes were
  // created, which is the order of the hand-overs (see open_recorder.cpp). Waits
  // until at least `expected` have arrived or timeoutMs has passed. Each file
  // must have come through the "open" verb with its window hidden: any other
  // hand-over is a test failure.
  std::vector<std::string> Opened(size_t expected, DWORD timeoutMs = 20000) const;

 private:
  std::string extension_;
  std::string progId_;
  std::string refusedExtension_;
  std::string refusedProgId_;
  ScratchFolder folder_;
  ScratchFolder recordFolder_;
};

// The scheduling run as the program makes it when Ok is pressed, on a store
// of the test's own: a hidden owner window takes its close request, and the
// recording handler what it hands over.
class RunFixture : public ::testing::Test {
 protected:
  // Runs with these arguments after the program's name, as the program is started.
  void RunWith(std::vector<std::string> arguments);
  // Runs with the store name as the one argument; expects the window closed
  // or left open.
  void Run(bool closes = true);
  // A run that ends at one refused file, with the shell's error box for it.
  void RunRefused();
  // Writes the count and each entry that is not empty into the store, and
  // remembers its values, which no run may change.
  void WriteList(int count, const std::vector<std::string>& entries);
  void Remember();
  void ExpectListUnchanged() const;
  // Expects exactly these files handed over, in order, and the list as it was.
  void ExpectHandedOver(const std::vector<std::string>& files) const;

  TestStore store{"run"};
  OwnerWindow owner;
  OpenRecorder recorder;
  std::vector<RegistryValue> before;
};

// While the object lives, this process's environment holds only the
// variables Windows itself sets, as that of a program the Windows Installer
// service or the Task Scheduler starts, with nothing of the test's; what it
// took out comes back when it goes. Under Wine, the variables of Wine's own
// stay, which its processes need to start.
class OnlyWindowsEnvironment : NoCopy {
 public:
  OnlyWindowsEnvironment();
  ~OnlyWindowsEnvironment();

  // The names taken out, for a test to check that there were some.
  size_t Removed() const {
    return removed_.size();
  }

 private:
  std::vector<std::pair<std::wstring, std::wstring>> removed_;
};

// A small visible window of the test's own, standing for the window a person
// is working in: it can take the foreground from the programs a test starts.
// It runs on a thread of its own and is registered for the shell's hook
// messages, through which the shell reports each window whose taskbar button
// flashes (HSHELL_FLASH). Only Explorer's shell, whose desktop is the shell
// window (GetShellWindow), reports them: where there is none, as under Wine
// or on a Windows without Explorer's shell, Available() is false, and a
// flash cannot be seen.
class ShellFlashWatch : NoCopy {
 public:
  ShellFlashWatch();
  ~ShellFlashWatch();

  HWND hwnd() const {
    return hwnd_;
  }
  // True when there is a shell window, and the window was registered for
  // the shell's hook messages.
  bool Available() const {
    return registered_;
  }
  // True once the shell has reported a flash of this window, waiting at most
  // timeoutMs for it.
  bool Flashed(HWND window, DWORD timeoutMs) const;

 private:
  static DWORD WINAPI Run(void* self);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HANDLE ready_;
  HANDLE thread_ = NULL;
  HWND hwnd_ = NULL;
  bool registered_ = false;
  // The windows reported flashing, in order; written by the window's thread.
  static constexpr LONG kMaxFlashes = 64;
  HWND flashed_[kMaxFlashes] = {};
  volatile LONG flashCount_ = 0;
};

// Watches for the error boxes that the shell shows, owned by one window, while
// the object lives: each is dismissed with its Ok as soon as it is visible,
// and counted. A box of the window's thread that the window does not own is
// dismissed too, and fails the test. On Windows ShellExecuteA shows one for
// every file it refuses, owned by the window it is given, and returns only
// once it is dismissed. Wine's shell refuses without one, so the counts of
// the shell's boxes are checked only where it shows them
// (ShellShowsErrorBoxes); the watcher itself is tested on boxes of the
// test's own everywhere (schedule_test).
class ShellErrorBoxes : NoCopy {
 public:
  explicit ShellErrorBoxes(HWND owner);
  ~ShellErrorBoxes();

  // The boxes dismissed so far, once there are at least `expected` or
  // timeoutMs has passed.
  int Dismissed(int expected = 0, DWORD timeoutMs = 10000) const;
  // Where the shell shows boxes: expects one dismissed for each of this many
  // refusals since the watch began. Elsewhere nothing is checked.
  void ExpectRefusals(int refusals) const;

 private:
  static DWORD WINAPI Watch(void* self);

  HWND owner_;
  HANDLE stop_;
  HANDLE thread_;
  volatile LONG dismissed_ = 0;
  volatile LONG unowned_ = 0;  // boxes of the window's thread that it does not own
};

// The first top-level window, of this desktop or else of the caller's, for
// which `match` is true; NULL when there is none.
HWND FindTopWindow(const std::function<bool(HWND)>& match, HDESK desktop = NULL);
bool HasClass(HWND hwnd, const char* className);

// True where ShellExecuteA shows an error box for a file it refuses: on
// Windows, not under Wine.
bool ShellShowsErrorBoxes();

// Hands `write` a buffer of `size` bytes, with guard bytes on both sides, and
// returns the text it left there, up to its NUL. A write outside the buffer,
// or a buffer left without a NUL, fails the test.
std::string ReadGuarded(int size, const std::function<void(char* buffer)>& write);

// Starts the command line (UTF-8), without a window, and waits at most
// timeoutMs for it to end; false when it could not start or did not end (it
// is then ended). Its exit code goes to exitCode once it ended.
bool RunToEnd(const std::string& commandLine, DWORD timeoutMs, DWORD* exitCode);
// Expects the process to end within timeoutMs with 0: the exit code as
// Windows has it, not cut to 8 bits as a Unix shell would.
void ExpectEndsWithZero(const ChildProcess& process, DWORD timeoutMs, const std::string& what);

// The documented default of an image's security cookie, which the loader
// replaces as it maps the image, and which the program's stack guard starts
// with (app/stack_guard.c).
ULONG_PTR DefaultSecurityCookie();
// The stack guard of a running program, read from its main image in the
// process's memory at the address its load configuration names as its
// security cookie; 0 when it names none or the value cannot be read.
ULONG_PTR StackGuardOf(HANDLE process);
// The size of the Authenticode certificate table of a program, 32-bit or
// 64-bit: what signing adds to it. 0 when it has none, or cannot be read, or
// its header puts the table outside the file.
DWORD CertificateTableSize(const std::string& path);
