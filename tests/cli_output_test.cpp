// What the installed selvane program prints: JSON Lines that parse and carry
// the fields the man page documents, help for every command, the man page,
// identify, and a deep scan stopped with Ctrl-C that --resume finishes with
// the files of a scan that ran through.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "support/cli_support.h"
#include "support/test_support.h"

namespace selvane {
namespace {

namespace fs = std::filesystem;
using test::JsonValue;
using test::RunSelvane;
using Type = JsonValue::Type;

std::string Env(const std::string& dataDir) { return "SELVANE_DATA_DIR=" + test::ShellQuote(dataDir); }

const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");

// Checks that every line is a JSON object with exactly these keys, each of
// one of the types allowed for it; returns the objects.
std::vector<test::JsonFields> CheckSchema(const std::string& out,
                                          const std::map<std::string, std::set<Type>>& schema) {
  std::vector<test::JsonFields> objects;
  for (const std::string& line : test::Lines(out)) {
    auto fields = test::ParseJsonObject(line);
    if (!fields) {
      ADD_FAILURE() << "not a flat JSON object: " << line;
      continue;
    }
    std::set<std::string> keys;
    for (const auto& [key, value] : *fields) {
      keys.insert(key);
      auto allowed = schema.find(key);
      if (allowed == schema.end()) {
        ADD_FAILURE() << "undocumented field " << key << " in " << line;
        continue;
      }
      EXPECT_TRUE(allowed->second.count(value.type)) << key << " has the wrong type in " << line;
    }
    EXPECT_EQ(keys.size(), schema.size()) << "fields missing in " << line;
    objects.push_back(*fields);
  }
  return objects;
}

const std::map<std::string, std::set<Type>> kRecordSchema = {
    {"scan", {Type::Number}},   {"name", {Type::String}},     {"path", {Type::String}},
    {"folder", {Type::Bool}},   {"size", {Type::Number}},     {"category", {Type::String, Type::Null}},
    {"type", {Type::String, Type::Null}}, {"intact", {Type::Bool}}, {"engine", {Type::String}},
    {"created", {Type::String, Type::Null}}, {"modified", {Type::String, Type::Null}},
    {"accessed", {Type::String, Type::Null}}, {"record", {Type::Number}},
};

TEST(JsonOutput, RecordsScansAndIdentifiedFilesFollowTheDocumentedSchema) {
  const std::string image = test::DemoImage();
  if (image.empty()) GTEST_SKIP() << "samples/demo.img.xz is missing";
  test::TempDir dir;
  const std::string env = Env(dir / "data");
  const auto scan = RunSelvane({"scan", image, "--json"}, env);
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  // Progress went to stderr only.
  EXPECT_NE(scan.err.find("Deep scan"), std::string::npos) << scan.err;

  const auto records = CheckSchema(scan.out, kRecordSchema);
  ASSERT_GE(records.size(), 30u);
  const std::set<std::string> categories = {"photo", "audio", "video", "document", "archive", "others"};
  const std::set<std::string> engines = {"fat", "ntfs", "fat-formatted", "ntfs-formatted", "carving"};
  for (auto record : records) {
    const bool folder = record["folder"].text == "true";
    EXPECT_EQ(record["scan"].text, "1");
    EXPECT_EQ(record["path"].text.rfind("/", 0), 0u) << record["path"].text;
    EXPECT_EQ(record["path"].text.substr(record["path"].text.size() - record["name"].text.size()), record["name"].text);
    EXPECT_EQ(record["category"].type == Type::Null, folder) << record["name"].text;
    if (!folder) {
      EXPECT_TRUE(categories.count(record["category"].text)) << record["category"].text;
    }
    EXPECT_TRUE(engines.count(record["engine"].text)) << record["engine"].text;
    for (const char* time : {"created", "modified", "accessed"}) {
      if (record[time].type == Type::String) {
        EXPECT_TRUE(std::regex_match(record[time].text, kIsoTime)) << record[time].text;
      }
    }
  }

  const auto listed = RunSelvane({"list", "--scan", "1", "--type", "jpeg", "--json"}, env);
  for (auto record : CheckSchema(listed.out, kRecordSchema)) EXPECT_EQ(record["type"].text, "jpg");

  const auto scans = RunSelvane({"scans", "--json"}, env);
  ASSERT_EQ(scans.exitCode, 0);
  auto scanObjects = CheckSchema(scans.out, {{"scan", {Type::Number}},
                                             {"source", {Type::String}},
                                             {"kind", {Type::String}},
                                             {"partition", {Type::Number}},
                                             {"mode", {Type::String}},
                                             {"started", {Type::String}},
                                             {"state", {Type::String}},
                                             {"files", {Type::Number}},
                                             {"folders", {Type::Number}},
                                             {"folder", {Type::String}}});
  ASSERT_EQ(scanObjects.size(), 1u);
  EXPECT_EQ(scanObjects[0]["source"].text, image);
  EXPECT_EQ(scanObjects[0]["kind"].text, "image");
  EXPECT_EQ(scanObjects[0]["mode"].text, "deep");
  EXPECT_EQ(scanObjects[0]["state"].text, "finished");
  EXPECT_TRUE(std::regex_match(scanObjects[0]["started"].text, kIsoTime));

  const std::string text = dir / "notes.txt";
  test::WriteFile(text, std::vector<uint8_t>(700, 'x'));
  const auto identified = RunSelvane({"identify", image, text, "--json"}, env);
  auto files = CheckSchema(identified.out, {{"file", {Type::String}},
                                            {"size", {Type::Number}},
                                            {"kind", {Type::String, Type::Null}},
                                            {"extension", {Type::String, Type::Null}},
                                            {"length", {Type::Number, Type::Null}}});
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1]["kind"].type, Type::Null);
  EXPECT_EQ(files[1]["size"].text, "700");
}

