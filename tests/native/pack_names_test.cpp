#include "tools/pack_names.h"

#include <gtest/gtest.h>

#include "codec/lzms.h"
#include "pack_test_support.h"
#include "tests/name_cases.h"

namespace {

std::vector<std::string> RefusedPaths(const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const NameProblem& problem : CheckPackageNames(names))
    if (problem.refused) paths.push_back(problem.path);
  return paths;
}

std::vector<std::string> WarnedPaths(const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const NameProblem& problem : CheckPackageNames(names))
    if (!problem.refused) paths.push_back(problem.path);
  return paths;
}

using Paths = std::vector<std::string>;

TEST(PackNameRules, EachNameAlone) {
  for (const NameCase& c : EntryNameCases()) {
    const auto problems = CheckPackageNames({c.name});
    EXPECT_EQ(problems.empty(), c.installable) << PrintableName(c.name);
    if (!c.installable && !problems.empty()) {
      EXPECT_EQ(problems.size(), 1u) << PrintableName(c.name);
      EXPECT_FALSE(problems[0].why.empty());
    }
  }
  // The offending part is named: the folder, once for every file below it.
  EXPECT_EQ(RefusedPaths({"sub\\CON\\x.txt", "sub\\CON\\y.txt", "sub\\ok.txt"}), Paths{"sub\\CON"});
  EXPECT_EQ(RefusedPaths({"ui.\\x.txt"}), Paths{"ui."});
}

TEST(PackNameRules, PathsThatWindowsSeesAsOne) {
  const struct {
    Paths names, refused;
  } cases[] = {
      {{"README.txt", "Readme.txt"}, {"Readme.txt"}},
      {{"Docs\\a.txt", "docs\\b.txt", "docs\\c.txt"}, {"docs"}},
      {{"a\\B\\x", "a\\b\\y", "a\\c"}, {"a\\b"}},
      {{"x", "X\\y"}, {"X"}},
      {{"x\\y", "x"}, {"x"}},
      {{"same.txt", "same.txt"}, {"same.txt"}},
      {{"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9T\xC3\x89.TXT"}, {"\xC3\xA9T\xC3\x89.TXT"}},  // Été, éTÉ
      {{"\xC3\xBF", "\xC5\xB8"}, {"\xC5\xB8"}},                                         // ÿ, Ÿ
      {{"\xCE\xA3", "\xCF\x83"}, {"\xCF\x83"}},                                         // Σ, σ
      {{"\xD0\x96\\a", "\xD0\xB6\\b"}, {"\xD0\xB6"}},                                   // Ж, ж
      {{"\xEF\xBC\xA1", "\xEF\xBD\x81"}, {"\xEF\xBD\x81"}},                             // fullwidth A, a
      // Distinct on Windows: no case pairs, or not one unit to one unit.
      {{"a.txt", "b.txt", "a.txt.bak", "a\\txt"}, {}},
      {{"stra\xC3\x9F"
        "e",
        "STRASSE"},
       {}},                                            // ß does not fold to SS
      {{"\xC3\xA9", "e\xCC\x81"}, {}},                 // é precomposed, e + combining accent
      {{"\xC4\xB0", "i"}, {}},                         // İ uppercases to itself, i to I
      {{"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"}, {}},  // Deseret: beyond the units Windows maps
  };
  for (const auto& c : cases) EXPECT_EQ(RefusedPaths(c.names), c.refused) << PrintableName(c.names[0]);
}

