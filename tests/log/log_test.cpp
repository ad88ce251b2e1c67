#include <gtest/gtest.h>
#include <share.h>
#include <windows.h>

#include <cwctype>
#include <fstream>
#include <regex>
#include <sstream>

#include "fixture_files.h"
#include "log/contexts.h"
#include "log/logger.h"

namespace {

// Records every device call, so the exact sequence of pieces is visible.
class recording_device : public tp::log_device {
 public:
  struct piece {
    std::wstring text;
    int kind;
  };
  bool open() override { ++opens; return true; }
  bool close() override { ++closes; return true; }
  int write(const wchar_t* text, int length, int kind) override {
    pieces.push_back({std::wstring(text, static_cast<size_t>(length)), kind});
    return length;
  }
  bool flush() override { ++flushes; return true; }
  std::wstring text() const {
    std::wstring all;
    for (const piece& p : pieces) all += p.text;
    return all;
  }
  std::vector<piece> pieces;
  int opens = 0, closes = 0, flushes = 0;
};

class fixed_context : public tp::log_context {
 public:
  explicit fixed_context(std::wstring text) : log_context(99), m_text(std::move(text)) {}
  std::wstring format(int type) override { return m_text + std::to_wstring(type); }

 private:
  std::wstring m_text;
};

TEST(Logger, SplitsMessagesIntoPrefixedLines) {
  struct Case {
    const wchar_t* label;
    const wchar_t* message;
    const wchar_t* expected;
  } cases[] = {
      {L"one line", L"message", L"<0>message\n"},
      {L"two lines, each with a prefix", L"one\ntwo", L"<0>one\n<0>two\n"},
      {L"a final line feed adds no line", L"one\n", L"<0>one\n"},
      {L"two line feeds give an empty line", L"one\n\ntwo", L"<0>one\n<0>\n<0>two\n"},
      {L"a carriage return stays in the line", L"one\r\ntwo", L"<0>one\r\n<0>two\n"},
      {L"empty message writes nothing", L"", L""},
  };
  for (const Case& c : cases) {
    tp::logger log;
    recording_device device;
    log.add_device(&device, 0xFF, false);
    log.add_context(&device, new fixed_context(L"<"));
    log.add_context(&device, new tp::lc_text(L">"));
    log.write(0, c.message, true);
    std::wstring text = device.text();
    // the fixed context shows its type; drop it to compare the layout
    for (size_t at; (at = text.find(L"<0>")) != std::wstring::npos;) text.replace(at, 3, L"\x01");
    std::wstring expected = c.expected;
    for (size_t at; (at = expected.find(L"<0>")) != std::wstring::npos;) expected.replace(at, 3, L"\x01");
    EXPECT_EQ(text, expected) << c.label;
    log.remove_device(&device);
  }
}

TEST(Logger, PiecesCarryTheirContextKindAndTheMessageKindZero) {
  tp::logger log;
  recording_device device;
  log.add_device(&device, 0xFF, false);
  log.add_context(&device, new tp::lc_type(L"VIDE"));
  log.add_context(&device, new tp::lc_indent());
  log.write(3, L"boom", false);
  ASSERT_EQ(device.pieces.size(), 4u);
  EXPECT_EQ(device.pieces[0].text, L"E|");
  EXPECT_EQ(device.pieces[0].kind, 13);
  EXPECT_EQ(device.pieces[1].text, L"") << "an empty piece is still written";
  EXPECT_EQ(device.pieces[1].kind, 14);
  EXPECT_EQ(device.pieces[2].text, L"boom");
  EXPECT_EQ(device.pieces[2].kind, 0);
  EXPECT_EQ(device.pieces[3].text, L"\n");
  EXPECT_EQ(device.pieces[3].kind, 0);
  EXPECT_EQ(device.flushes, 0) << "no flush asked";
}

TEST(Logger, TypeMaskAndRegistration) {
  tp::logger log;
  recording_device all, low;
  log.add_device(&all, 0xFF, false);
  log.add_device(&low, 0x01, false);
  log.add_device(&all, 0x00, true);  // already registered: nothing changes
  EXPECT_EQ(all.opens, 1);
  for (int type : {0, 1, 7, 8, 31, 32, -1}) log.write(type, L"x", true);
  EXPECT_EQ(all.text(), L"x\nx\nx\n") << "types 0..7 only";
  EXPECT_EQ(low.text(), L"x\n");
  recording_device unregistered;
  log.add_context(&unregistered, new tp::lc_text(L"never"));  // must not leak or attach
  log.remove_device(&unregistered);
  EXPECT_EQ(unregistered.closes, 0);
  log.remove_device(&low);
  EXPECT_EQ(low.closes, 1);
  log.write(0, L"y", true);
  EXPECT_EQ(low.text(), L"x\n");
  log.remove_device(&all);
}

TEST(Contexts, TypeLettersThreadIdAndTime) {
  tp::lc_type letters(L"VIDE");
  EXPECT_EQ(letters.format(0), L"V|");
  EXPECT_EQ(letters.format(2), L"D|");
  EXPECT_EQ(letters.format(3), L"E|");
  EXPECT_EQ(letters.format(5), L"|");
  EXPECT_EQ(letters.format(-1), L"|");
  EXPECT_EQ(tp::lc_type().format(0), L"|");

  EXPECT_EQ(tp::lc_text(L" ").format(7), L" ");
  EXPECT_EQ(tp::lc_indent().format(0), L"");
  tp::set_indent_level(3);
  EXPECT_EQ(tp::lc_indent().format(0), L"   ");
  tp::set_indent_level(0);

  EXPECT_EQ(tp::wformat(L"%04u", 7u).c_str(), std::wstring(L"0007"));
  EXPECT_EQ(tp::wformat(L"%04u", 123456u).c_str(), std::wstring(L"123456")) << "padded, never cut";
  EXPECT_EQ(tp::lc_tid().format(0), std::wstring(tp::wformat(L"%04u", static_cast<unsigned>(::GetCurrentThreadId()))));
  tp::thread_names()[::GetCurrentThreadId()] = L"main";
  EXPECT_EQ(tp::lc_tid().format(0), L"main");
  tp::thread_names().clear();

  struct tm when = {};
  when.tm_year = 124; when.tm_mon = 4; when.tm_mday = 1;
  when.tm_hour = 13; when.tm_min = 45; when.tm_sec = 7;
  EXPECT_EQ(tp::format_time_text(L"%Y-%m-%d %H:%M:%S", when, true, 123), L"2024-05-01 13:45:07.123");
  EXPECT_EQ(tp::format_time_text(L"%H:%M:%S", when, true, 5), L"13:45:07.005");
  EXPECT_EQ(tp::format_time_text(L"%H:%M:%S", when, false, 5), L"13:45:07");
  std::wstring longFormat(70, L'x');
  EXPECT_LE(tp::format_time_text(longFormat, when, true, 5).size(), 63u) << "never past the 63 characters";
}

TEST(Wformat, InlineUpTo1023AndExactlyWhatIsNeededBeyond) {
  std::wstring small(1023, L'a');
  tp::wformat fits(L"%s", small.c_str());
  EXPECT_FALSE(fits.on_heap());
  EXPECT_EQ(std::wstring(fits.c_str()), small);
  std::wstring big(5000, L'b');
  tp::wformat grows(L"<%s>", big.c_str());
  EXPECT_TRUE(grows.on_heap());
  EXPECT_EQ(grows.capacity(), 5003u);
  EXPECT_EQ(std::wstring(grows.c_str()), L"<" + big + L">") << "never cut";
}

// The layouts each device gets from setup_logging: the memory log is always
// there and follows the log file's layout.
TEST(SetupLogging, MemoryLogLineLayout) {
  tp::memory_log().clear();
  tp::setup_logging();
  tp::get_logger().write(0, L"message", true);
  tp::get_logger().write(2, L"two\nlines", true);
  std::wstring text = tp::memory_log().text();
  std::wregex line(L"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\d{4,} ([VIDE]?\\|)(.*)");
  std::wistringstream lines(text);
  std::vector<std::wstring> tails;
  for (std::wstring l; std::getline(lines, l);) {
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << "bad layout";
    tails.push_back(m[1].str() + m[2].str());
  }
  EXPECT_EQ(tails, (std::vector<std::wstring>{L"V|message", L"D|two", L"D|lines"}));
}

TEST(SetupLogging, LineLayoutOfEachDevice) {
  struct Case {
    tp::line_layout layout;
    const wchar_t* pattern;
  } cases[] = {
      {tp::line_layout::file, L"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\d{4,} E\\|message\n"},
      {tp::line_layout::console, L"\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\d{4,} E\\|message\n"},
      {tp::line_layout::debug_output, L"E\\|message\n"},
  };
  for (const Case& c : cases) {
    tp::logger log;
    recording_device device;
    log.add_device(&device, 0xFF, false);
    tp::attach_layout(log, &device, c.layout);
    log.write(3, L"message", true);
    EXPECT_TRUE(std::regex_match(device.text(), std::wregex(c.pattern))) << device.text();
    log.remove_device(&device);
  }
}

// The file device on its own: CR LF line ends, single bytes up to U+00FF,
// and a second writer of the same name kept out while the first holds it.
TEST(FileDevice, TextModeBytesAndSharing) {
  TempDirectory dir;
  std::wstring path = dir.path() + L"Faultpost_1.log";
  {
    tp::logger log;
    auto* first = new tp::ld_file(path);
    log.add_device(first, 0xFF, true);
    log.add_context(first, new tp::lc_type(L"VIDE"));
    log.write(0, L"caf\u00e9\nzh \u4e2d", true);
    auto* second = new tp::ld_file(path);
    EXPECT_FALSE(second->open()) << "the first run holds the file for writing";
    EXPECT_EQ(second->write(L"lost", 4, 0), 0);
    delete second;
  }
  std::ifstream in(Narrow(path), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, "V|caf\xe9\r\nV|zh \\u4E2D\r\n");
}

TEST(FileDevice, ASecondPassOfTheSameSecondAppends) {
  TempDirectory dir;
  std::wstring path = dir.path() + L"Faultpost_2.log";
  for (const wchar_t* pass : {L"report pass", L"repair pass"}) {
    tp::logger log;
    auto* file = new tp::ld_file(path);
    log.add_device(file, 0xFF, true);
    log.write(0, pass, true);
  }
  std::ifstream in(Narrow(path), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, "report pass\r\nrepair pass\r\n");
}

}  // namespace