TEST(Identify, NamesTheKindAndTheLengthCarvingWouldGive) {
  const std::string image = test::DemoImage();
  if (image.empty()) GTEST_SKIP() << "samples/demo.img.xz is missing";
  test::TempDir dir;
  const auto recovered = RunSelvane({"recover", image, "--to", dir / "out", "--quiet"}, Env(dir / "data"));
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  // Lengths that are no multiple of the sector size are measured to the byte.
  struct Case {
    const char* file;
    const char* expected;
  };
  const Case cases[] = {
      {"photo/Urlaub 02.jpg", ": JPEG picture, .jpg, "},
      {"photo/84035.png", ": PNG picture, .png, 60058 bytes carved (the whole file)"},
      {"document/Bewerbung.docx", ": Word document (Office Open XML), .docx, "},
      {"audio/84203.wav", ": WAVE audio, .wav, "},
      {"document/Einkaufsliste.txt", ": not recognised (612 bytes)"},
  };
  for (const Case& c : cases) {
    const auto result = RunSelvane({"identify", dir / ("out/" + std::string(c.file))});
    EXPECT_NE(result.out.find(c.expected), std::string::npos) << c.file << ": " << result.out;
    if (std::string(c.expected).find("not recognised") == std::string::npos) {
      EXPECT_EQ(result.exitCode, 0) << c.file;
      EXPECT_NE(result.out.find("(the whole file)"), std::string::npos) << result.out;
    } else {
      EXPECT_EQ(result.exitCode, 1) << c.file;
    }
  }
}

TEST(Help, EveryCommandExplainsItselfWithAnExample) {
  const auto overview = RunSelvane({"--help"});
  ASSERT_EQ(overview.exitCode, 0);
  for (const char* command : {"demo", "disks", "probe", "scan", "scans", "list", "recover", "identify", "image"}) {
    EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    const auto help = RunSelvane({command, "--help"});
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_EQ(help.out.rfind(std::string("Usage: selvane ") + command, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Example"), std::string::npos) << command;
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos) << command;
    EXPECT_EQ(RunSelvane({"help", command}).out, help.out);
  }
  for (const char* words : {"fast", "deep", "resume", "130 cancelled", "man selvane"})
    EXPECT_NE(overview.out.find(words), std::string::npos) << words;
}

TEST(Help, TheManPageIsInstalledAndExplainsModesFiltersFieldsAndExitCodes) {
  const std::string page = std::string(SELVANE_TEST_PREFIX) + "/share/man/man1/selvane.1";
  ASSERT_TRUE(fs::is_regular_file(page)) << page;
  if (test::RunShell("command -v man >/dev/null").exitCode != 0) GTEST_SKIP() << "man is not installed";
  const auto rendered = test::RunShell("MANWIDTH=100 man -l " + test::ShellQuote(page) + " 2>&1");
  ASSERT_EQ(rendered.exitCode, 0) << rendered.out;
  for (const char* words : {"SCAN MODES", "EXIT STATUS", "FILTERS", "--keep-paths", "--preserve-times",
                            "--partition", "--min-size", "resumable", "JSON"})
    EXPECT_NE(rendered.out.find(words), std::string::npos) << words;
  // Every field of a record is named.
  for (const auto& [field, types] : kRecordSchema)
    EXPECT_TRUE(std::regex_search(rendered.out, std::regex("\\b" + field + "\\b"))) << field;
  if (test::RunShell("command -v groff >/dev/null").exitCode == 0) {
    const auto warnings = test::RunShell("groff -man -Tutf8 -ww -z " + test::ShellQuote(page) + " 2>&1");
    EXPECT_EQ(warnings.out, "");
  }
}

// Starts the program with stderr on a pipe; returns its pid.
pid_t Spawn(const std::vector<std::string>& args, const std::string& dataDir, const std::string& outPath, int& errFd) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  const std::string program = test::SelvanePath();
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("SELVANE_DATA_DIR", dataDir.c_str(), 1);
    ::setenv("SELVANE_PROGRESS_SECONDS", "0", 1);
    ::dup2(pipeFds[1], STDERR_FILENO);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::close(pipeFds[0]);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  errFd = pipeFds[0];
  return child;
}