TEST(PackNameRules, LengthBelowTheTypicalInstallationFolder) {
  static_assert(sizeof kTypicalInstallFolder - 1 == 67);
  static_assert(kLongestEntryName == 191 && kLongestEntryFolder == 179);
  const std::string e = "\xC3\xA9";              // two bytes, one UTF-16 unit
  const std::string smile = "\xF0\x9F\x98\x80";  // four bytes, two units
  auto repeat = [](const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
  };
  const std::string folder179 = repeat("d", 89) + "\\" + repeat("d", 89);
  const struct {
    std::string name;
    Paths refused, warned;
  } cases[] = {
      {repeat("n", 159), {}, {}},
      {repeat("n", 160), {}, {repeat("n", 160)}},
      {repeat(e, 191), {}, {repeat(e, 191)}},
      {repeat("n", 192), {repeat("n", 192)}, {}},
      {repeat(e, 192), {repeat(e, 192)}, {}},
      {repeat(smile, 96), {repeat(smile, 96)}, {}},  // 192 units in 96 characters
      {repeat(smile, 95) + "n", {}, {repeat(smile, 95) + "n"}},
      {folder179 + "\\f", {}, {folder179}},
      {folder179 + "d\\f", {folder179 + "d"}, {}},
      {repeat("d", 100) + "\\" + repeat("f", 90), {}, {repeat("d", 100) + "\\" + repeat("f", 90)}},
      {repeat("d", 100) + "\\" + repeat("f", 91), {repeat("d", 100) + "\\" + repeat("f", 91)}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RefusedPaths({c.name}), c.refused) << c.name.size();
    EXPECT_EQ(WarnedPaths({c.name}), c.warned) << c.name.size();
  }
}

class PackNamesBuildTest : public PackFolderTest {
 protected:
  // Runs the build (progress on) and returns its error output.
  std::string Build(int* code) {
    testing::internal::CaptureStderr();
    *code = RunPackCommand({"build", "--stub", stub.string(), "--input", input.string(), "--version", "1.0",
                            "--out", out.string()});
    return testing::internal::GetCapturedStderr();
  }

