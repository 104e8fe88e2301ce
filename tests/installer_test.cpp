// The sample installers, NSIS, MSI and Inno Setup, end to end on Windows or
// under Wine: run silently, each installs its files, writes their install list
// and runs handoff.exe, whose prompt we answer with Ok as a person would (see
// program_driver.h); the MSI is then uninstalled through the installer
// service, and the Inno Setup one by its own uninstaller.
//
// Each installer is the sample source built with a product name, store name and
// file type of its test's own (see tests/CMakeLists.txt), so that the test can
// register the recording handler for that type and remove everything it made.
#include <windows.h>
// After windows.h, which they need.
#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "program_driver.h"
#include "test_support.h"

namespace {

using Files = std::vector<std::string>;

const DWORD kStartTimeoutMs = 60000;  // a first start in the prefix can be slow
const DWORD kExitTimeoutMs = 15000;
const DWORD kUninstallTimeoutMs = 60000;
// Far longer than a program takes to end that never got to run.
const DWORD kNeverRanMs = 2000;

std::string LocalAppData() {
  char path[MAX_PATH] = "";
  EXPECT_EQ(SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA, NULL, 0, path), S_OK);
  return path;
}

// Runs a program to its end, without a window: true when it ended with 0.
bool Succeeds(const std::string& command) {
  DWORD exitCode = 1;
  return RunToEnd(command, kUninstallTimeoutMs, &exitCode) && exitCode == 0;
}

// The paths here are in the system's code page, as the list's checks read
// it, and the shared helpers take UTF-8: the two agree on ASCII only.
bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// The folders and the list an installer of the sample product makes for the
// current user, for a product, store and file type of a test's own; whatever
// an earlier run cut short left of them is removed first, and all of it after.
class InstallerTest : public ::testing::Test {
 protected:
  explicit InstallerTest(const std::string& product = INSTALLER_PRODUCT,
                         const std::string& store = INSTALLER_STORE,
                         const std::string& fileExt = INSTALLER_FILE_EXT)
      : programsFolder_(LocalAppData() + "\\Programs"),
        installFolder_(programsFolder_ + "\\" + product),
        storeKey_(StoreKeyPath(store)),
        installedHandoff_(installFolder_ + "\\handoff.exe"),
        fileExt_(fileExt),
        hadProgramsFolder_(!FindNames(programsFolder_, true).empty()),
        recorder_(fileExt) {
    if (!IsAscii(programsFolder_)) return;
    RemoveFolder(installFolder_);
    DeleteUserKey(storeKey_);
  }
  ~InstallerTest() override {
    if (!IsAscii(programsFolder_)) return;
    DeleteUserKey(storeKey_);
    RemoveFolder(installFolder_);
    // Only succeeds when empty, so another program's folder is never touched.
    if (!hadProgramsFolder_) RemoveDirectoryA(programsFolder_.c_str());
  }

  // The test's own window takes the foreground first, as the window of the
  // person who starts the installer has it: what the test starts then may
  // take it over. A case before may have left it with a window of its own
  // or with none.
  void SetUp() override {
    if (!IsAscii(programsFolder_)) {
      GTEST_SKIP() << "the user's folder, " << programsFolder_
                   << ", has letters outside ASCII, which these checks cannot compare";
    }
    ASSERT_TRUE(BringToForeground(watch_.hwnd())) << "the test's window did not come to the front";
  }

  // Whether the user finds the prompt: Windows brings it to the front where the
  // program that started it could have the foreground (`inFront`); elsewhere
  // it stays behind, and then its taskbar button must flash. Wine gives every
  // program the foreground. Where no shell reports flashes, that one check is
  // not made, and the case, whatever else it checks, ends as skipped.
  void ExpectTheUserFinds(HWND window, bool inFront) {
    if (inFront) {
      EXPECT_EQ(GetForegroundWindow(), window) << "the prompt did not come to the front";
    } else if (GetForegroundWindow() != window) {
      if (!watch_.Available()) {
        GTEST_SKIP() << "NOT CHECKED: the prompt opened behind the window in front, and no shell "
                        "window here reports whether its taskbar button flashes";
      }
      EXPECT_TRUE(watch_.Flashed(window, 5000))
          << "the prompt opened behind the window in front, and its taskbar button did not flash";
    }
  }

