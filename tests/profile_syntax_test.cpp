#include "storage/profile_syntax.h"

#include <gtest/gtest.h>

#include <string>

namespace velotrax {
namespace {

constexpr uint32_t kNone = ParsedProfile::kNone;

const char kFile[] =
    "[0]\r\n"
    "reference = 3  \r\n"
    " Cpu=\"Quoted PC\"\r\n"
    "[1]\n"
    "pacman=812\r\n"
    "[0]\r\n"
    "REFERENCE=9\r\n"
    "extra=x\r\n"
    "[2]\r\n"
    "last=\r";  // a CR without LF at the very end

TEST(ProfileSyntax, EntriesKeepTheirPlacesInTheFile) {
  const ParsedProfile profile(kFile);
  ASSERT_EQ(profile.Sections().size(), 3u);
  const struct {
    const char* section;
    const char* key;
    const char* value;  // nullptr: no such entry
    const char* raw;
  } rows[] = {
      {"0", "reference", "3", " 3  "},
      {" 0 ", "CPU", "Quoted PC", "\"Quoted PC\""},
      {"0", "extra", "x", "x"},  // the repeated section adds its new keys
      {"1", "PacMan", "812", "812"},
      {"2", "last", "", ""},
      {"1", "reference", nullptr, nullptr},
      {"3", "pacman", nullptr, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.section) + "/" + row.key);
    const uint32_t section = profile.FindSection(row.section);
    const uint32_t entry = profile.FindEntry(section, row.key);
    if (row.value == nullptr) {
      EXPECT_EQ(entry, kNone);
      continue;
    }
    ASSERT_NE(entry, kNone);
    const ParsedProfile::Entry& e = profile.Entries()[entry];
    EXPECT_EQ(profile.Text(e.value), row.value);
    EXPECT_EQ(profile.Text(e.raw_value), row.raw);
    EXPECT_EQ(e.section, section);
  }
}

TEST(ProfileSyntax, AHintThatMissesStillFindsTheEntry) {
  const ParsedProfile profile(kFile);
  const uint32_t zero = profile.FindSection("0");
  const uint32_t cpu = profile.FindEntry(zero, "cpu");
  ASSERT_NE(cpu, kNone);
  // The entry after the hint, an entry of another section, a hint beyond the end.
  EXPECT_EQ(profile.FindEntry(zero, "cpu", cpu - 1), cpu);
  EXPECT_EQ(profile.FindEntry(zero, "cpu", profile.FindEntry(profile.FindSection("1"), "pacman")),
            cpu);
  EXPECT_EQ(profile.FindEntry(zero, "cpu", 1000), cpu);
  EXPECT_EQ(profile.FindEntry(kNone, "cpu"), kNone);
  EXPECT_EQ(ParsedProfile().FindSection("0"), kNone);
}

TEST(ProfileSyntax, ManySectionsAndKeysAllFound) {
  std::string text;
  for (int s = 0; s < 300; ++s) {
    text += "[S" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 20; ++k)
      text += "k" + std::to_string(k) + "=" + std::to_string(s * k) + "\n";
  }
  const ParsedProfile profile(text);
  for (int s = 299; s >= 0; s -= 7) {
    for (int k = 19; k >= 0; k -= 3) {
      const uint32_t e =
          profile.FindEntry(profile.FindSection("s" + std::to_string(s)), "K" + std::to_string(k));
      ASSERT_NE(e, kNone) << s << " " << k;
      EXPECT_EQ(profile.Text(profile.Entries()[e].value), std::to_string(s * k));
    }
  }
}

}  // namespace
}  // namespace velotrax
