// The real program, end to end on Windows or under Wine: driven by key presses
// and clicks (see program_driver.h), and looked at from outside its process.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "form1.h"
#include "program_driver.h"
#include "test_support.h"

namespace {

using Files = std::vector<std::string>;

const DWORD kExitTimeoutMs = 15000;

// A left, top, width and height.
using Box = std::array<int, 4>;

// The prompt as the program designs it (Form1Design()), in pixels at 96 dots
// per inch.
const TFormDesign& kDesign = Form1Design();
const std::vector<TControlDesign> kControls(kDesign.controls,
                                            kDesign.controls + kDesign.controlCount);

Box Scaled(Box box, int dpi) {
  for (int& figure : box) figure = MulDiv(figure, dpi, kDesignDpi);
  return box;
}

Box ClientBox(HWND parent, HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(NULL, parent, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// A window's text, or its class's name as the system has it ("Static").
std::string Read(HWND hwnd, int(WINAPI* read)(HWND, LPSTR, int) = GetWindowTextA) {
  char text[512];
  return std::string(text, read(hwnd, text, sizeof(text)));
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class PromptTest : public ::testing::Test {
 protected:
  void ExpectEndsCleanly(const RunningProgram& program) {
    ExpectEndsWithZero(program, kExitTimeoutMs, "the program");
  }
  // Starts the program on these arguments, presses these keys, and expects it to end with 0.
  void RunAndPress(const std::string& arguments, const char* keys) {
    RunningProgram program(arguments);
    ASSERT_NE(program.WaitForWindow(), nullptr);
    program.PressKeys(keys);
    ExpectEndsCleanly(program);
  }

  TestStore store{"window"};
  OpenRecorder recorder;
};

// Also past a count written far beyond the entries: the run ends once no
// entry can remain instead of reading every missing index up to the count.
// An empty entry is one that remains no longer; the text "100" reads as the
// count 3,158,065 (its bytes "100\0", low first).
TEST_F(PromptTest, EnterHandsTheListOverInOrderAndTheWindowCloses) {
  const std::string first = recorder.MakeFile("first"), last = recorder.MakeFile("last");
  const RegistryValue largest = DwordValue("inscount", 2147483647);
  const std::vector<RegistryValue> lists[] = {
      {StringValue("ins0", first), StringValue("ins1", last), DwordValue("inscount", 2)},
      {StringValue("ins0", first), StringValue("ins1", last), largest},
      {StringValue("ins0", first), StringValue("ins1", last), StringValue("inscount", "100")},
      {StringValue("ins0", ""), StringValue("ins4999", last), largest}};
  for (const std::vector<RegistryValue>& list : lists) {
    SCOPED_TRACE(list[1].name + ", inscount of type " + std::to_string(list[2].type));
    DeleteUserKey(StoreKeyPath(store.name()));
    for (const RegistryValue& value : list)
      store.SetRaw(value.name.c_str(), value.type, value.data);
    ASSERT_NO_FATAL_FAILURE(RunAndPress(store.name(), "Return"));
    EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), list);
  }
  EXPECT_EQ(recorder.Opened(7), (Files{first, last, first, last, first, last, last}));
}

// Enough accepted files that the run is still handing over when a second
// press, a click on Ok and a close from the title bar arrive; the refused file
// after them stops the run and keeps the window open, so a second run would
// show as each file recorded twice. Ok then starts again from the first entry
// of the list as it then stands, cut short so that the second run is short.
TEST_F(PromptTest, OkDuringALongHandOverStartsNoSecondRunARefusalKeepsTheWindowAndOkStartsAgain) {
  Files files;
  for (int i = 0; i < 40; ++i) files.push_back(recorder.MakeFile("file" + std::to_string(i)));
  const std::string refused = recorder.MakeRefusedFile("refused"),
                    after = recorder.MakeFile("after");
  Files entries = files;
  entries.insert(entries.end(), {refused, after});
  store.SetList(entries);
  RunningProgram program(store.name());
  ASSERT_NE(program.WaitForWindow(), nullptr);
  {
    ShellErrorBoxes boxes(program.window());
    program.PressKeys("Return Return");
    program.ClickControl(IDOK);
    // A close from the title bar, as Wine hands on the window manager's: a
    // posted system command, stamped now, during the run.
    PostMessageA(program.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(recorder.Opened(files.size(), 60000), files);
    Sleep(3000);
    EXPECT_EQ(recorder.Opened(files.size() + 1, 0).size(), files.size())
        << "a second run started, or the run went on past the refusal";
    // On Windows the second press or the click may reach the error box of the
    // run's refusal, and dismiss it, before the box is seen here.
    if (ShellShowsErrorBoxes()) {
      EXPECT_LE(boxes.Dismissed(), 1) << "a second run started";
    }
  }
  ASSERT_TRUE(program.Running()) << "the close asked for during the run closed the window";
  EXPECT_TRUE(IsWindowVisible(program.window()));

  store.SetList({files[0], refused, after});
  ShellErrorBoxes boxes(program.window());
  program.ClickControl(IDOK);
  files.push_back(files[0]);
  EXPECT_EQ(recorder.Opened(files.size()), files);
  boxes.ExpectRefusals(1);
  EXPECT_TRUE(program.Running());
  program.PressKeys("Escape");
  ExpectEndsCleanly(program);
}

// Nor does Ok without a store name, which leaves the window open: no key is
// made, neither values in the maker's key nor a key of the one name the
// program was given, its own path, whole or cut.
TEST_F(PromptTest, EveryWayOfCancellingAndOkWithoutAStoreNameEndWithoutTouchingAStore) {
  const std::vector<RegistryValue> makerBefore = Snapshot("Software\\Varnolt");
  const std::string ways[] = {"Cancel click", "Escape", "close button", "Tab then Enter",
                              "no store name, Ok, then Escape"};
  for (const std::string& way : ways) {
    SCOPED_TRACE(way);
    RunningProgram program(way == ways[4] ? "" : store.name());
    HWND window = program.WaitForWindow();
    ASSERT_NE(window, nullptr);
    if (way == "Cancel click") program.ClickControl(IDCANCEL);
    if (way == "Escape") program.PressKeys("Escape");
    if (way == "close button") PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (way == "Tab then Enter") program.PressKeys("Tab Return");
    if (way == ways[4]) {
      program.PressKeys("Return");
      Sleep(1000);
      // The process may take a while to end once its window has gone.
      EXPECT_TRUE(IsWindowVisible(window)) << "Ok without a store name closed the window";
      EXPECT_TRUE(program.Running()) << "Ok without a store name ended the program";
      program.PressKeys("Escape");
    }
    ExpectEndsCleanly(program);
    EXPECT_FALSE(store.Exists());
  }
  EXPECT_EQ(recorder.Opened(0), Files{});
  EXPECT_EQ(Snapshot("Software\\Varnolt"), makerBefore);
  EXPECT_EQ(StoreKeysNamedFrom({ModuleFolder() + "\\handoff.exe"}), std::vector<std::string>{});
}

// Where no person can ever see the window, as in the window station of a
// service or of a task that runs whether the user is logged on or not, the
// program ends at once with 0 and opens no window, so that an installer that
// waits for it goes on. It hands nothing over and writes nothing: a list stays
// for the product to schedule later, and a store without a key gets none.
TEST_F(PromptTest, WhereNoOneCanSeeItEndsAtOnceWithoutAWindowAndTouchesNoStore) {
  UnseenDesktop unseen;
  store.SetList({recorder.MakeFile("unseen")});
  const std::vector<RegistryValue> before = Snapshot(StoreKeyPath(store.name()));
  TestStore absent("unseen");
  for (const TestStore* given : {&store, &absent}) {
    RunningProgram program(given->name(), "", unseen.path);
    bool prompted = false;
    EXPECT_TRUE(WaitUntil(10000, 20,
                          [&]() {
                            prompted =
                                prompted || unseen.PromptOf(GetProcessId(program.handle())) != NULL;
                            return !program.Running();
                          }))
        << given->name() << " still runs after 10 s";
    EXPECT_FALSE(prompted) << "a prompt that nobody can see";
    ExpectEndsCleanly(program);
  }
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), before);
  EXPECT_FALSE(absent.Exists());
  EXPECT_EQ(recorder.Opened(0), Files{});
}

// Clicks as a right-handed and as a left-handed user makes them: each case
// sets the mouse buttons swapped or not for the test, and restores them.
// Wine 8 sets SM_SWAPBUTTON but swaps no button of the input, so that a
// physical left click still clicks there: swapped, the case runs on Windows.
class ClickTest : public PromptTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && RunningUnderWine()) {
      GTEST_SKIP() << "Wine swaps no mouse button of the input";
    }
    wasSwapped_ = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    SwapMouseButton(GetParam());
    ASSERT_EQ(GetSystemMetrics(SM_SWAPBUTTON) != 0, GetParam()) << "the buttons cannot be swapped";
  }
  void TearDown() override {
    SwapMouseButton(wasSwapped_);
  }

 private:
  bool wasSwapped_ = false;
};