  // Waits for the installed handoff.exe that the installer starts, checks
  // that all else is installed by then, that the user can find its prompt
  // (see ExpectTheUserFinds) and that the installer waits for it or else ends
  // with 0 while it stays open, presses Ok, and checks that both files are
  // handed over in order and that the prompt ends with 0. The installer that
  // `waits` is the one the user started, and the prompt comes to the front;
  // else it is the Windows Installer service, which goes on and ends while
  // the prompt waits (see star-atlas.wxs), and the prompt may open behind.
  void AnswerThePrompt(const ChildProcess& installer, bool waits = true) {
    std::vector<DWORD> started =
        WaitForProcessesOf(installedHandoff_, installer.handle(), kStartTimeoutMs);
    ASSERT_EQ(started.size(), 1u) << "the installer did not start handoff.exe";
    ChildProcess handoff;
    ASSERT_TRUE(handoff.Open(started[0]));
    HWND window = WaitForPromptWindow(handoff.handle());
    ASSERT_NE(window, nullptr) << "no prompt window";

    // The handheld files as the installer lays them out, and their list in
    // the order of Snapshot, by name.
    const Files files = {installFolder_ + "\\Field Notes" + fileExt_,
                         installFolder_ + "\\Star Charts" + fileExt_};
    const std::vector<RegistryValue> list = {
        StringValue("ins0", files[0]), StringValue("ins1", files[1]), DwordValue("inscount", 2)};
    for (const std::string& file : files) {
      EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;
    }
    EXPECT_EQ(Snapshot(storeKey_), list);
    EXPECT_EQ(recorder_.Opened(0), Files{}) << "a file was handed over before Ok";

    if (waits) {
      EXPECT_NE(WaitForSingleObject(installer.handle(), 0), WAIT_OBJECT_0)
          << "the installer did not wait for the prompt";
    }
    ExpectTheUserFinds(window, waits);
    if (!waits) {
      // An msiexec still running here would hold the installer's mutex, and
      // with it every other install on the machine (see star-atlas.wxs).
      ExpectEndsWithZero(installer, kExitTimeoutMs, "the installer, while the prompt is open,");
      EXPECT_TRUE(IsWindowVisible(window)) << "the prompt went with the installer";
    }

    // Ok has the focus when the prompt opens.
    PressKeysIn(window, "Return");
    EXPECT_EQ(recorder_.Opened(2), files);

    ExpectEndsWithZero(handoff, kExitTimeoutMs, "the prompt");
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Snapshot(storeKey_), list) << "the run changed the list";
  }

  const std::string programsFolder_;
  const std::string installFolder_;
  const std::string storeKey_;
  // The installed handoff.exe, which the installer runs: as a child of its
  // own, or, for an MSI on Windows, from the installer service's process.
  const std::string installedHandoff_;
  const std::string fileExt_;
  const bool hadProgramsFolder_;
  OpenRecorder recorder_;
  ShellFlashWatch watch_;
};

TEST_F(InstallerTest, SilentInstallRunsThePromptAndOkHandsBothFilesOverInOrder) {
  ChildProcess installer;
  ASSERT_TRUE(installer.Start(Widen("\"" + ModuleFolder() + "\\" + INSTALLER_FILE + "\" /S")));
  ASSERT_NO_FATAL_FAILURE(AnswerThePrompt(installer));
  ExpectEndsWithZero(installer, kExitTimeoutMs, "the installer");
}

