// Test helpers over the real registry, window manager and shell under Wine.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::string ProcessTag() {
  return std::to_string(GetCurrentProcessId());
}

std::string TempFolder(const std::string& leaf) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  std::string folder = std::string(temp) + leaf;
  CreateDirectoryA(folder.c_str(), NULL);
  return folder;
}

std::string ReadFileText(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return "";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(file, buffer, sizeof(buffer), &got, NULL);
  CloseHandle(file);
  return std::string(buffer, got);
}

void SetClassesValue(const std::string& keyPath, const std::string& text) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                            &key, NULL),
            ERROR_SUCCESS)
      << keyPath;
  RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

}  // namespace

void WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
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

void RemoveFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA((folder + "\\" + found.cFileName).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

std::string StoreKeyPath(const std::string& name) {
  return "Software\\Varnolt\\" + name;
}

TestStore::TestStore(const std::string& tag) : name_("handoff-test-" + tag + "-" + ProcessTag()) {
  RegDeleteTreeA(HKEY_CURRENT_USER, StoreKeyPath(name_).c_str());
}

TestStore::~TestStore() {
  RegDeleteTreeA(HKEY_CURRENT_USER, StoreKeyPath(name_).c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, StoreKeyPath(name_).c_str());
}

bool TestStore::Exists() const {
  return KeyExists(StoreKeyPath(name_));
}

void TestStore::SetDword(const char* valueName, DWORD value) const {
  SetRaw(valueName, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

void TestStore::SetString(const char* valueName, const std::string& text) const {
  SetRaw(valueName, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void TestStore::SetRaw(const char* valueName, DWORD type, const std::string& bytes) const {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, StoreKeyPath(name_).c_str(), 0, NULL, 0,
                            KEY_ALL_ACCESS, NULL, &key, NULL),
            ERROR_SUCCESS);
  // Wine counts a NUL of its own when the byte after the data is 0, so the
  // data is passed with a non-zero byte behind it.
  std::string padded = bytes + '\x7f';
  ASSERT_EQ(RegSetValueExA(key, valueName, 0, type, reinterpret_cast<const BYTE*>(padded.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::vector<RegistryValue> Snapshot(const std::string& keyPath) {
  std::vector<RegistryValue> values;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return values;
  }
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameLength = sizeof(name);
    DWORD type = 0;
    BYTE data[8192];
    DWORD dataLength = sizeof(data);
    if (RegEnumValueA(key, index, name, &nameLength, NULL, &type, data, &dataLength) !=
        ERROR_SUCCESS) {
      break;
    }
    values.push_back({std::string(name, nameLength), type,
                      std::string(reinterpret_cast<char*>(data), dataLength)});
  }
  RegCloseKey(key);
  std::sort(values.begin(), values.end(),
            [](const RegistryValue& a, const RegistryValue& b) { return a.name < b.name; });
  return values;
}

void PrintTo(const RegistryValue& value, std::ostream* out) {
  *out << value.name << " type " << value.type << " bytes";
  for (unsigned char byte : value.data) *out << ' ' << static_cast<int>(byte);
}

bool KeyExists(const std::string& keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::string KeyClass(const std::string& keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return "";
  }
  char keyClass[1024];
  DWORD length = sizeof(keyClass);
  LONG result = RegQueryInfoKeyA(key, keyClass, &length, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL);
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? std::string(keyClass, length) : "";
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
      folder_(TempFolder("handoff-files-" + ProcessTag())),
      recordFolder_(TempFolder("handoff-opened-" + ProcessTag())) {
  std::string recorder = ModuleFolder() + "\\open_recorder.exe";
  SetClassesValue(extension_, progId_);
  SetClassesValue(progId_ + "\\shell\\open\\command", "\"" + recorder + "\" \"%1\"");
  SetEnvironmentVariableA("HANDOFF_RECORD", recordFolder_.c_str());
}

OpenRecorder::~OpenRecorder() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, progId_.c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, progId_.c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, extension_.c_str());
  SetEnvironmentVariableA("HANDOFF_RECORD", NULL);
  RemoveFolder(folder_);
  RemoveFolder(recordFolder_);
}

std::string OpenRecorder::MakeFile(const std::string& stem, const std::string& text) {
  std::string path = folder_ + "\\" + stem + extension_;
  WriteFileText(path, text.empty() ? stem : text);
  return path;
}

std::string OpenRecorder::MissingFile(const std::string& stem) const {
  return folder_ + "\\" + stem + "-missing" + extension_;
}

std::string OpenRecorder::MakeUnassociatedFile(const std::string& stem) {
  std::string path = folder_ + "\\" + stem + ".nohandler" + ProcessTag();
  WriteFileText(path, stem);
  return path;
}

std::vector<std::string> OpenRecorder::Opened(size_t expected, DWORD timeoutMs) const {
  std::vector<std::string> records;
  const DWORD settleMs = 1000;  // time for a handler started in error to show up
  DWORD start = GetTickCount();
  DWORD settledAt = 0;
  for (;;) {
    records.clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((recordFolder_ + "\\*.rec").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        records.push_back(found.cFileName);
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    DWORD now = GetTickCount();
    if (records.size() >= expected && settledAt == 0) settledAt = now;
    if (settledAt != 0 && now - settledAt >= settleMs) break;
    if (now - start >= timeoutMs + settleMs) break;
    Sleep(50);
  }
  std::sort(records.begin(), records.end());
  std::vector<std::string> opened;
  for (const std::string& record : records) {
    opened.push_back(ReadFileText(recordFolder_ + "\\" + record));
  }
  return opened;
}