INSTANTIATE_TEST_SUITE_P(Buttons, ClickTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Swapped" : "AsMade";
                         });

// The store keys of this process, whatever other tests do meanwhile.
std::vector<std::string> OurStoreKeys() {
  const std::string tag = "-" + std::to_string(GetCurrentProcessId());
  std::vector<std::string> ours;
  for (const std::string& name : Subkeys("Software\\Varnolt")) {
    if (name.size() > tag.size() && name.compare(name.size() - tag.size(), tag.size(), tag) == 0)
      ours.push_back(name);
  }
  return ours;
}

// Letters outside the system's code page (1252 in the test prefixes), in
// store names on the wide command line, as a Unicode installer starts them: a
// name nobody prepared gets exactly that key, with that class.
TEST_P(ClickTest, OkOnAStoreInAnyLettersWithNoKeyCreatesExactlyItSeededAndCloses) {
  TestStore fresh("Genève-北京 ★");
  RunningProgram program("\"" + fresh.name() + "\"");
  ASSERT_NE(program.WaitForWindow(), nullptr);
  program.ClickControl(IDOK);
  ExpectEndsCleanly(program);
  EXPECT_EQ(OurStoreKeys(), std::vector<std::string>{fresh.name()}) << "a key of another name";
  EXPECT_EQ(KeyClass(StoreKeyPath(fresh.name())), fresh.name());
  EXPECT_EQ(Snapshot(StoreKeyPath(fresh.name())), std::vector{DwordValue("inscount", 0)});
}

