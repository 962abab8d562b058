#include "settings/ini_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace {
struct LookupCase {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  bool found;
  const char* value;
};

const LookupCase kLookups[] = {
    {"exact", "[frelvanta]\r\nVideoBitrate=8000\r\n", "frelvanta", "VideoBitrate", true, "8000"},
    {"names ignore case", "[FrelVanta]\nvideobitrate=1\n", "frelvanta", "VIDEOBITRATE", true, "1"},
    {"blanks around key and value", "[s]\n \t Key \t=  a b \t\n", "s", "key", true, "a b"},
    {"section header with blanks", "  [ s ]  \nk=1\n", "s", "k", true, "1"},
    {"empty value is found", "[s]\nk=\n", "s", "k", true, ""},
    {"missing key", "[s]\nother=1\n", "s", "k", false, ""},
    {"missing section", "[t]\nk=1\n", "s", "k", false, ""},
    {"key of another section", "[s]\n[t]\nk=1\n", "s", "k", false, ""},
    {"first duplicate key wins", "[s]\nk=1\nk=2\n", "s", "k", true, "1"},
    {"first duplicate section wins", "[s]\nk=1\n[S]\nk=2\nj=3\n", "s", "j", false, ""},
    {"commented key is no key", "[s]\n;k=1\n", "s", "k", false, ""},
    {"line without equals is no key", "[s]\nk\n", "s", "k", false, ""},
    {"keys before any section belong to none", "k=1\n[s]\n", "s", "k", false, ""},
    {"double quotes removed", "[s]\nk=\"C:\\a b\"\n", "s", "k", true, "C:\\a b"},
    {"single quotes removed", "[s]\nk='x'\n", "s", "k", true, "x"},
    {"unmatched quotes kept", "[s]\nk=\"x'\n", "s", "k", true, "\"x'"},
    {"value keeps later equals signs", "[s]\nk=a=b\n", "s", "k", true, "a=b"},
    {"byte-order mark skipped", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k", true, "1"},
    {"last line without line end", "[s]\nk=7", "s", "k", true, "7"},
    {"header without closing bracket", "[s\nk=1\n", "s", "k", true, "1"},
};

// The document and the one-pass snapshot that loading uses answer alike.
TEST(IniDocument, Lookup) {
  for (const LookupCase& c : kLookups) {
    IniDocument doc;
    doc.parse(c.file);
    std::string value;
    EXPECT_EQ(doc.get(c.section, c.key, &value), c.found) << c.name;
    if (c.found) EXPECT_EQ(value, c.value) << c.name;
    IniSnapshot snapshot;
    snapshot.parse(c.file);
    value.clear();
    EXPECT_EQ(snapshot.get(c.section, c.key, &value), c.found) << "snapshot: " << c.name;
    if (c.found) EXPECT_EQ(value, c.value) << "snapshot: " << c.name;
  }
}

struct EditCase {
  const char* name;
  const char* before;
  const char* key;    // in section "s"
  const char* value;  // nullptr deletes
  const char* after;
};

const EditCase kEdits[] = {
    {"update keeps the line and everything else", "; top\r\n[s]\r\na=1\r\nk = old ; tail\r\nz=9\r\n\r\n[t]\r\nk=t\r\n",
     "K", "new", "; top\r\n[s]\r\na=1\r\nK=new\r\nz=9\r\n\r\n[t]\r\nk=t\r\n"},
    {"new key after the last key of its section", "[s]\r\na=1\r\n\r\n; about t\r\n[t]\r\nb=2\r\n", "k", "v",
     "[s]\r\na=1\r\nk=v\r\n\r\n; about t\r\n[t]\r\nb=2\r\n"},
    {"new key in an empty section", "[s]\n[t]\n", "k", "v", "[s]\nk=v\n[t]\n"},
    {"missing section appended", "[t]\r\nb=2\r\n", "k", "v", "[t]\r\nb=2\r\n\r\n[s]\r\nk=v\r\n"},
    {"missing section after an unterminated line", "[t]\nb=2", "k", "v", "[t]\nb=2\n\n[s]\nk=v\n"},
    {"empty file", "", "k", "v", "[s]\r\nk=v\r\n"},
    {"unterminated last key", "[s]\na=1", "k", "v", "[s]\na=1\nk=v\n"},
    {"byte-order mark kept", "\xEF\xBB\xBF[s]\na=1\n", "a", "2", "\xEF\xBB\xBF[s]\na=2\n"},
    {"mixed line ends kept", "[s]\r\na=1\nb=2\r\n", "b", "3", "[s]\r\na=1\nb=3\r\n"},
    {"empty value written", "[s]\na=1\n", "a", "", "[s]\na=\n"},
    {"delete", "[s]\r\na=1\r\nk=2\r\nz=3\r\n", "k", nullptr, "[s]\r\na=1\r\nz=3\r\n"},
    {"delete a missing key", "[s]\na=1\n", "k", nullptr, "[s]\na=1\n"},
    {"delete in a missing section", "[t]\nk=1\n", "k", nullptr, "[t]\nk=1\n"},
};

TEST(IniDocument, EditsThroughTheFile) {
  TempDir dir;
  for (const EditCase& c : kEdits) {
    std::string path = dir.file("edit.ini");
    write_text(path, c.before);
    std::string value = c.value ? c.value : "";
    ini_put_string(path, "s", c.key, c.value ? &value : nullptr);
    EXPECT_EQ(read_text(path), c.after) << c.name;
  }
}

TEST(IniDocument, RefusesTextThatWouldBreakLines) {
  TempDir dir;
  std::string path = dir.file("x.ini");
  write_text(path, "[s]\na=1\n");
  const std::pair<const char*, std::string> refused[] = {
      {"a", "1\n[evil]\nb=2"}, {"a", "1\rX"}, {"a\nb", "1"}, {"a=b", "1"}, {"", "1"}, {";a", "1"}};
  for (const auto& [key, value] : refused) {
    EXPECT_FALSE(ini_put_string(path, "s", key, &value)) << key;
  }
  std::string v = "1";
  EXPECT_FALSE(ini_put_string(path, "s]x", "a", &v));
  EXPECT_FALSE(ini_put_string(path, "s\nx", "a", &v));
  EXPECT_EQ(read_text(path), "[s]\na=1\n");
}

TEST(IniDocument, DeletingFromAMissingFileCreatesNothing) {
  TempDir dir;
  std::string path = dir.file("none.ini");
  ini_put_string(path, "s", "k", nullptr);
  EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST(IniDocument, WritingThroughASymbolicLinkKeepsTheLinkAndMode) {
  TempDir dir;
  std::string real = dir.file("real.ini"), link = dir.file("link.ini");
  write_text(real, "[s]\na=1\n");
  chmod(real.c_str(), 0640);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  std::string v = "2";
  ASSERT_TRUE(ini_put_string(link, "s", "a", &v));
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(read_text(real), "[s]\na=2\n");
}

TEST(IniNumbers, ParsedLikeTheProfileFunction) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"0", 0},
      {"42", 42},
      {" \t7", 7},
      {"+5", 5},
      {"12abc", 12},
      {"abc", 0},
      {"-", 0},
      {"0x10", 0},
      {"-0", 0},
      {"-1", 0xFFFFFFFFu},
      {"-5", static_cast<uint32_t>(-5)},
      {"2147483647", 2147483647u},
      {"2147483648", 2147483648u},    // negative as a signed number
      {"4294967295", 0xFFFFFFFFu},    // reads as -1, as the 32-bit function gives it
      {"4294967296", 0x80000000u},    // too large: negative, never wrapped to a small value
      {"99999999999999999999", 0x80000000u},
      {"-2147483648", 0x80000000u},
      {"-4294967295", 0x80000000u},   // would wrap to 1
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ini_parse_int(text), expected) << text;
}

TEST(IniNumbers, MissingOrEmptyGivesTheFallback) {
  TempDir dir;
  std::string path = dir.file("n.ini");
  write_text(path, "[s]\nempty=\nzero=0\nquoted=\"12\"\n");
  EXPECT_EQ(ini_get_int(path, "s", "empty", -1), 0xFFFFFFFFu);
  EXPECT_EQ(ini_get_int(path, "s", "absent", 77), 77u);
  EXPECT_EQ(ini_get_int(path, "s", "zero", -1), 0u);
  EXPECT_EQ(ini_get_int(path, "s", "quoted", -1), 12u);
  EXPECT_EQ(ini_get_int(dir.file("missing.ini"), "s", "zero", 5), 5u);
}
}  // namespace
