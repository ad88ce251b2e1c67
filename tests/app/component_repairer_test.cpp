// The component check (version agreement among the product's modules,
// waiting updates) and the repair that moves the updates into place, over
// plain lists, real product modules loaded into this process, and real
// files with the moves made to fail where a test needs it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/component_repairer.h"
#include "fixture_files.h"

namespace {

using Facts = ComponentRepairer::ModuleFacts;
constexpr DWORD V(int a, int b) { return static_cast<DWORD>((a << 16) | b); }

class RepairerTest : public ::testing::Test {
 protected:
  void SetUp() override { repairer().Reset(); }
  void TearDown() override {
    repairer().Reset();
    SetRepairMoveFunction(nullptr);
  }
  static ComponentRepairer& repairer() { return ComponentRepairer::Instance(); }
};

TEST_F(RepairerTest, VersionAgreement) {
  const wchar_t* product = L"tamor Application";
  struct Case {
    const char* label;
    std::vector<Facts> modules;
    bool hint;
  };
  const Case cases[] = {
      {"no product module", {{L"a.exe", L"Other", V(1, 0), V(0, 0), false}}, false},
      {"equal versions",
       {{L"a.exe", product, V(7, 22), V(0, 8), false}, {L"b.dll", product, V(7, 22), V(0, 8), false}}, false},
      {"7.22.0.8 against 7.22.0.9",
       {{L"a.exe", product, V(7, 22), V(0, 8), false}, {L"b.dll", product, V(7, 22), V(0, 9), false}}, true},
      {"product name compared without case",
       {{L"a.exe", L"TAMOR APPLICATION", V(7, 22), V(0, 8), false}, {L"b.dll", product, V(7, 23), V(0, 8), false}},
       true},
      {"other products may differ",
       {{L"a.exe", product, V(7, 22), V(0, 8), false}, {L"c.dll", L"Other", V(1, 0), V(0, 0), false},
        {L"b.dll", product, V(7, 22), V(0, 8), false}},
       false},
      {"a zero low half is taken from the next module",
       {{L"a.exe", product, V(1, 2), V(0, 0), false}, {L"b.dll", product, V(1, 2), V(0, 5), false}}, false},
      {"but a zero after a non-zero disagrees",
       {{L"a.exe", product, V(1, 2), V(0, 5), false}, {L"b.dll", product, V(1, 2), V(0, 0), false}}, true},
      {"a zero high half is filled the same way",
       {{L"a.exe", product, V(0, 0), V(0, 5), false}, {L"b.dll", product, V(1, 2), V(0, 5), false}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    repairer().Reset();
    repairer().CheckModuleList(c.modules);
    if (c.hint) {
      EXPECT_EQ(repairer().GetHintText(), ComponentRepairer::kHintText);
      EXPECT_EQ(repairer().GetLinkUrl(), L"http://www.nimbrel.com");
      EXPECT_EQ(repairer().GetLinkText(), L"点此下载最新版Nimbrel");
    } else {
      EXPECT_EQ(repairer().GetHintText(), L"");
      EXPECT_EQ(repairer().GetLinkUrl(), L"");
      EXPECT_EQ(repairer().GetLinkText(), L"");
    }
    EXPECT_EQ(repairer().GetRepairArgument(), L"rp:");
  }
}

TEST_F(RepairerTest, PendingModulesListedOncePerOccurrence) {
  const wchar_t* product = L"tamor Application";
  repairer().CheckModuleList({
      {L"C:\\n\\a.dll", product, V(7, 22), V(0, 8), true},
      {L"C:\\n\\b.dll", product, V(7, 22), V(0, 9), true},  // disagrees; still listed
      {L"C:\\n\\other.dll", L"Other", V(1, 0), V(0, 0), true},
      {L"C:\\n\\a.dll", product, V(7, 22), V(0, 8), true},
      {L"C:\\n\\c.dll", product, V(7, 22), V(0, 8), false},
  });
  EXPECT_EQ(repairer().GetRepairArgument(), L"rp:C:\\n\\a.dll|C:\\n\\b.dll|C:\\n\\a.dll");
  EXPECT_FALSE(repairer().GetHintText().empty());
}

TEST_F(RepairerTest, RepairArgumentIsReadBack) {
  struct Case {
    const char* label;
    const wchar_t* text;
    std::vector<std::wstring> paths;
  };
  const Case cases[] = {
      {"prefix in capitals", L"RP:a|b", {L"a", L"b"}},
      {"empty pieces dropped", L"rp:a||b|", {L"a", L"b"}},
      {"only lines with the prefix", L"a|b\nrp:c", {L"c"}},
      {"no prefix at all", L"a|b", {}},
      {"nothing pending", L"rp:", {}},
      {"several lines", L"rp:a\n\nrp:|b\nxrp:c", {L"a", L"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    repairer().Reset();
    EXPECT_TRUE(repairer().ParseRepairArgument(c.text));
    EXPECT_EQ(repairer().PendingModules(), c.paths);
  }
  repairer().Reset();
  EXPECT_FALSE(repairer().ParseRepairArgument(nullptr));
  repairer().ParseRepairArgument(L"rp:Z:\\app\\a.dll|Z:\\app\\b c.dll");
  repairer().ParseRepairArgument(L"rp:Z:\\app\\a.dll");
  EXPECT_EQ(repairer().GetRepairArgument(), L"rp:Z:\\app\\a.dll|Z:\\app\\b c.dll|Z:\\app\\a.dll")
      << "a second parse appends";
}

// --- the component check on this very process ------------------------------

std::wstring BinDirectory() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path);
  return text.substr(0, text.rfind(L'\\') + 1);
}

class LoadedModules {
 public:
  // Copies of the product modules under new names, loaded in this order.
  LoadedModules(const TempDirectory& directory, const std::vector<std::pair<std::wstring, std::wstring>>& copies) {
    for (const auto& copy : copies) {
      const std::wstring target = directory.path() + copy.second;
      ::CopyFileW((BinDirectory() + copy.first).c_str(), target.c_str(), FALSE);
      paths.push_back(target);
      modules.push_back(::LoadLibraryW(target.c_str()));
    }
  }
  ~LoadedModules() {
    for (HMODULE module : modules)
      if (module) ::FreeLibrary(module);
  }
  std::vector<std::wstring> paths;
  std::vector<HMODULE> modules;
};

TEST_F(RepairerTest, CheckOfRealModules) {
  struct Case {
    const char* label;
    std::vector<std::pair<std::wstring, std::wstring>> copies;
    bool hint;
  };
  const Case cases[] = {
      {"equal", {{L"product_7_22_0_8.dll", L"core.dll"}, {L"product_7_22_0_8.dll", L"ui.dll"}}, false},
      {"8 against 9", {{L"product_7_22_0_8.dll", L"core.dll"}, {L"product_7_22_0_9.dll", L"ui.dll"}}, true},
      {"zero half first", {{L"product_7_22_0_0.dll", L"core.dll"}, {L"product_7_22_0_8.dll", L"ui.dll"}}, false},
      {"zero half last", {{L"product_7_22_0_8.dll", L"core.dll"}, {L"product_7_22_0_0.dll", L"ui.dll"}}, true},
      {"other product between",
       {{L"product_7_22_0_8.dll", L"core.dll"}, {L"version_with_translation.dll", L"fixture.dll"},
        {L"product_7_22_0_8.dll", L"ui.dll"}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    repairer().Reset();
    TempDirectory directory;
    LoadedModules loaded(directory, c.copies);
    for (HMODULE module : loaded.modules) ASSERT_NE(module, nullptr);
    TouchFile(loaded.paths.back() + L".pending");
    TouchFile(directory.path() + L"fixture.dll.pending");  // not a product module: never listed
    EXPECT_TRUE(repairer().CheckModules(::GetCurrentProcessId()));
    EXPECT_EQ(repairer().GetHintText().empty(), !c.hint);
    EXPECT_EQ(repairer().PendingModules().size(), 1u);
    if (!repairer().PendingModules().empty()) {
      EXPECT_EQ(_wcsicmp(repairer().PendingModules()[0].c_str(), loaded.paths.back().c_str()), 0);
    }
  }
}

TEST_F(RepairerTest, CheckOfAProcessThatIsGoneFindsNothing) {
  EXPECT_TRUE(repairer().CheckModules(0xFFFFFFF0u));
  EXPECT_EQ(repairer().GetRepairArgument(), L"rp:");
  EXPECT_EQ(repairer().GetHintText(), L"");
}

// --- the repair on real files -------------------------------------------------

std::string Content(const std::wstring& path) {
  std::ifstream in(Narrow(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes chosen moves fail as a file in use would, and records every move.
struct Moves {
  static std::vector<std::wstring> log;
  static std::wstring lockedSource;  // a move away from this path fails
  static std::wstring lockedTarget;  // a move replacing this path fails
  static BOOL WINAPI Move(LPCWSTR from, LPCWSTR to, DWORD flags) {
    log.push_back(std::wstring(from) + L" -> " + (to ? to : L"(reboot delete)") +
                  ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) ? L" at reboot" : L""));
    if (to == nullptr) return TRUE;
    if (!lockedSource.empty() && _wcsicmp(from, lockedSource.c_str()) == 0) return FALSE;
    if (!lockedTarget.empty() && _wcsicmp(to, lockedTarget.c_str()) == 0 && FileExists(to)) return FALSE;
    return ::MoveFileExW(from, to, flags);
  }
  static void Reset() {
    log.clear();
    lockedSource.clear();
    lockedTarget.clear();
  }
};
std::vector<std::wstring> Moves::log;
std::wstring Moves::lockedSource, Moves::lockedTarget;

class RepairFiles : public RepairerTest {
 protected:
  void SetUp() override {
    RepairerTest::SetUp();
    Moves::Reset();
    SetRepairMoveFunction(&Moves::Move);
    module = directory.path() + L"core.dll";
    TouchFile(module, "old build");
    TouchFile(module + L".pending", "new build");
    repairer().ParseRepairArgument((L"rp:" + module).c_str());
  }
  TempDirectory directory;
  std::wstring module;
};

TEST_F(RepairFiles, NothingListedIsRepaired) {
  repairer().Reset();
  EXPECT_TRUE(repairer().TryRepair());
  EXPECT_TRUE(Moves::log.empty());
}

TEST_F(RepairFiles, DirectReplacement) {
  EXPECT_TRUE(repairer().TryRepair());
  EXPECT_EQ(Content(module), "new build");
  EXPECT_FALSE(FileExists(module + L".pending"));
  EXPECT_FALSE(FileExists(module + L".old"));
  EXPECT_TRUE(repairer().TryRepair()) << "done stays done";
  EXPECT_EQ(Moves::log.size(), 1u);
}

TEST_F(RepairFiles, TargetInUseIsMovedAsideAndDeletedAtReboot) {
  Moves::lockedTarget = module;  // cannot be replaced, can be renamed
  EXPECT_TRUE(repairer().TryRepair());
  EXPECT_EQ(Content(module), "new build");
  EXPECT_EQ(Content(module + L".old"), "old build");
  EXPECT_FALSE(FileExists(module + L".pending"));
  ASSERT_EQ(Moves::log.size(), 4u);
  EXPECT_EQ(Moves::log[1], module + L" -> " + module + L".old");
  EXPECT_EQ(Moves::log[3], module + L".old -> (reboot delete) at reboot");
}

TEST_F(RepairFiles, WaitingFileThatVanishedCountsAsDone) {
  ::DeleteFileW((module + L".pending").c_str());
  EXPECT_TRUE(repairer().TryRepair());
  EXPECT_EQ(Content(module), "old build");
  EXPECT_TRUE(Moves::log.empty());
}

TEST_F(RepairFiles, FailedPlacementPutsTheModuleBack) {
  Moves::lockedSource = module + L".pending";  // the update itself is held
  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_FALSE(repairer().TryRepair());
    EXPECT_EQ(Content(module), "old build") << "the module is never left missing";
    EXPECT_EQ(Content(module + L".pending"), "new build");
    EXPECT_FALSE(FileExists(module + L".old"));
  }
  // Released: the next attempt places it.
  Moves::lockedSource.clear();
  EXPECT_TRUE(repairer().TryRepair());
  EXPECT_EQ(Content(module), "new build");
}

TEST_F(RepairFiles, OneFailureDoesNotStopTheOthers) {
  const std::wstring second = directory.path() + L"ui.dll";
  TouchFile(second, "old ui");
  TouchFile(second + L".pending", "new ui");
  repairer().ParseRepairArgument((L"rp:" + second).c_str());
  Moves::lockedSource = module + L".pending";
  EXPECT_FALSE(repairer().TryRepair());
  EXPECT_EQ(Content(second), "new ui");
  EXPECT_EQ(Content(module), "old build");
}

}  // namespace