// The same letters in a list written through the wide registry calls, as a
// Unicode installer writes it.
TEST_F(PromptTest, NamesAndPathsInAnyLettersArriveExactlyAsWritten) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "the system code page here holds every letter";
  TestStore named("Kraków-Звезда");
  Files files = {recorder.MakeFile("Małgorzata Field Notes"),
                 recorder.MakeFile("Атлас 星図 Star Charts")};
  named.SetList(files);
  std::vector<RegistryValue> before = Snapshot(StoreKeyPath(named.name()));
  ASSERT_NO_FATAL_FAILURE(RunAndPress(named.name(), "Return"));
  EXPECT_EQ(recorder.Opened(2), files);
  EXPECT_EQ(Snapshot(StoreKeyPath(named.name())), before);
  EXPECT_EQ(OurStoreKeys(), std::vector<std::string>{named.name()}) << "a key of another name";
}

// DLLs that an attacker could leave beside the program in a download folder,
// under names that the program, its start-up code and Windows on its behalf
// load, none of which Windows always takes from System32 (as it does its
// KnownDLLs): PLANTED_DLLS, comma-separated (see CMakeLists.txt). Windows
// takes such a DLL from the program's folder when anything loads it by name
// under the default search order. Wine takes its own DLLs first, unless told
// to prefer those beside the program, as its test run here tells it for all
// but three that Wine's own DLLs take from there whatever the program does
// (see CMakeLists.txt). Of the rest, Wine loads bcrypt and crypt32 from the folder of
// a program that does not prevent it, with the crypto provider that GCC's
// stack protector runtime loads before WinMain. The other names Wine never
// loads for this program: for them only Windows shows the rule.
std::vector<std::string> PlantedNames() {
  std::vector<std::string> names;
  std::istringstream list(PLANTED_DLLS);
  for (std::string name; std::getline(list, name, ',');) names.push_back(name);
  return names;
}