  // The package's stream, decoded.
  std::vector<uint8_t> Stream() {
    PackageInfo info;
    std::string error;
    EXPECT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
    const auto bytes = ReadBytes(out);
    std::vector<uint8_t> stream;
    for (const PackBlockInfo& block : info.blocks) {
      std::vector<uint8_t> raw(block.rawSize);
      size_t actual = 0;
      EXPECT_TRUE(LzmsBufferedDecompress(&bytes[block.dataOffset], block.packedSize, raw.data(), raw.size(),
                                         &actual));
      stream.insert(stream.end(), raw.begin(), raw.end());
    }
    return stream;
  }
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(PackNamesBuildTest, RefusedFolderNamesEveryOffenderOnceAndLeavesNoOutput) {
  WriteBytes(input / "README.txt", Text(10, 2));
  WriteBytes(input / "Readme.txt", Text(10, 3));
  WriteBytes(input / "aux", Text(10, 4));
  WriteBytes(input / "ui" / "con.log", Text(10, 5));
  WriteBytes(input / "ui" / "q?.txt", Text(10, 6));
  WriteBytes(input / "trail. " / "a.txt", Text(10, 7));
  WriteBytes(input / "trail. " / "b.txt", Text(10, 8));
  WriteBytes(input / "caf\xE9.txt", Text(10, 9));
  WriteBytes(input / "back\\slash" / "a.txt", Text(10, 10));
  WriteBytes(input / "back\\slash" / "b.txt", Text(10, 11));
  int code = 0;
  const std::string log = Build(&code);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(fs::is_empty(out.parent_path()));
  for (const char* path : {"error: Readme.txt: ", "error: aux: ", "error: ui/con.log: ", "error: ui/q?.txt: ",
                           "error: trail. : ", "error: caf\\xE9.txt: ", "error: back\\slash: "})
    EXPECT_EQ(Count(log, path), 1u) << path << "\n" << log;
  EXPECT_EQ(Count(log, "norvale-pack: error: "), 8u) << log;  // seven paths and the sum
  EXPECT_NE(log.find("7 paths of "), std::string::npos) << log;
  EXPECT_EQ(log.find("block"), std::string::npos) << "compressed before refusing:\n" << log;
}

TEST_F(PackNamesBuildTest, LongPathIsRefusedAndOneNearTheLimitWarned) {
  WriteBytes(input / std::string(160, 'n'), Text(10, 2));
  int code = 0;
  std::string log = Build(&code);
  EXPECT_EQ(code, 0) << log;
  EXPECT_EQ(Count(log, "warning: " + std::string(160, 'n') + ": "), 1u) << log;
  WriteBytes(input / "d" / std::string(190, 'n'), Text(10, 3));
  fs::remove(out);
  log = Build(&code);
  EXPECT_EQ(code, 1) << log;
  EXPECT_EQ(Count(log, "error: d/" + std::string(190, 'n') + ": "), 1u) << log;
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(PackNamesBuildTest, LinksOutsideTheFolderAndLoopsAreRefused) {
  WriteBytes(dir.path / "outside" / "secret.txt", Text(10, 2));
  fs::create_directories(input / "sub");
  fs::create_symlink(dir.path / "outside" / "secret.txt", input / "passwd");
  fs::create_symlink(dir.path / "outside", input / "sub" / "away");
  fs::create_symlink("../../outside/secret.txt", input / "sub" / "relative");
  fs::create_symlink("ping", input / "pong");
  fs::create_symlink("pong", input / "ping");
  fs::create_symlink("..", input / "sub" / "up");
  int code = 0;
  const std::string log = Build(&code);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(fs::is_empty(out.parent_path()));
  for (const char* path : {"error: passwd: ", "error: sub/away: ", "error: sub/relative: ", "error: ping: ",
                           "error: pong: ", "error: sub/up: "})
    EXPECT_EQ(Count(log, path), 1u) << path << "\n" << log;
  EXPECT_NE(log.find("outside the input folder"), std::string::npos) << log;
  EXPECT_NE(log.find("loop"), std::string::npos) << log;
}

TEST_F(PackNamesBuildTest, LinksInsideTheFolderArePackedAsTheirTargets) {
  const auto data = Text(3000, 2), note = Text(70, 3);
  WriteBytes(input / "data" / "real.bin", data);
  WriteBytes(input / "data" / "note.txt", note);
  fs::create_symlink("data/real.bin", input / "alias.bin");
  fs::create_symlink(input / "data", input / "mirror");  // an absolute link to a folder inside
  int code = 0;
  const std::string log = Build(&code);
  ASSERT_EQ(code, 0) << log;
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  std::vector<std::string> names;
  for (const PackEntryInfo& entry : info.entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Norvale-Lockra.exe", "alias.bin", "data\\note.txt",
                                             "data\\real.bin", "mirror\\note.txt", "mirror\\real.bin"}));
  std::vector<uint8_t> expected = Text(5000, 1);
  for (const auto* part : {&data, &note, &data, &note, &data})
    expected.insert(expected.end(), part->begin(), part->end());
  EXPECT_EQ(Stream(), expected);
}

TEST_F(PackNamesBuildTest, ListAndVerifyReportNamesThatAnotherToolPacked) {
  WriteBytes(input / "abc.txt", Text(10, 2));
  WriteBytes(input / "ui" / "a.txt", Text(10, 3));
  WriteBytes(input / "ui" / "b.txt", Text(10, 4));
  ASSERT_EQ(Pack(stub, input, out), 0);
  // Another tool could have written any bytes: rename two entries in place
  // (same lengths), one to a device name and one to a case twin.
  auto bytes = ReadBytes(out);
  const std::string from[] = {"abc.txt", "ui\\b.txt"}, to[] = {"aux.txt", "UI\\b.txt"};
  for (int i = 0; i < 2; ++i) {
    const auto at = std::search(bytes.begin(), bytes.end(), from[i].begin(), from[i].end());
    ASSERT_NE(at, bytes.end());
    std::copy(to[i].begin(), to[i].end(), at);
  }
  WriteBytes(out, bytes);
  for (const char* command : {"list", "verify"}) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunPackCommand({command, out.string()}), 1) << command;
    testing::internal::GetCapturedStdout();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(log, "error: \"aux.txt\": "), 1u) << command << "\n" << log;
    EXPECT_EQ(Count(log, "error: \"UI\": "), 1u) << command << "\n" << log;
    EXPECT_NE(log.find("2 paths of the package"), std::string::npos) << command << "\n" << log;
  }
}

}  // namespace