// The MSI also registers the product with the installer service, which an
// earlier run cut short may have left installed: it is uninstalled first, and
// after the test if the test did not. Each case installs at one user
// interface level: none (/qn) and basic (/qb), a progress bar and no UI
// sequence, or reduced (/qr), whose UI sequence runs in msiexec.
class MsiInstallerTest : public InstallerTest, public ::testing::WithParamInterface<const char*> {
 protected:
  MsiInstallerTest()
      : InstallerTest(MSI_PRODUCT, MSI_STORE, MSI_FILE_EXT),
        package_(ModuleFolder() + "\\" + MSI_FILE) {
    Uninstall();
  }
  ~MsiInstallerTest() override {
    Uninstall();
  }

  static bool Installed() {
    return MsiQueryProductStateA(MSI_PRODUCT_CODE) == INSTALLSTATE_DEFAULT;
  }
  void Uninstall() const {
    if (Installed()) Succeeds("msiexec.exe /x \"" + package_ + "\" /qn");
  }
  // Waits for msiexec to end with 0, which must come without a further prompt:
  // a handoff.exe that it starts is a failure, and is ended.
  void ExpectEndWithoutPrompt(const ChildProcess& msiexec, const std::string& what) const {
    std::vector<DWORD> started =
        WaitForProcessesOf(installedHandoff_, msiexec.handle(), kUninstallTimeoutMs);
    if (!started.empty()) {
      ADD_FAILURE() << "msiexec " << what << " ran handoff.exe";
      ChildProcess handoff;  // ended here, so that msiexec can end too
      handoff.Open(started[0]);
    }
    ExpectEndsWithZero(msiexec, kUninstallTimeoutMs, "msiexec " + what);
  }
  // Runs msiexec on the package to its end, which must come without a prompt.
  void RunWithoutPrompt(const char* action, const std::string& uiLevel = "/qn") const {
    ChildProcess msiexec;
    const std::string options = std::string(action) + " \"" + package_ + "\" " + uiLevel;
    ASSERT_TRUE(msiexec.Start(Widen("msiexec.exe " + options)));
    ExpectEndWithoutPrompt(msiexec, options);
  }

  const std::string package_;
};

// Installs, answers the prompt, which must come once, starts the package
// again on the installed product and uninstalls it, neither of which may
// bring the prompt. With a user interface (/qr) the prompt comes from
// msiexec's UI sequence, which waits for it, and so to the front; without one
// (/qn, /qb) from the installer service, behind, and msiexec ends while it is
// open.
TEST_P(MsiInstallerTest,
       InstallRunsThePromptOnceEndingWhileItWaitsUnlessReducedAndUninstallRemovesAll) {
  const std::string uiLevel = GetParam();
  const bool waits = uiLevel == "/qr";
  ChildProcess installer;
  ASSERT_TRUE(installer.Start(Widen("msiexec.exe /i \"" + package_ + "\" " + uiLevel)));
  ASSERT_NO_FATAL_FAILURE(AnswerThePrompt(installer, waits));
  // Once only: a second prompt would still be open, or hold msiexec.
  ExpectEndWithoutPrompt(installer, "/i " + uiLevel + " after the prompt was answered");
  EXPECT_TRUE(Installed());

  // The package started again on the installed product only maintains it.
  RunWithoutPrompt("/i", uiLevel);
  EXPECT_TRUE(Installed());

  RunWithoutPrompt("/x", uiLevel);
  EXPECT_FALSE(Installed());
  EXPECT_EQ(FindNames(installFolder_, true), Files{}) << "the files are left";
  EXPECT_FALSE(KeyExists(storeKey_)) << "the list is left";
}

INSTANTIATE_TEST_SUITE_P(UiLevels, MsiInstallerTest, ::testing::Values("/qn", "/qb", "/qr"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param + 1);  // "qn", "qb", "qr"
                         });

// A task of the Task Scheduler that starts handoff.exe, as a deployment may
// start it; deleted when the object goes. The Task Scheduler starts it from a
// service, which has no foreground to hand on. Once, at a time of day already
// past (so it runs only when asked to), for this user while logged on (/it),
// which an ordinary user may create.
struct ScheduledPrompt : NoCopy {
  explicit ScheduledPrompt(const std::string& name, const std::string& program)
      : name(name),
        created(Succeeds("schtasks.exe /create /f /it /sc once /st 00:00 /tn \"" + name +
                         "\" /tr \"\\\"" + program + "\\\" " + name + "\"")) {}
  ~ScheduledPrompt() {
    if (created) Succeeds("schtasks.exe /delete /f /tn \"" + name + "\"");
  }
  const std::string name;
  const bool created;
};