TEST_F(PromptTest, TakesNoDllFromItsFolderAndGuardsItsStackWithASeededValue) {
  ScratchFolder folder("handoff-planted-" + store.name());
  const std::string program = folder.File("handoff.exe");
  ASSERT_TRUE(CopyFileA((ModuleFolder() + "\\handoff.exe").c_str(), program.c_str(), FALSE));
  for (const std::string& name : PlantedNames()) {
    ASSERT_TRUE(CopyFileA((ModuleFolder() + "\\handoff_planted.dll").c_str(),
                          folder.File(name + ".dll").c_str(), FALSE))
        << name;
  }
  // The whole program: start, Ok, the hand-over, the close.
  Files files = {recorder.MakeFile("guarded")};
  store.SetList(files);
  {
    RunningProgram started(store.name(), program);
    ASSERT_NE(started.WaitForWindow(), nullptr) << "the program did not start";
    // Windows and Wine fill a cookie left at its documented default as they
    // map the image; where they do not, the program seeds it itself.
    const ULONG_PTR guard = StackGuardOf(started.handle());
    EXPECT_NE(guard, 0u) << "no stack guard named by the load configuration";
    EXPECT_NE(guard, DefaultSecurityCookie()) << "the stack guard was never seeded";
    started.PressKeys("Return");
    ExpectEndsCleanly(started);
  }
  EXPECT_EQ(recorder.Opened(1), files);
  for (const std::string& name : PlantedNames()) {
    EXPECT_EQ(GetFileAttributesA(folder.File(name + ".dll.loaded").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << name << ".dll was loaded from the program's folder";
  }
}

// A system metric as a program at this resolution sees it.
int MetricAt(int index, int dpi) {
  using ForDpi = int(WINAPI*)(int, UINT);
  const ForDpi forDpi = reinterpret_cast<ForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "GetSystemMetricsForDpi")));
  if (forDpi != nullptr) return forDpi(index, dpi);
  EXPECT_EQ(dpi, ScreenDpi()) << "no metrics for another resolution here";
  return GetSystemMetrics(index);
}

// Where the tests may set the screen resolution (see MaySetScreenResolution),
// each case but the first sets it; Wine reads it when a program starts, and
// each case starts a new one. Anywhere else such a case runs only where the
// screen has its resolution. The first, 0, leaves the screen as it is: 96 dpi
// unless it is scaled.
class ScaledPromptTest : public PromptTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    if (GetParam() == 0) return;
    if (MaySetScreenResolution()) {
      SetLogPixels(GetParam());
    } else if (ScreenDpi() != GetParam()) {
      GTEST_SKIP() << "the screen is at " << ScreenDpi() << " dpi, not " << GetParam();
    }
    SetEnvironmentVariableA("HANDOFF_EXPECT_DPI", std::to_string(GetParam()).c_str());
  }
  void TearDown() override {
    if (MaySetScreenResolution() && GetParam() != 0) SetLogPixels(0);
    SetEnvironmentVariableA("HANDOFF_EXPECT_DPI", NULL);
  }
};

