// The sample installer end to end under Wine and Xvfb: run silently, it
// installs its files, writes their install list and runs handoff.exe, whose
// prompt we answer with Ok through the X server as a person would.
//
// The installer is the sample script built with a product name, store name and
// file type of this test's own (see tests/CMakeLists.txt), so that the test can
// register the recording handler for that type and remove everything it made.
#include <shlobj.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_driver.h"
#include "test_support.h"

namespace {

using Files = std::vector<std::string>;

const DWORD kStartTimeoutMs = 60000;  // a first start in the prefix can be slow
const DWORD kExitTimeoutMs = 15000;

std::string LocalAppData() {
  char path[MAX_PATH] = "";
  EXPECT_EQ(SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA, NULL, 0, path), S_OK);
  return path;
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

RegistryValue Dword(const char* name, DWORD value) {
  return {name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value))};
}

RegistryValue Text(const char* name, const std::string& text) {
  return {name, REG_SZ, std::string(text.c_str(), text.size() + 1)};
}

// A process of ours, ended by its handle if it outlives the test.
class Process {
 public:
  Process() = default;
  ~Process() {
    if (handle_ == NULL) return;
    if (WaitForSingleObject(handle_, 0) != WAIT_OBJECT_0) {
      TerminateProcess(handle_, 1);
      WaitForSingleObject(handle_, 10000);
    }
    CloseHandle(handle_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Start(std::string command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
      return false;
    }
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    return true;
  }
  bool Open(DWORD processId) {
    handle_ =
        OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    return handle_ != NULL;
  }
  HANDLE handle() const {
    return handle_;
  }
  DWORD id() const {
    return GetProcessId(handle_);
  }
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
    if (WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(handle_, exitCode) != FALSE;
  }

 private:
  HANDLE handle_ = NULL;
};

class InstallerTest : public ::testing::Test {
 protected:
  InstallerTest()
      : programsFolder_(LocalAppData() + "\\Programs"),
        installFolder_(programsFolder_ + "\\" + INSTALLER_PRODUCT),
        hadProgramsFolder_(FolderExists(programsFolder_)) {
    // What a run that was cut short may have left.
    RemoveFolder(installFolder_);
    RegDeleteTreeA(HKEY_CURRENT_USER, StoreKeyPath(INSTALLER_STORE).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, StoreKeyPath(INSTALLER_STORE).c_str());
  }
  ~InstallerTest() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, StoreKeyPath(INSTALLER_STORE).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, StoreKeyPath(INSTALLER_STORE).c_str());
    RemoveFolder(installFolder_);
    // Only succeeds when empty, so another program's folder is never touched.
    if (!hadProgramsFolder_) RemoveDirectoryA(programsFolder_.c_str());
  }

  // The handheld files as the installer lays them out.
  std::string Installed(const std::string& stem) const {
    return installFolder_ + "\\" + stem + INSTALLER_FILE_EXT;
  }

  const std::string programsFolder_;
  const std::string installFolder_;
  const bool hadProgramsFolder_;
  OpenRecorder recorder{INSTALLER_FILE_EXT};
};

TEST_F(InstallerTest, SilentInstallRunsThePromptAndOkHandsBothFilesOverInOrder) {
  Process installer;
  Process handoff;
  ASSERT_TRUE(installer.Start("\"" + ModuleFolder() + "\\" + INSTALLER_FILE + "\" /S"));

  // handoff.exe is the installer's child, not ours: find it by its parent.
  std::vector<DWORD> children;
  for (DWORD start = GetTickCount(); GetTickCount() - start < kStartTimeoutMs; Sleep(50)) {
    children = ChildProcessIds(installer.id(), "handoff.exe");
    if (!children.empty() || WaitForSingleObject(installer.handle(), 0) == WAIT_OBJECT_0) break;
  }
  ASSERT_EQ(children.size(), 1u) << "the installer did not start handoff.exe";
  ASSERT_TRUE(handoff.Open(children[0]));
  HWND window = WaitForPromptWindow(handoff.handle());
  ASSERT_NE(window, nullptr) << "no prompt window";

  // By now the installer has done all but its last step.
  Files files = {Installed("Field Notes"), Installed("Star Charts")};
  for (const std::string& file : files) {
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;
  }
  // In the order of Snapshot, by name.
  const std::vector<RegistryValue> list = {Text("ins0", files[0]), Text("ins1", files[1]),
                                           Dword("inscount", 2)};
  EXPECT_EQ(Snapshot(StoreKeyPath(INSTALLER_STORE)), list);
  EXPECT_EQ(recorder.Opened(0), Files{}) << "a file was handed over before Ok";

  // Ok has the focus when the prompt opens.
  PressKeysIn(window, "Return");
  EXPECT_EQ(recorder.Opened(2), files);

  DWORD exitCode = 99;
  EXPECT_TRUE(handoff.WaitForExit(kExitTimeoutMs, &exitCode)) << "the prompt stayed open";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(IsWindow(window));
  exitCode = 99;
  EXPECT_TRUE(installer.WaitForExit(kExitTimeoutMs, &exitCode)) << "the installer did not end";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(Snapshot(StoreKeyPath(INSTALLER_STORE)), list) << "the run changed the list";
}

}  // namespace