// The prompt started where Windows gives it no foreground, while a window of
// the test's own holds it: it opens behind, and its taskbar button flashes.
TEST(PromptInTheBackgroundTest, StartedByAScheduledTaskItFlashesItsTaskbarButton) {
  ShellFlashWatch watch;
  if (!watch.Available()) {
    GTEST_SKIP() << "NOT RUN: no shell window here reports flashes (Wine has none, nor a Windows "
                    "without Explorer's)";
  }
  TestStore store("flash");  // the store the prompt is given, which it never reads: no Ok
  const std::string program = ModuleFolder() + "\\handoff.exe";
  ScheduledPrompt task(store.name(), program);
  ASSERT_TRUE(task.created) << "schtasks could not create the task " << store.name();
  ASSERT_TRUE(BringToForeground(watch.hwnd())) << "the test's window did not come to the front";
  ASSERT_TRUE(Succeeds("schtasks.exe /run /tn \"" + task.name + "\""))
      << "schtasks could not run the task";

  std::vector<DWORD> started = WaitForProcessesOf(program, NULL, kStartTimeoutMs);
  ASSERT_EQ(started.size(), 1u) << "the task did not start handoff.exe";
  ChildProcess handoff;  // ended by the test: it never presses Ok
  ASSERT_TRUE(handoff.Open(started[0]));
  HWND window = WaitForPromptWindow(handoff.handle());
  ASSERT_NE(window, nullptr) << "no prompt window";
  EXPECT_TRUE(IsWindowVisible(window));
  if (GetForegroundWindow() == window) {
    GTEST_SKIP() << "this Windows let a program that the Task Scheduler started take the "
                    "foreground (is the foreground lock time-out 0?): nothing to flash";
  }
  EXPECT_TRUE(watch.Flashed(window, 5000))
      << "the prompt opened behind the test's window, and its taskbar button did not flash";
}

// Inno Setup's installer and its uninstaller are 32-bit programs in both
// builds, and the installer is built only where Inno Setup's 32-bit compiler
// could run (see tests/CMakeLists.txt). Besides its files and the list, it
// writes an uninstall entry, named after its AppId, which an earlier run cut
// short may have left too.
class InnoInstallerTest : public InstallerTest {
 protected:
  InnoInstallerTest()
      : InstallerTest(INNO_PRODUCT, INNO_STORE, INNO_FILE_EXT),
        uninstallKey_("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" INNO_APP_ID
                      "_is1") {
    DeleteUserKey(uninstallKey_);
  }
  ~InnoInstallerTest() override {
    DeleteUserKey(uninstallKey_);
    DeleteFileA(setupLog_.c_str());
  }

  void SetUp() override {
    InstallerTest::SetUp();
    if (IsSkipped()) return;
    if (INNO_UNAVAILABLE[0] != '\0') {
      GTEST_SKIP() << "NOT RUN: the Inno Setup installer was not built, as " << INNO_UNAVAILABLE;
    }
    DeleteFileA(setupLog_.c_str());
  }
  // What Setup did, for the failure's report.
  void TearDown() override {
    if (!HasFailure()) return;
    const std::string text = ReadFileText(setupLog_);
    ADD_FAILURE() << "Setup's log, " << setupLog_ << ":\n" << (text.empty() ? "(none)" : text);
  }

  const std::string uninstallKey_;
  // Setup writes it from its start: a Setup that ends without one never ran.
  const std::string setupLog_ = TempPath("handoff-inno-setup.log");
};