// The window against the design at the resolution, with what it measured
// printed; then the font, from inside a process of the program's kind.
TEST_P(ScaledPromptTest, AppearsAsDesignedAndScaledWithOkFocusedAndTouchesNoStoreUntilOk) {
  const int dpi = GetParam() != 0 ? GetParam() : ScreenDpi();
  RunningProgram program(store.name());
  HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Read(window), "Automatic Installation");
  LONG style = GetWindowLongA(window, GWL_STYLE);
  for (LONG bit : {WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX}) {
    EXPECT_EQ(style & bit, bit) << std::hex << bit;
  }
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  EXPECT_EQ((Box{0, 0, width, height}), Scaled({0, 0, kDesign.width, kDesign.height}, dpi))
      << "outer size at " << dpi << " dpi";
  // The client area is the outer size less the frame, as the system metrics
  // give it: on each side the sizing border and its padding, which Windows
  // adds for programs marked for Windows Vista and later, and the caption.
  const int padding = MetricAt(SM_CXPADDEDBORDER, dpi), caption = MetricAt(SM_CYCAPTION, dpi);
  const int frameX = MetricAt(SM_CXSIZEFRAME, dpi), frameY = MetricAt(SM_CYSIZEFRAME, dpi);
  std::cout << "at " << dpi << " dpi: outer " << width << "x" << height << ", client "
            << client.right << "x" << client.bottom << " (size frame " << frameX << ", padding "
            << padding << ", caption " << caption << ")";
  EXPECT_EQ((Box{0, 0, client.right, client.bottom}),
            (Box{0, 0, width - 2 * (frameX + padding), height - 2 * (frameY + padding) - caption}))
      << "client area at " << dpi << " dpi";
  // Where the system placed it: in the middle of the work area of its
  // monitor (DS_CENTER), give or take the rounding of the template's size in
  // dialog units and of the halves.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;
  EXPECT_NEAR(outer.left + outer.right, work.left + work.right, 4) << "horizontally";
  EXPECT_NEAR(outer.top + outer.bottom, work.top + work.bottom, 4) << "vertically";

  for (const TControlDesign& control : kControls) {
    HWND child = GetDlgItem(window, control.id);
    ASSERT_NE(child, nullptr) << control.id;
    const Box box = ClientBox(window, child);
    EXPECT_EQ(box, Scaled({control.left, control.top, control.width, control.height}, dpi))
        << control.caption << " at " << dpi;
    std::cout << "; " << control.id << " " << ::testing::PrintToString(box);
    EXPECT_EQ(Read(child), control.caption);
    EXPECT_EQ(Read(child).find('&'), std::string::npos) << "access-key marker";
    const bool isButton = lstrcmpiA(control.windowClass, "Button") == 0;
    EXPECT_EQ(lstrcmpiA(Read(child, GetClassNameA).c_str(), control.windowClass), 0)
        << Read(child, GetClassNameA) << " made for " << control.windowClass;
    LONG childStyle = GetWindowLongA(child, GWL_STYLE);
    EXPECT_EQ((childStyle & WS_TABSTOP) != 0, isButton) << control.caption;
    if (!isButton) {
      EXPECT_EQ(childStyle & SS_TYPEMASK, SS_LEFT) << "word-wrapped, left-aligned";
    }
  }
  std::cout << std::endl;
  EXPECT_EQ(GetWindowLongA(GetDlgItem(window, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(GetWindowLongA(GetDlgItem(window, IDCANCEL), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof(gui);
  ASSERT_TRUE(GetGUIThreadInfo(program.threadId(), &gui));
  EXPECT_EQ(gui.hwndFocus, GetDlgItem(window, IDOK));

  EXPECT_FALSE(store.Exists()) << "the store was opened before Ok";
  program.PressKeys("Escape");
  ExpectEndsCleanly(program);
  EXPECT_FALSE(store.Exists());

  // The font is only visible from inside the program's process: the in-process
  // tests, in a program that carries handoff.exe's manifest, check it against
  // the resolution they are started with, which at the screen's own is their
  // own run's. Their report says which ran: a filter that matches nothing runs
  // none and ends with 0 all the same.
  if (GetParam() == 0) return;
  ScratchFolder folder("handoff-form-test-" + std::to_string(GetCurrentProcessId()));
  const std::string report = folder.File("report.xml");
  const std::string command =
      "\"" + ModuleFolder() +
      "\\form_test.exe\" --gtest_filter=FormAtScreenResolution.* --gtest_output=xml:" + report;
  DWORD exitCode = 99;
  ASSERT_TRUE(RunToEnd(command, 60000, &exitCode));
  EXPECT_EQ(exitCode, 0u) << "the in-process font checks failed at " << GetParam() << " dpi";
  const std::string xml = ReadFileText(report);
  const size_t tests = Occurrences(xml, "<testcase ");
  EXPECT_GT(tests, 0u) << "no in-process font check ran: " << command;
  EXPECT_EQ(Occurrences(xml, " status=\"run\" result=\"completed\""), tests)
      << "a font check was skipped or not run:\n"
      << xml;
}

INSTANTIATE_TEST_SUITE_P(Dpi, ScaledPromptTest, ::testing::Values(0, 120, 144));

}  // namespace