// The found files as path, size, engine and state, without the numbers of scan and record.
std::multiset<std::string> Files(const std::string& out) {
  std::multiset<std::string> files;
  for (const std::string& line : test::Lines(out)) {
    auto f = test::ParseJsonObject(line);
    if (!f) continue;
    files.insert((*f)["path"].text + " " + (*f)["size"].text + " " + (*f)["engine"].text + " " + (*f)["intact"].text);
  }
  return files;
}

TEST(CtrlC, AStoppedDeepScanResumedEndsWithTheFilesOfAScanThatRanThrough) {
  const std::string demo = test::DemoImage();
  const std::string carving = test::Fixture("carving.img");
  if (demo.empty() || carving.empty()) GTEST_SKIP() << "the demo image or carving.img is missing";
  // A large, mostly empty disk: the demo disk at its start, the carving samples near its end.
  test::TempDir dir;
  const std::string image = dir / "large.img";
  constexpr uint64_t kSize = uint64_t{192} << 20;
  {
    std::ofstream out(image, std::ios::binary);
    const auto head = test::ReadFile(demo);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    const auto tail = test::ReadFile(carving);
    out.seekp(static_cast<std::streamoff>(kSize - (4 << 20)));
    out.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    out.seekp(static_cast<std::streamoff>(kSize - 1));
    out.put('\0');
  }
  const auto through = RunSelvane({"scan", image, "--json", "--quiet"}, Env(dir / "through"));
  ASSERT_EQ(through.exitCode, 0) << through.err;

  int errFd = -1;
  const pid_t child = Spawn({"scan", image, "--json"}, dir / "stopped", dir / "stopped.out", errFd);
  ASSERT_GT(child, 0);
  // Ctrl-C once the walk is past the demo disk (its first third).
  std::string progress;
  bool signalled = false;
  char buffer[4096];
  for (ssize_t n; (n = ::read(errFd, buffer, sizeof buffer)) > 0;) {
    progress.append(buffer, static_cast<size_t>(n));
    std::smatch match;
    const std::string last = progress.substr(progress.rfind('\n', progress.size() - 2) + 1);
    if (!signalled && std::regex_search(last, match, std::regex(R"(Deep scan (\d+)%)")) && std::stoi(match[1]) >= 40 &&
        std::stoi(match[1]) < 90) {
      ::kill(child, SIGINT);
      signalled = true;
    }
  }
  ::close(errFd);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << progress;
  if (!signalled || WEXITSTATUS(status) == 0) GTEST_SKIP() << "the scan ended before it could be stopped";
  EXPECT_EQ(WEXITSTATUS(status), 130) << progress;
  EXPECT_NE(progress.find("--resume"), std::string::npos) << progress;
  const auto stopped = RunSelvane({"scans"}, Env(dir / "stopped"));
  EXPECT_NE(stopped.out.find("stopped"), std::string::npos) << stopped.out;
  const auto stoppedOut = test::ReadFile(dir / "stopped.out");
  const auto before = Files(std::string(stoppedOut.begin(), stoppedOut.end()));
  EXPECT_LT(before.size(), Files(through.out).size());

  const auto resumed = RunSelvane({"scan", image, "--resume", "--json"}, Env(dir / "stopped"));
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("Resuming the deep scan"), std::string::npos) << resumed.err;
  EXPECT_EQ(Files(resumed.out), Files(through.out));
  // Still one scan, now finished, and listing it gives the same.
  const auto scans = RunSelvane({"scans", "--json"}, Env(dir / "stopped"));
  EXPECT_EQ(test::Lines(scans.out).size(), 1u) << scans.out;
  EXPECT_NE(scans.out.find("\"state\":\"finished\""), std::string::npos) << scans.out;
  EXPECT_EQ(Files(RunSelvane({"list", "--scan", "1", "--json"}, Env(dir / "stopped")).out), Files(through.out));
}

}  // namespace
}  // namespace selvane
