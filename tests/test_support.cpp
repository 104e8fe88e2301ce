// Test helpers over the real registry, window manager and shell under Wine.
#include "test_support.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <string.h>

#include <algorithm>
#include <cwchar>

#include "schedule.h"

namespace {

// Writes the file of this name in the folder and returns its path.
std::string MakeIn(const ScratchFolder& folder, const std::string& name, const std::string& text) {
  WriteFileText(folder.File(name), text);
  return folder.File(name);
}

std::string ProcessTag() {
  return std::to_string(GetCurrentProcessId());
}

// A key, opened for reading or created for writing, and closed when the
// object goes; key is NULL when it is missing or cannot be made.
struct OpenKey : NoCopy {
  OpenKey(HKEY root, const std::string& keyPath, bool create = false) {
    const std::wstring path = Widen(keyPath);
    if ((create ? RegCreateKeyExW(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)
                : RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key)) != ERROR_SUCCESS) {
      key = NULL;
    }
    if (create && key == NULL) ADD_FAILURE() << "cannot create " << keyPath;
  }
  ~OpenKey() {
    if (key != NULL) RegCloseKey(key);
  }
  HKEY key = NULL;
};

// Creates the key when it is missing, and stores each value with exactly its
// bytes and type (no NUL is added).
void WriteKey(HKEY root, const std::string& keyPath, const std::vector<RegistryValue>& values) {
  OpenKey key(root, keyPath, true);
  if (key.key == NULL) return;
  for (const RegistryValue& value : values) {
    // Wine counts a NUL of its own when the byte after the data is 0, so the
    // data is passed with a non-zero byte behind it.
    const std::string padded = value.data + '\x7f';
    EXPECT_EQ(RegSetValueExA(key.key, value.name.c_str(), 0, value.type,
                             reinterpret_cast<const BYTE*>(padded.data()),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS)
        << value.name;
  }
}

// The tests' file types are the current user's, as an ordinary user registers
// them on Windows: under HKEY_CURRENT_USER\Software\Classes, which the shell
// reads through HKEY_CLASSES_ROOT. Wine 8 reads none from there: under Wine
// they go into HKEY_CLASSES_ROOT itself, which the prefix's user may change.
HKEY TypesRoot() {
  return RunningUnderWine() ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}
std::string TypesPath(const std::string& keyPath) {
  return RunningUnderWine() ? keyPath : "Software\\Classes\\" + keyPath;
}

void SetClassesValue(const std::string& keyPath, const std::string& text) {
  WriteKey(TypesRoot(), TypesPath(keyPath), {StringValue("", text)});
}

// Removes the file type, and what Windows' shell may have noted of it for
// this user once a file of it was opened. The extension and the ProgID are
// the tests' own: nobody else's is touched.
void RemoveFileType(const std::string& extension, const std::string& progId) {
  const std::pair<HKEY, std::string> keys[] = {
      {TypesRoot(), TypesPath(extension)},
      {TypesRoot(), TypesPath(progId)},
      {HKEY_CURRENT_USER,
       "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + extension}};
  for (const auto& [root, keyPath] : keys) DeleteKeyTree(root, Widen(keyPath));
  const char* toasts = "Software\\Microsoft\\Windows\\CurrentVersion\\ApplicationAssociationToasts";
  const std::string suffix = "_" + extension;
  for (const auto& [name, type, data] : Snapshot(toasts)) {
    if (name.size() > suffix.size() &&
        _stricmp(name.c_str() + name.size() - suffix.size(), suffix.c_str()) == 0) {
      RegDeleteKeyValueA(HKEY_CURRENT_USER, toasts, name.c_str());
    }
  }
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, NULL, 0);
  if (length == 0 && size != 0) ADD_FAILURE() << "not UTF-8: " << utf8;
  std::wstring wide(length, L'\0');
  if (length != 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], length);
  return wide;
}

std::string ReadFileText(const std::string& path) {
  std::string bytes;
  HANDLE file =
      CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::string TempPath(const std::string& name) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof(temp), temp);
  return temp + name;
}

void WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
  CloseHandle(file);
}

std::string ModuleFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\'));
}

std::vector<std::string> FindNames(const std::string& pattern, bool folders) {
  const size_t slash = pattern.find_last_of('\\');
  std::vector<std::string> names;
  for (const auto& [name, isFolder] :
       FolderEntries(Widen(pattern.substr(0, slash)), Widen(pattern.substr(slash + 1)).c_str())) {
    if (isFolder == folders) names.push_back(Utf8(name));
  }
  return names;
}

void RemoveFolder(const std::string& folder) {
  RemoveFolderTree(Widen(folder));
}

std::string StoreKeyPath(const std::string& name) {
  return "Software\\Varnolt\\" + name;
}

void DeleteUserKey(const std::string& keyPath) {
  DeleteKeyTree(HKEY_CURRENT_USER, Widen(keyPath));
}

TestStore::TestStore(const std::string& tag) : name_("handoff-test-" + tag + "-" + ProcessTag()) {
  DeleteUserKey(StoreKeyPath(name_));
}

TestStore::~TestStore() {
  DeleteUserKey(StoreKeyPath(name_));
}

bool TestStore::Exists() const {
  return KeyExists(StoreKeyPath(name_));
}

void TestStore::SetDword(const char* valueName, DWORD value) const {
  SetRaw(valueName, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

void TestStore::SetString(const char* valueName, const std::string& text) const {
  OpenKey key(HKEY_CURRENT_USER, StoreKeyPath(name_), true);
  const std::wstring wide = Widen(text);
  EXPECT_EQ(RegSetValueExW(key.key, Widen(valueName).c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(wide.c_str()),
                           static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void TestStore::SetRaw(const char* valueName, DWORD type, const std::string& bytes) const {
  WriteUserKey(StoreKeyPath(name_), {{valueName, type, bytes}});
}

void TestStore::SetList(const std::vector<std::string>& entries) const {
  SetDword("inscount", static_cast<DWORD>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].empty()) SetString(("ins" + std::to_string(i)).c_str(), entries[i]);
  }
}

std::vector<RegistryValue> Snapshot(const std::string& keyPath) {
  std::vector<RegistryValue> values;
  OpenKey key(HKEY_CURRENT_USER, keyPath);
  char name[16384];
  BYTE data[8192];
  DWORD type = 0;
  for (DWORD index = 0, nameLength = sizeof(name), dataLength = sizeof(data);
       key.key != NULL && RegEnumValueA(key.key, index, name, &nameLength, NULL, &type, data,
                                        &dataLength) == ERROR_SUCCESS;
       ++index, nameLength = sizeof(name), dataLength = sizeof(data)) {
    values.push_back({std::string(name, nameLength), type,
                      std::string(reinterpret_cast<char*>(data), dataLength)});
  }
  std::sort(values.begin(), values.end(),
            [](const RegistryValue& a, const RegistryValue& b) { return a.name < b.name; });
  return values;
}

RegistryValue DwordValue(const std::string& name, DWORD value) {
  return {name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value))};
}

RegistryValue StringValue(const std::string& name, const std::string& text) {
  return {name, REG_SZ, std::string(text.c_str(), text.size() + 1)};
}

void WriteUserKey(const std::string& keyPath, const std::vector<RegistryValue>& values) {
  WriteKey(HKEY_CURRENT_USER, keyPath, values);
}

void PrintTo(const RegistryValue& value, std::ostream* out) {
  *out << value.name << " type " << value.type << " bytes";
  for (unsigned char byte : value.data) *out << ' ' << static_cast<int>(byte);
}

bool KeyExists(const std::string& keyPath) {
  return OpenKey(HKEY_CURRENT_USER, keyPath).key != NULL;
}

std::string KeyClass(const std::string& keyPath) {
  OpenKey key(HKEY_CURRENT_USER, keyPath);
  wchar_t keyClass[1024];
  DWORD length = sizeof(keyClass) / sizeof(keyClass[0]);
  return key.key != NULL && RegQueryInfoKeyW(key.key, keyClass, &length, NULL, NULL, NULL, NULL,
                                             NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS
             ? Utf8(std::wstring(keyClass, length))
             : "";
}

std::vector<std::string> Subkeys(const std::string& keyPath) {
  std::vector<std::string> names;
  OpenKey key(HKEY_CURRENT_USER, keyPath);
  wchar_t name[256];
  for (DWORD index = 0, length = std::size(name);
       key.key != NULL &&
       RegEnumKeyExW(key.key, index, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
       ++index, length = std::size(name)) {
    names.push_back(Utf8(std::wstring(name, length)));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> StoreKeysNamedFrom(const std::vector<std::string>& names) {
  std::vector<std::string> found;
  for (const std::string& key : Subkeys("Software\\Varnolt")) {
    if (!key.empty() && std::any_of(names.begin(), names.end(), [&key](const std::string& name) {
          return name.compare(0, key.size(), key) == 0;
        })) {
      found.push_back(key);
    }
  }
  return found;
}

OwnerWindow::OwnerWindow()
    : hwnd_(CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                            GetModuleHandleA(NULL), NULL)) {
  EXPECT_NE(hwnd_, nullptr) << "no window: is DISPLAY set?";
}

OwnerWindow::~OwnerWindow() {
  DestroyWindow(hwnd_);
}

bool OwnerWindow::TakeCloseRequest() {
  MSG msg;
  return PeekMessageA(&msg, hwnd_, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
}

OpenRecorder::OpenRecorder() : OpenRecorder(".hoff" + ProcessTag()) {}

OpenRecorder::OpenRecorder(const std::string& extension)
    : extension_(extension),
      progId_("HandoffTest.File" + ProcessTag()),
      refusedExtension_(".hoffbad" + ProcessTag()),
      refusedProgId_("HandoffTest.Refused" + ProcessTag()),
      folder_("handoff-files-" + ProcessTag()),
      recordFolder_("handoff-opened-" + ProcessTag()) {
  // The record folder goes on the command line: the handler inherits the
  // environment of whoever hands the file over, which for the MSI's
  // handoff.exe on Windows is the installer service's, not this test's.
  SetClassesValue(extension_, progId_);
  SetClassesValue(progId_ + "\\shell\\open\\command", Command("%1"));
  // Another verb as the type's default, so that a hand-over without the
  // "open" verb shows in the records.
  SetClassesValue(progId_ + "\\shell", "queue");
  SetClassesValue(progId_ + "\\shell\\queue\\command", Command("%1", "queue"));
  SetClassesValue(refusedExtension_, refusedProgId_);
  SetClassesValue(refusedProgId_ + "\\shell\\open\\command",
                  "\"" + ModuleFolder() + "\\handoff-test-no-such-program.exe\" \"%1\"");
}

OpenRecorder::~OpenRecorder() {
  RemoveFileType(extension_, progId_);
  // The type of MakeUnassociatedFile is never registered, nor its files ever
  // opened where a shell would note them (on Windows, which offers a chooser).
  RemoveFileType(refusedExtension_, refusedProgId_);
}

std::string OpenRecorder::Command(const std::string& path, const std::string& verb) const {
  return "\"" + ModuleFolder() + "\\open_recorder.exe\" \"" + recordFolder_.path() + "\" \"" +
         path + "\" " + verb;
}

std::string OpenRecorder::MakeFile(const std::string& stem, const std::string& text) {
  return MakeIn(folder_, stem + extension_, text.empty() ? stem : text);
}

std::string OpenRecorder::MissingFile(const std::string& stem) const {
  return folder_.File(stem + "-missing" + extension_);
}

std::string OpenRecorder::MakeUnassociatedFile(const std::string& stem) {
  return MakeIn(folder_, stem + ".nohandler" + ProcessTag(), stem);
}

std::string OpenRecorder::MakeRefusedFile(const std::string& stem) {
  return MakeIn(folder_, stem + refusedExtension_, stem);
}

std::vector<std::string> OpenRecorder::Opened(size_t expected, DWORD timeoutMs) const {
  const std::string records = recordFolder_.File("*.rec");
  WaitUntil(timeoutMs, 50, [&] { return FindNames(records).size() >= expected; });
  Sleep(1000);  // time for a handler started in error to show up
  std::vector<std::string> opened;
  for (const std::string& record : FindNames(records)) {
    // The path, the verb and the show command, a line each.
    const std::string text = ReadFileText(recordFolder_.File(record));
    const std::string path = text.substr(0, text.find('\n'));
    EXPECT_EQ(text.substr(path.size()), "\nopen\n" + std::to_string(SW_HIDE))
        << "how " << path << " was handed over (verb, show command)";
    opened.push_back(path);
  }
  return opened;
}

void RunFixture::RunWith(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "handoff.exe");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  ScheduleRun(static_cast<int>(argv.size()) - 1, argv.data(), owner.hwnd());
}

void RunFixture::Run(bool closes) {
  RunWith({store.name()});
  EXPECT_EQ(owner.TakeCloseRequest(), closes);
}

void RunFixture::RunRefused() {
  ShellErrorBoxes boxes(owner.hwnd());
  Run(false);
  boxes.ExpectRefusals(1);
}

void RunFixture::WriteList(int count, const std::vector<std::string>& entries) {
  store.SetList(entries);
  store.SetDword("inscount", static_cast<DWORD>(count));
  Remember();
}

void RunFixture::Remember() {
  before = Snapshot(StoreKeyPath(store.name()));
}

void RunFixture::ExpectListUnchanged() const {
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), before);
}

void RunFixture::ExpectHandedOver(const std::vector<std::string>& files) const {
  EXPECT_EQ(recorder.Opened(files.size()), files);
  ExpectListUnchanged();
}

OnlyWindowsEnvironment::OnlyWindowsEnvironment() {
  // What Windows gives every process of a user, whoever starts it, each
  // between spaces, in capitals for the comparison.
  const std::wstring windowsOwn =
      L" ALLUSERSPROFILE APPDATA COMMONPROGRAMFILES COMMONPROGRAMFILES(X86)"
      L" COMMONPROGRAMW6432 COMPUTERNAME COMSPEC LOCALAPPDATA NUMBER_OF_PROCESSORS OS"
      L" PATH PATHEXT PROCESSOR_ARCHITECTURE PROCESSOR_IDENTIFIER PROCESSOR_LEVEL"
      L" PROCESSOR_REVISION PROGRAMDATA PROGRAMFILES PROGRAMFILES(X86) PROGRAMW6432"
      L" PUBLIC SYSTEMDRIVE SYSTEMROOT TEMP TMP USERDOMAIN USERNAME USERPROFILE WINDIR ";
  const bool wine = RunningUnderWine();
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
    // "=C:=C:\..." and the like are the current folders of drives, not variables.
    const wchar_t* equals = wcschr(entry + 1, L'=');
    if (equals == nullptr) continue;
    std::wstring name(entry, equals - entry);
    std::wstring spaced = L" " + name + L" ";
    CharUpperW(&spaced[0]);
    const bool keep =
        entry[0] == L'=' || (wine && _wcsnicmp(name.c_str(), L"WINE", 4) == 0) ||
        (name.find(L' ') == std::wstring::npos && windowsOwn.find(spaced) != std::wstring::npos);
    if (!keep) removed_.push_back({name, equals + 1});
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : removed_) SetEnvironmentVariableW(name.c_str(), NULL);
}

OnlyWindowsEnvironment::~OnlyWindowsEnvironment() {
  for (const auto& [name, value] : removed_) SetEnvironmentVariableW(name.c_str(), value.c_str());
}

ShellFlashWatch::ShellFlashWatch() : ready_(CreateEventA(NULL, TRUE, FALSE, NULL)) {
  thread_ = CreateThread(NULL, 0, Run, this, 0, NULL);
  if (thread_ == NULL || WaitForSingleObject(ready_, 10000) != WAIT_OBJECT_0 || hwnd_ == NULL) {
    ADD_FAILURE() << "no window of the test's own: is DISPLAY set?";
  }
}

ShellFlashWatch::~ShellFlashWatch() {
  if (thread_ != NULL) {
    PostThreadMessageA(GetThreadId(thread_), WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
  CloseHandle(ready_);
}

bool ShellFlashWatch::Flashed(HWND window, DWORD timeoutMs) const {
  return WaitUntil(timeoutMs, 20, [this, window] {
    const LONG count = std::min(static_cast<LONG>(flashCount_), kMaxFlashes);
    return std::find(flashed_, flashed_ + count, window) != flashed_ + count;
  });
}

DWORD WINAPI ShellFlashWatch::Run(void* self) {
  ShellFlashWatch* watch = static_cast<ShellFlashWatch*>(self);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = "HandoffTestShellFlashWatch";
  RegisterClassA(&windowClass);  // fails harmlessly once it exists
  // Small and out of the prompt's way, in the middle of the screen's top.
  HWND hwnd = CreateWindowExA(0, windowClass.lpszClassName, "handoff test window",
                              WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 20, 20, 240, 80, NULL, NULL,
                              windowClass.hInstance, watch);
  watch->hwnd_ = hwnd;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(watch));
  watch->registered_ = hwnd != NULL && GetShellWindow() != NULL && RegisterShellHookWindow(hwnd);
  // The thread has its message queue, for WM_QUIT, since its first call to user32.
  MSG msg;
  SetEvent(watch->ready_);
  while (hwnd != NULL && GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  if (watch->registered_) DeregisterShellHookWindow(hwnd);
  if (hwnd != NULL) DestroyWindow(hwnd);
  return 0;
}

LRESULT CALLBACK ShellFlashWatch::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  auto* watch = reinterpret_cast<ShellFlashWatch*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  static const UINT kShellHook = RegisterWindowMessageA("SHELLHOOK");
  // HSHELL_FLASH is HSHELL_REDRAW with the high bit: a redraw that flashes.
  const WPARAM kShellFlash = HSHELL_REDRAW | 0x8000;
  if (watch != nullptr && message == kShellHook && message != 0) {
    const LONG slot = watch->flashCount_;
    if (wParam == kShellFlash && slot < kMaxFlashes) {
      watch->flashed_[slot] = reinterpret_cast<HWND>(lParam);
      InterlockedIncrement(&watch->flashCount_);
    }
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

namespace {

BOOL CALLBACK TakeIfMatching(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<std::pair<const std::function<bool(HWND)>*, HWND>*>(lParam);
  if ((*search->first)(hwnd)) search->second = hwnd;
  return search->second == NULL;
}

}  // namespace

HWND FindTopWindow(const std::function<bool(HWND)>& match, HDESK desktop) {
  std::pair<const std::function<bool(HWND)>*, HWND> search = {&match, NULL};
  // A NULL desktop is the caller's own.
  EnumDesktopWindows(desktop, TakeIfMatching, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

bool HasClass(HWND hwnd, const char* className) {
  char found[64];
  return GetClassNameA(hwnd, found, sizeof(found)) && strcmp(found, className) == 0;
}

ShellErrorBoxes::ShellErrorBoxes(HWND owner)
    : owner_(owner),
      stop_(CreateEventA(NULL, TRUE, FALSE, NULL)),
      thread_(CreateThread(NULL, 0, Watch, this, 0, NULL)) {
  EXPECT_NE(thread_, nullptr) << "no thread to watch for error boxes";
}

ShellErrorBoxes::~ShellErrorBoxes() {
  SetEvent(stop_);
  if (thread_ != NULL) {
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
  CloseHandle(stop_);
  EXPECT_EQ(unowned_, 0)
      << "error boxes that the window's thread showed without the window as owner";
}

int ShellErrorBoxes::Dismissed(int expected, DWORD timeoutMs) const {
  WaitUntil(timeoutMs, 20, [this, expected] { return dismissed_ >= expected; });
  return dismissed_;
}

DWORD WINAPI ShellErrorBoxes::Watch(void* self) {
  ShellErrorBoxes* boxes = static_cast<ShellErrorBoxes*>(self);
  const DWORD ownerThread = GetWindowThreadProcessId(boxes->owner_, NULL);
  HWND current = NULL;  // the box being dismissed
  DWORD askedAt = 0;
  int asked = 0;
  while (WaitForSingleObject(boxes->stop_, 20) == WAIT_TIMEOUT) {
    if (current == NULL || !IsWindow(current)) {
      // A visible dialog box of the owner's thread, where ShellExecuteA shows
      // its box: owned by the owner, or not, which is a failure of its own.
      current = FindTopWindow([boxes, ownerThread](HWND hwnd) {
        return hwnd != boxes->owner_ && GetWindowThreadProcessId(hwnd, NULL) == ownerThread &&
               IsWindowVisible(hwnd) && HasClass(hwnd, "#32770");
      });
      if (current == NULL) continue;
      InterlockedIncrement(GetWindow(current, GW_OWNER) == boxes->owner_ ? &boxes->dismissed_
                                                                         : &boxes->unowned_);
      asked = 0;
      askedAt = GetTickCount() - 1000;
    }
    // Ok, as a person presses it, once a second; a box that stays is closed.
    if (GetTickCount() - askedAt < 1000 || asked >= 5) continue;
    ++asked;
    PostMessageA(current, asked < 3 ? WM_COMMAND : WM_CLOSE, asked < 3 ? IDOK : 0, 0);
    askedAt = GetTickCount();
  }
  return 0;
}

void ShellErrorBoxes::ExpectRefusals(int refusals) const {
  if (ShellShowsErrorBoxes()) {
    EXPECT_EQ(Dismissed(refusals), refusals) << "the shell's error boxes";
  }
}

bool ShellShowsErrorBoxes() {
  return !RunningUnderWine();
}

std::string ReadGuarded(int size, const std::function<void(char* buffer)>& write) {
  const std::string guard(16, '\xa5');
  std::string bytes = guard + std::string(size, '\xa5') + guard;
  char* buffer = &bytes[guard.size()];
  write(buffer);
  EXPECT_EQ(bytes.substr(0, guard.size()) + bytes.substr(guard.size() + size), guard + guard)
      << "written outside the buffer of " << size << " bytes";
  EXPECT_NE(memchr(buffer, '\0', size), nullptr)
      << "no NUL within the buffer's " << size << " bytes";
  return std::string(buffer, strnlen(buffer, size));
}

ScratchFolder::ScratchFolder(const std::string& leaf) : path_(TempPath(leaf)) {
  RemoveFolder(path_);
  EXPECT_TRUE(CreateDirectoryW(Widen(path_).c_str(), NULL)) << path_;
}

ScratchFolder::~ScratchFolder() {
  RemoveFolder(path_);
}

bool RunToEnd(const std::string& commandLine, DWORD timeoutMs, DWORD* exitCode) {
  ChildProcess child;  // ended by its handle if it does not end in time
  ChildOptions options;
  options.flags = CREATE_NO_WINDOW;
  if (child.Start(Widen(commandLine), options)) return child.WaitForExit(timeoutMs, exitCode);
  ADD_FAILURE() << "could not start " << commandLine << ": error " << child.error();
  return false;
}

void ExpectEndsWithZero(const ChildProcess& process, DWORD timeoutMs, const std::string& what) {
  DWORD exitCode = 99;
  EXPECT_TRUE(process.WaitForExit(timeoutMs, &exitCode)) << what << " did not end";
  EXPECT_EQ(exitCode, 0u) << what;
}

ULONG_PTR DefaultSecurityCookie() {
  return sizeof(ULONG_PTR) == 8 ? static_cast<ULONG_PTR>(0x00002B992DDFA232ull) : 0xBB40E64Eul;
}

namespace {

// `length` bytes at this offset of a PE image, as a file or as mapped;
// nullptr when they are not all in it. Every read of an image is checked so.
template <class T>
T* At(std::string& image, size_t offset, size_t length = sizeof(T)) {
  return offset <= image.size() && length <= image.size() - offset
             ? reinterpret_cast<T*>(&image[offset])
             : nullptr;
}

// The entry of this index in the data directory, when the image's headers
// are of this kind, 32-bit or 64-bit; nullptr when they are not or it has none.
template <class Headers>
const IMAGE_DATA_DIRECTORY* DirectoryOf(std::string& image, WORD magic, DWORD index) {
  const auto* dos = At<IMAGE_DOS_HEADER>(image, 0);
  const auto* nt = dos == nullptr ? nullptr : At<Headers>(image, dos->e_lfanew);
  return nt != nullptr && nt->Signature == IMAGE_NT_SIGNATURE &&
                 nt->OptionalHeader.Magic == magic && index < nt->OptionalHeader.NumberOfRvaAndSizes
             ? &nt->OptionalHeader.DataDirectory[index]
             : nullptr;
}

const IMAGE_DATA_DIRECTORY* Directory(std::string& image, DWORD index) {
  const auto* entry = DirectoryOf<IMAGE_NT_HEADERS32>(image, IMAGE_NT_OPTIONAL_HDR32_MAGIC, index);
  return entry != nullptr
             ? entry
             : DirectoryOf<IMAGE_NT_HEADERS64>(image, IMAGE_NT_OPTIONAL_HDR64_MAGIC, index);
}

}  // namespace

ULONG_PTR StackGuardOf(HANDLE process) {
  // The main image, the process's first module, as mapped, where an entry's
  // address is its offset.
  HMODULE image = NULL;
  DWORD needed = 0;
  MODULEINFO module = {};
  const bool found = EnumProcessModules(process, &image, sizeof(image), &needed) &&
                     GetModuleInformation(process, image, &module, sizeof(module));
  std::string bytes(found ? module.SizeOfImage : 0, '\0');
  SIZE_T got = 0;
  if (bytes.empty() ||
      !ReadProcessMemory(process, module.lpBaseOfDll, &bytes[0], bytes.size(), &got)) {
    return 0;
  }
  const IMAGE_DATA_DIRECTORY* entry = Directory(bytes, IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
  const auto* config = entry == nullptr || entry->VirtualAddress == 0
                           ? nullptr
                           : At<IMAGE_LOAD_CONFIG_DIRECTORY>(bytes, entry->VirtualAddress);
  // The cookie's address is a virtual address, not an offset in the image.
  const auto* guard =
      config == nullptr || config->SecurityCookie == 0
          ? nullptr
          : At<ULONG_PTR>(bytes,
                          config->SecurityCookie - reinterpret_cast<ULONG_PTR>(module.lpBaseOfDll));
  return guard != nullptr ? *guard : 0;
}

DWORD CertificateTableSize(const std::string& path) {
  std::string image = ReadFileText(path);
  const IMAGE_DATA_DIRECTORY* table = Directory(image, IMAGE_DIRECTORY_ENTRY_SECURITY);
  // Its address is an offset in the file, not an RVA as the other entries'.
  return table != nullptr && table->Size != 0 &&
                 At<BYTE>(image, table->VirtualAddress, table->Size) != nullptr
             ? table->Size
             : 0;
}