TEST_F(InnoInstallerTest, SilentInstallRunsThePromptAndUninstallRemovesFilesListAndEntry) {
  ChildProcess installer;
  if (!installer.Start(Widen("\"" + ModuleFolder() + "\\" + INNO_FILE +
                             "\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART \"/LOG=" + setupLog_ +
                             "\""))) {
    const DWORD error = installer.error();
    if (error == ERROR_BAD_EXE_FORMAT || error == ERROR_EXE_MACHINE_TYPE_MISMATCH) {
      GTEST_SKIP() << "NOT RUN: this Windows cannot start the 32-bit Inno Setup installer (error "
                   << error << ")";
    }
    FAIL() << "the Inno Setup installer did not start (error " << error << ")";
  }
  // Windows refuses a 32-bit program it cannot run, as above. A 64-bit Wine
  // whose 32-bit loader cannot start on this kernel starts one all the same,
  // which then ends at once with 0, having run nothing.
  DWORD exitCode = 99;
  if (RunningUnderWine() && installer.WaitForExit(kNeverRanMs, &exitCode) && exitCode == 0 &&
      GetFileAttributesA(setupLog_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "NOT RUN: the 32-bit Inno Setup installer ended at once without running: "
                    "this Wine cannot start 32-bit programs";
  }
  ASSERT_NO_FATAL_FAILURE(AnswerThePrompt(installer));
  ExpectEndsWithZero(installer, kExitTimeoutMs, "the installer");
  ASSERT_TRUE(KeyExists(uninstallKey_)) << "no uninstall entry";
  // A signed Setup installs a signed uninstaller (Inno Setup's
  // SignedUninstaller, as ./x dist builds it), which keeps its messages in a
  // file of their own so as not to break its signature.
  const bool setupSigned = CertificateTableSize(ModuleFolder() + "\\" + INNO_FILE) != 0;
  EXPECT_EQ(CertificateTableSize(installFolder_ + "\\unins000.exe") != 0, setupSigned)
      << (setupSigned ? "Setup is signed and its uninstaller is not"
                      : "Setup is unsigned and its uninstaller is signed");
  EXPECT_EQ(
      GetFileAttributesA((installFolder_ + "\\unins000.msg").c_str()) != INVALID_FILE_ATTRIBUTES,
      setupSigned)
      << "unins000.msg beside the uninstaller";

  ChildProcess uninstaller;
  ASSERT_TRUE(uninstaller.Start(
      Widen("\"" + installFolder_ + "\\unins000.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART")));
  ExpectEndsWithZero(uninstaller, kUninstallTimeoutMs, "the uninstaller");
  // Until the files, the list and the uninstall entry are all gone, for a
  // limited time: Inno Setup's uninstaller may finish after its first process
  // has ended, as it goes on from a copy of itself so as to delete its own file.
  WaitUntil(kUninstallTimeoutMs, 100, [this] {
    return FindNames(installFolder_, true).empty() && !KeyExists(storeKey_) &&
           !KeyExists(uninstallKey_);
  });
  // The folders in which the uninstaller runs a copy of itself go once the
  // copies have ended, within a limited time: under Wine the copy stays after
  // the uninstaller has ended, and the test leaves nothing behind wherever it
  // stays. Its folder's name is always the same, so a copy left by an earlier
  // run goes too.
  for (const std::string& name : FindNames(TempPath("iu-*.tmp"), true)) {
    const std::string copy = TempPath(name);
    WaitUntil(kUninstallTimeoutMs, 100, [&copy] {
      RemoveFolder(copy);
      return FindNames(copy, true).empty();
    });
    EXPECT_EQ(FindNames(copy, true), Files{}) << "the uninstaller's copy did not end: " << copy;
  }
  EXPECT_EQ(FindNames(installFolder_, true), Files{}) << "the files are left";
  EXPECT_FALSE(KeyExists(storeKey_)) << "the list is left";
  EXPECT_FALSE(KeyExists(uninstallKey_)) << "the uninstall entry is left";
  EXPECT_EQ(WaitForProcessesOf(installedHandoff_, NULL, 0), std::vector<DWORD>{})
      << "the uninstaller ran handoff.exe";
}

}  // namespace
