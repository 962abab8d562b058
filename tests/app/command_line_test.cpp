#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/app_state.h"

namespace {
struct CliCase {
  std::vector<std::string> args;  // after the executable
  bool ok;
  bool cli_mode;
  CaptureMode mode;
  uint32_t duration;
  std::string output;
  int audio;  // -1 not given, else the value
  int mic;
  bool minimize;
};

const std::string k259(259, 'p');
const std::string k260(260, 'p');
// 129 two-unit characters are 258 units; one more is 260.
std::string emoji(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += "\xF0\x9F\x8E\xA5";
  return s;
}

const std::vector<CliCase> kCases = {
    {{}, true, false, CAPTURE_NONE, 0, "", -1, -1, false},
    {{"--mode", "monitor"}, true, true, CAPTURE_MONITOR, 0, "", -1, -1, false},
    {{"--mode", "window"}, true, true, CAPTURE_WINDOW, 0, "", -1, -1, false},
    {{"--MODE", "Region"}, true, true, CAPTURE_REGION, 0, "", -1, -1, false},
    {{"--mode", "MONITOR"}, true, true, CAPTURE_MONITOR, 0, "", -1, -1, false},
    {{"--mode", "screen"}, false},
    {{"--mode"}, false},
    {{"--minimize"}, false},  // no mode
    {{"--mode", "window", "--minimize"}, true, true, CAPTURE_WINDOW, 0, "", -1, -1, true},
    {{"--mode", "window", "--mode", "region"}, true, true, CAPTURE_REGION, 0, "", -1, -1, false},
    {{"/mode", "monitor"}, false},
    {{"-mode", "monitor"}, false},
    {{"--mode", "monitor", "extra"}, false},
    {{"--mode", "monitor", ""}, false},
    // Duration.
    {{"--mode", "monitor", "--duration", "86400"}, true, true, CAPTURE_MONITOR, 86400, "", -1, -1, false},
    {{"--mode", "monitor", "--duration", "0"}, true, true, CAPTURE_MONITOR, 0, "", -1, -1, false},
    {{"--mode", "monitor", "--duration", " \t+30"}, true, true, CAPTURE_MONITOR, 30, "", -1, -1, false},
    {{"--mode", "monitor", "--duration", "-0"}, true, true, CAPTURE_MONITOR, 0, "", -1, -1, false},
    {{"--mode", "monitor", "--duration", "86401"}, false},
    {{"--mode", "monitor", "--duration", "10s"}, false},
    {{"--mode", "monitor", "--duration", "-1"}, false},
    {{"--mode", "monitor", "--duration", ""}, false},
    {{"--mode", "monitor", "--duration", " "}, false},
    {{"--mode", "monitor", "--duration", "+"}, false},
    {{"--mode", "monitor", "--duration", "30 "}, false},
    {{"--mode", "monitor", "--duration", "0x10"}, false},
    {{"--mode", "monitor", "--duration", "4294967296"}, false},  // saturates, then too large
    {{"--mode", "monitor", "--duration", "-4294967295"}, false},  // wraps to 1: still a negative number
    {{"--mode", "monitor", "--duration"}, false},
    // Output.
    {{"--mode", "monitor", "--output", k259}, true, true, CAPTURE_MONITOR, 0, k259, -1, -1, false},
    {{"--mode", "monitor", "--output", k260}, false},
    {{"--mode", "monitor", "--output", emoji(129) + "a"}, true, true, CAPTURE_MONITOR, 0, emoji(129) + "a", -1, -1,
     false},
    {{"--mode", "monitor", "--output", emoji(130)}, false},
    {{"--mode", "monitor", "--output", ""}, false},
    {{"--mode", "monitor", "--output", "--mic"}, true, true, CAPTURE_MONITOR, 0, "--mic", -1, -1, false},
    {{"--output", "a.mp4", "--output", "b.mp4", "--mode", "window"}, true, true, CAPTURE_WINDOW, 0, "b.mp4", -1,
     -1, false},
    // Switches.
    {{"--mode", "monitor", "--audio", "on"}, true, true, CAPTURE_MONITOR, 0, "", 1, -1, false},
    {{"--mode", "monitor", "--audio", "OFF"}, true, true, CAPTURE_MONITOR, 0, "", 0, -1, false},
    {{"--mode", "monitor", "--system-audio", "1"}, true, true, CAPTURE_MONITOR, 0, "", 1, -1, false},
    {{"--mode", "monitor", "--audio", "1", "--audio", "0"}, true, true, CAPTURE_MONITOR, 0, "", 0, -1, false},
    {{"--mode", "monitor", "--mic", "0"}, true, true, CAPTURE_MONITOR, 0, "", -1, 0, false},
    {{"--mode", "monitor", "--Mic", "On", "--Audio", "off"}, true, true, CAPTURE_MONITOR, 0, "", 0, 1, false},
    {{"--mode", "monitor", "--audio", "yes"}, false},
    {{"--mode", "monitor", "--mic", "true"}, false},
    {{"--mode", "monitor", "--mic", "01"}, false},
    {{"--mode", "monitor", "--audio"}, false},
};

TEST(CommandLine, EveryRule) {
  for (const CliCase& c : kCases) {
    app_reset();
    std::vector<std::string> argv = {"/opt/frelvanta/frelvanta"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string where;
    for (const std::string& a : c.args) where += "[" + a.substr(0, 20) + "]";
    bool ok = parse_command_line(argv);
    ASSERT_EQ(ok, c.ok) << where;
    if (!ok) {
      EXPECT_EQ(g_app.exit_code, 1) << where;
      EXPECT_FALSE(g_app.cli_mode) << where;
      continue;
    }
    EXPECT_EQ(g_app.exit_code, 0) << where;
    EXPECT_EQ(g_app.cli_mode, c.cli_mode) << where;
    EXPECT_EQ(g_app.cli_capture_mode, c.mode) << where;
    EXPECT_EQ(g_app.cli_duration_sec, c.duration) << where;
    EXPECT_EQ(g_app.cli_output_path, c.output) << where;
    EXPECT_EQ(g_app.cli_audio_given, c.audio >= 0) << where;
    if (c.audio >= 0) EXPECT_EQ(g_app.cli_audio, c.audio == 1) << where;
    EXPECT_EQ(g_app.cli_mic_given, c.mic >= 0) << where;
    if (c.mic >= 0) EXPECT_EQ(g_app.cli_mic, c.mic == 1) << where;
    EXPECT_EQ(g_app.cli_minimize, c.minimize) << where;
  }
  app_reset();
}

TEST(CommandLine, UnsignedConversion) {
  const std::pair<const char*, uint32_t> ok[] = {{"0", 0},          {"007", 7},
                                                 {"\n\v\f\r 5", 5}, {"-1", 4294967295u},
                                                 {"-0", 0},         {"99999999999", 4294967295u},
                                                 {"-99999999999", 4294967295u}, {"4294967295", 4294967295u},
                                                 {"-4294967295", 1}};
  for (const auto& [text, value] : ok) {
    uint32_t v = 1234;
    bool negative = false;
    EXPECT_TRUE(parse_unsigned_exact(text, &v, &negative)) << text;
    EXPECT_EQ(negative, text[strspn(text, "\n\v\f\r ")] == '-') << text;
    EXPECT_EQ(v, value) << text;
  }
  for (const char* bad : {"", " ", "-", "+-1", "1 ", "1.0", "1e3", "٣"}) {
    uint32_t v = 0;
    bool negative = false;
    EXPECT_FALSE(parse_unsigned_exact(bad, &v, &negative)) << bad;
  }
}

struct SplitCase {
  const char* line;
  std::vector<std::string> args;
};

const std::vector<SplitCase> kSplits = {
    {"", {""}},
    {"prog", {"prog"}},
    {"prog a b", {"prog", "a", "b"}},
    {"prog  \t a\t\tb  ", {"prog", "a", "b"}},
    {" prog a", {"", "prog", "a"}},  // a leading blank leaves the program name empty
    {"\"C:\\Program Files\\f.exe\" --mode monitor", {"C:\\Program Files\\f.exe", "--mode", "monitor"}},
    {"C:\\dir\\\"odd\" x", {"C:\\dir\\\"odd\"", "x"}},  // no escapes in the program name
    {"\"a b\"c d", {"a b", "c", "d"}},
    {"p \"abc\" d e", {"p", "abc", "d", "e"}},
    {"p a\\\\b d\"e f\"g h", {"p", "a\\\\b", "de fg", "h"}},
    {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
    {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
    {"p \"\" x", {"p", "", "x"}},
    {"p \"\"\"\" x", {"p", "\" x"}},  // the fourth quote opens quotes again
    {"p \"a\"\"b\"", {"p", "a\"b"}},
    {"p \"a\"\"b c\"", {"p", "a\"b", "c"}},  // a doubled quote inside quotes also ends them
    {"p \"\"\"a\"\"\" b", {"p", "\"a\"", "b"}},
    {"p a\"b\"\" c d", {"p", "ab\"", "c", "d"}},
    {"p \"unterminated arg", {"p", "unterminated arg"}},
    {"p trailing\\", {"p", "trailing\\"}},
    {"p \\\\server\\share x", {"p", "\\\\server\\share", "x"}},
    {"p --output \"C:\\My Videos\\\\\"", {"p", "--output", "C:\\My Videos\\"}},
    {"p line\nbreak", {"p", "line\nbreak"}},
    {"p caf\xC3\xA9 \"\xE2\x82\xAC x\"", {"p", "caf\xC3\xA9", "\xE2\x82\xAC x"}},
};

TEST(SplitCommandLine, WindowsQuotingRules) {
  for (const SplitCase& c : kSplits) EXPECT_EQ(split_command_line(std::string_view(c.line)), c.args) << c.line;
}

TEST(SplitCommandLine, Utf16AgreesWithUtf8) {
  std::u16string line = u"\"C:\\V\u00efdeos\\f.exe\" --output \"\u65e5\u672c \\\"x\\\".mp4\" --mode region";
  std::vector<std::u16string> expected = {u"C:\\V\u00efdeos\\f.exe", u"--output", u"\u65e5\u672c \"x\".mp4",
                                          u"--mode", u"region"};
  EXPECT_EQ(split_command_line(std::u16string_view(line)), expected);
}
}  // namespace
