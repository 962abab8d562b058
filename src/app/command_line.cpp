#include "app/command_line.h"

#include "core/app_state.h"
#include "platform/text.h"

namespace {
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// "on"/"1" -> 1, "off"/"0" -> 0.
bool parse_switch(const std::string& value, bool* out) {
  if (equals_ignore_case(value, "on") || value == "1") *out = true;
  else if (equals_ignore_case(value, "off") || value == "0") *out = false;
  else return false;
  return true;
}

bool fail() {
  g_app.exit_code = 1;
  return false;
}
}  // namespace

bool parse_unsigned_exact(std::string_view text, uint32_t* value, bool* negative_out) {
  size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  *negative_out = negative;
  size_t digits_start = i;
  uint64_t v = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > 0xFFFFFFFFull) {
      overflow = true;
      v = 0xFFFFFFFFull;
    }
  }
  // Without digits the conversion ends where it began: never at the end of
  // a non-empty text.
  if (i == digits_start || i != text.size()) return false;
  uint32_t r = static_cast<uint32_t>(v);
  *value = overflow ? 0xFFFFFFFFu : (negative ? 0u - r : r);
  return true;
}

bool parse_command_line(const std::vector<std::string>& args) {
  if (args.size() <= 1) return true;  // interactive

  CaptureMode mode = CAPTURE_NONE;
  std::string output;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& opt = args[i];
    enum { MODE, DURATION, OUTPUT, AUDIO, MIC, MINIMIZE } which;
    if (equals_ignore_case(opt, "--mode")) which = MODE;
    else if (equals_ignore_case(opt, "--duration")) which = DURATION;
    else if (equals_ignore_case(opt, "--output")) which = OUTPUT;
    else if (equals_ignore_case(opt, "--audio") || equals_ignore_case(opt, "--system-audio")) which = AUDIO;
    else if (equals_ignore_case(opt, "--mic")) which = MIC;
    else if (equals_ignore_case(opt, "--minimize")) which = MINIMIZE;
    else return fail();

    if (which == MINIMIZE) {
      g_app.cli_minimize = true;
      continue;
    }
    if (i + 1 >= args.size()) return fail();
    const std::string& value = args[++i];
    switch (which) {
      case MODE:
        if (equals_ignore_case(value, "monitor")) mode = CAPTURE_MONITOR;
        else if (equals_ignore_case(value, "window")) mode = CAPTURE_WINDOW;
        else if (equals_ignore_case(value, "region")) mode = CAPTURE_REGION;
        else return fail();
        break;
      case DURATION: {
        uint32_t seconds = 0;
        bool negative = false;
        if (value.empty() || !parse_unsigned_exact(value, &seconds, &negative) || seconds > 86400) return fail();
        // A negative number normally wraps far above the limit; one whose
        // wrap lands inside it (-4294967295 is 1) is just as negative.
        if (negative && seconds != 0) return fail();
        g_app.cli_duration_sec = seconds;
        break;
      }
      case OUTPUT:
        if (value.empty() || utf16_length(value) >= 260) return fail();
        output = value;
        break;
      case AUDIO:
        g_app.cli_audio_given = true;
        if (!parse_switch(value, &g_app.cli_audio)) return fail();
        break;
      case MIC:
        g_app.cli_mic_given = true;
        if (!parse_switch(value, &g_app.cli_mic)) return fail();
        break;
      case MINIMIZE:
        break;
    }
  }
  if (mode == CAPTURE_NONE) return fail();
  g_app.cli_mode = true;
  g_app.cli_capture_mode = mode;
  if (!output.empty()) g_app.cli_output_path = output;
  return true;
}

namespace {
template <typename Char>
std::vector<std::basic_string<Char>> split(std::basic_string_view<Char> s) {
  using Str = std::basic_string<Char>;
  auto blank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
  std::vector<Str> args;
  size_t i = 0;

  // The program name: no escapes; quotes only delimit it.
  Str first;
  if (i < s.size() && s[i] == Char('"')) {
    ++i;
    while (i < s.size() && s[i] != Char('"')) first += s[i++];
    if (i < s.size()) ++i;  // the closing quote
  } else {
    while (i < s.size() && !blank(s[i])) first += s[i++];
  }
  args.push_back(std::move(first));

  // Later arguments. `quotes` counts quote characters modulo 3 inside one
  // run: 1 means inside quotes; a third quote in a run yields a literal
  // quote and leaves quoted mode, which is how doubled quotes come out.
  for (;;) {
    while (i < s.size() && blank(s[i])) ++i;
    if (i >= s.size()) break;
    Str arg;
    int quotes = 0;
    while (i < s.size()) {
      Char c = s[i];
      if (blank(c) && quotes == 0) break;
      if (c == Char('\\')) {
        size_t n = 0;
        while (i < s.size() && s[i] == Char('\\')) ++n, ++i;
        if (i < s.size() && s[i] == Char('"')) {
          arg.append(n / 2, Char('\\'));
          if (n % 2 == 1) {
            arg += Char('"');
            ++i;
          }
        } else {
          arg.append(n, Char('\\'));
        }
        continue;
      }
      if (c == Char('"')) {
        ++quotes;
        ++i;
        while (i < s.size() && s[i] == Char('"')) {
          if (++quotes == 3) {
            arg += Char('"');
            quotes = 0;
          }
          ++i;
        }
        if (quotes == 2) quotes = 0;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}
}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) { return split(line); }

// The rules only look at ASCII characters, so UTF-8 text splits the same way
// byte by byte as its UTF-16 form does unit by unit.
std::vector<std::string> split_command_line(std::string_view utf8_line) { return split(utf8_line); }
