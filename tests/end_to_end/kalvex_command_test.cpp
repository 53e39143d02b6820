// The batch command as a user calls it: its help, its usage errors, a run on
// the bundled example and a fatal input.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;

using testing::CommandRun;
using testing::RunCommand;

CommandRun Kalvex(const std::string& arguments) { return RunCommand(std::string(KALVEX_COMMAND) + " " + arguments); }

fs::path ExampleCopy(const std::string& name) {
  const fs::path dir = testing::ScratchDir(name);
  for (const char* f : {"example.dca", "example.par"})
    fs::copy_file(fs::path(KALVEX_SOURCE_DIR) / "examples" / f, dir / f);
  return dir;
}

TEST(KalvexCommand, HelpDocumentsEveryOption) {
  const CommandRun run = Kalvex("integrate --help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--par", "--out", "--input-format", "--output-format", "--omega-step", "--skip-weak",
                             "--defaults", "--background", "--nstep-bg", "--calc-background", "--preprocess",
                             "--threshold", "--calc-fwhm", "--calc-ub", "--system", "--offsets", "--omega-zero"})
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  EXPECT_EQ(Kalvex("--help").status, 0);
}

TEST(KalvexCommand, UsageErrorsExitWithTwo) {
  const fs::path dir = ExampleCopy("kalvex_usage");
  const std::string data = (dir / "example.dca").string();
  EXPECT_EQ(Kalvex("").status, 2);
  EXPECT_EQ(Kalvex("integrate " + data).status, 2);  // no --par
  EXPECT_EQ(Kalvex("integrate " + data + " --par " + (dir / "missing.par").string()).status, 2);
  EXPECT_EQ(Kalvex("integrate " + data + " --par " + (dir / "example.par").string() + " --output-format cif").status,
            2);
  EXPECT_EQ(Kalvex("integrate " + data + " --par " + (dir / "example.par").string() + " --calc-ub").status, 2);
  fs::copy_file(dir / "example.dca", dir / "example.xyz");
  const CommandRun unknown = Kalvex("integrate " + (dir / "example.xyz").string() + " --par " + (dir / "example.par").string());
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.out.find("--input-format"), std::string::npos);
}

TEST(KalvexCommand, IntegratesTheBundledExample) {
  const fs::path dir = ExampleCopy("kalvex_example");
  const CommandRun run = Kalvex("integrate " + (dir / "example.dca").string() + " --par " + (dir / "example.par").string() +
                         " --quiet --preprocess --threshold 10 --calc-ub --defaults position");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Refined cell from"), std::string::npos);
  EXPECT_NE(run.out.find(" REFLECTIONS AS CLASSIFIED BY INTEGRATION:"), std::string::npos);
  const auto records = testing::ReadLines(dir / "example.int");
  EXPECT_EQ(records.size(), 321u);
  const auto log = testing::ReadLines(dir / "example.log");
  EXPECT_NE(std::find(log.begin(), log.end(), " RESULTS OF LEAST SQUARES REFINEMENT OF CELL PARAMETERS"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), " REFLECTIONS AS CLASSIFIED IN INPUT FILE:"), log.end());

  // A second run is refused an existing intensity file unless told what to
  // do with it; it then appends or writes it anew.
  const std::string again = "integrate " + (dir / "example.dca").string() + " --par " + (dir / "example.par").string() +
                            " --quiet --output-format shelx";
  const CommandRun refused = Kalvex(again);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.out.find("--append"), std::string::npos);
  EXPECT_NE(refused.out.find("--replace"), std::string::npos);
  EXPECT_EQ(testing::ReadLines(dir / "example.int").size(), 321u);
  ASSERT_EQ(Kalvex(again + " --append").status, 0);
  EXPECT_EQ(testing::ReadLines(dir / "example.int").size(), 642u);
  ASSERT_EQ(Kalvex(again + " --replace").status, 0);
  EXPECT_EQ(testing::ReadLines(dir / "example.int").size(), 321u);
}

// Progress goes to a terminal (here one that `script` makes) as one line a
// pass, rewritten in place; to a pipe, none of it.
TEST(KalvexCommand, ShowsProgressOnATerminalOnly) {
  const fs::path dir = ExampleCopy("kalvex_progress");
  const std::string args = "integrate " + (dir / "example.dca").string() + " --par " +
                           (dir / "example.par").string() + " --replace --preprocess";
  const CommandRun piped = Kalvex(args);
  ASSERT_EQ(piped.status, 0) << piped.out;
  EXPECT_EQ(piped.out.find("321 reflections"), std::string::npos) << piped.out;
  const CommandRun shown = RunCommand("script -qec '" + std::string(KALVEX_COMMAND) + " " + args + " >/dev/null' /dev/null");
  ASSERT_EQ(shown.status, 0) << shown.out;
  // Preprocessing from the first reflection, then the integration from the
  // one in memory, each ended at the count; the terminal ends lines "\r\n".
  EXPECT_EQ(shown.out.find("\r0 of 321 reflections"), 0u) << shown.out;
  const std::size_t second = shown.out.find("\r\n\r1 of 321 reflections");
  EXPECT_NE(shown.out.rfind("\r321 of 321 reflections", second), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("\r321 of 321 reflections", second), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.substr(shown.out.size() - 2), "\r\n");
}

// Results that cannot be written are an error that names the file and the
// reason; no file of the run is written over by another.
TEST(KalvexCommand, FilesItCannotWriteOrMustNotTouch) {
  const fs::path dir = ExampleCopy("kalvex_files");
  const std::string data = (dir / "example.dca").string();
  const std::string par = " --par " + (dir / "example.par").string() + " --quiet";

  const CommandRun nowhere = Kalvex("integrate " + data + par + " --out " + (dir / "missing" / "x.int").string());
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_NE(nowhere.out.find("No such file or directory"), std::string::npos) << nowhere.out;
  EXPECT_EQ(nowhere.out.find("Wrote"), std::string::npos);
  fs::create_directory(dir / "taken.int");
  const CommandRun directory = Kalvex("integrate " + data + par + " --replace --out " + (dir / "taken.int").string());
  EXPECT_EQ(directory.status, 1);
  EXPECT_NE(directory.out.find("taken.int: Is a directory"), std::string::npos) << directory.out;

  for (const char* input : {"example.dca", "example.par", "example.log"}) {
    const CommandRun refused = Kalvex("integrate " + data + par + " --replace --out " + (dir / input).string());
    EXPECT_EQ(refused.status, 2) << input;
  }
  const std::string before = testing::ReadLines(dir / "example.par").front();
  EXPECT_FALSE(before.empty());

  // A data file named like its own log keeps its contents; the log takes
  // the whole name, and the run says so.
  fs::copy_file(dir / "example.dca", dir / "scan.log");
  const CommandRun log_named = Kalvex("integrate " + (dir / "scan.log").string() + par + " --input-format xcalibur");
  ASSERT_EQ(log_named.status, 0) << log_named.out;
  EXPECT_NE(log_named.out.find("The log is scan.log.log"), std::string::npos) << log_named.out;
  EXPECT_EQ(testing::ReadLines(dir / "scan.log"), testing::ReadLines(dir / "example.dca"));
  EXPECT_FALSE(testing::ReadLines(dir / "scan.log.log").empty());

  // The format comes from the last extension; "Wrote" names the file as
  // written, ".INT" added to a name without one.
  fs::copy_file(dir / "example.dca", dir / "my.data.dca");
  const CommandRun dotted = Kalvex("integrate " + (dir / "my.data.dca").string() + par + " --out " +
                                   (dir / "plain").string());
  ASSERT_EQ(dotted.status, 0) << dotted.out;
  EXPECT_NE(dotted.out.find("plain.INT"), std::string::npos) << dotted.out;
  EXPECT_EQ(testing::ReadLines(dir / "plain.INT").size(), 321u);

  const CommandRun tiny = Kalvex("integrate " + data + par + " --input-format single --omega-step 0.0005");
  EXPECT_EQ(tiny.status, 2);
  EXPECT_NE(tiny.out.find("Step size too small"), std::string::npos) << tiny.out;
}

TEST(KalvexCommand, CalcBackgroundFirstStillIntegratesTheWholeFile) {
  const fs::path dir = ExampleCopy("kalvex_background");
  const CommandRun run = Kalvex("integrate " + (dir / "example.dca").string() + " --par " +
                                (dir / "example.par").string() +
                                " --quiet --calc-background --background exp --defaults background");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(testing::ReadLines(dir / "example.int").size(), 321u);
}

TEST(KalvexCommand, IntegratesAFileOfEveryFormat) {
  const fs::path dir = testing::ScratchDir("kalvex_formats");
  struct Case {
    const char* format;
    const char* file;
    const char* extra;
  };
  // A Single file carries no step width: 1.4 degrees in 96 steps.
  const Case cases[] = {{"xcalibur", "t.dca", ""},
                        {"cad4", "t.dat", ""},
                        {"single", "t.dat", " --input-format single --omega-step 0.0145833"},
                        {"xscans", "t.p4t", ""}};
  for (const Case& c : cases) {
    const fs::path out = dir / c.format;
    const std::string simulate = std::string(SIMULATE_COMMAND) + " --format " + c.format + " --out " + out.string() +
                                 " --name t --reflections 60 >/dev/null";
    ASSERT_EQ(std::system(simulate.c_str()), 0) << c.format;
    const CommandRun run = Kalvex("integrate " + (out / c.file).string() + " --par " + (out / "t.par").string() +
                                  " --quiet" + c.extra);
    ASSERT_EQ(run.status, 0) << c.format << ": " << run.out;
    const auto truth = testing::ReadLines(out / "t_truth.csv");
    const auto records = testing::ReadLines(out / "t.int");
    EXPECT_EQ(records.size(), truth.size() - 1) << c.format;
    int fitted = 0;
    for (const auto& r : records) fitted += r.size() > 72 && r[71] == 'F';
    EXPECT_GE(fitted, static_cast<int>(records.size()) * 9 / 10) << c.format;
  }
}

// A Single file is asked its omega step at opening and again at every rewind
// (preprocessing rewinds it): each box gets --omega-step, and the run goes
// from preprocessing through Calc UB to the written file.
TEST(KalvexCommand, SingleFileAnswersEveryOmegaStepBoxThroughCalcUB) {
  const fs::path out = testing::ScratchDir("kalvex_single_calc_ub");
  const std::string simulate = std::string(SIMULATE_COMMAND) + " --format single --out " + out.string() +
                               " --name t --reflections 150 >/dev/null";
  ASSERT_EQ(std::system(simulate.c_str()), 0);
  const CommandRun run = Kalvex("integrate " + (out / "t.dat").string() + " --par " + (out / "t.par").string() +
                                " --input-format single --omega-step 0.03 --preprocess --calc-ub --quiet");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto cell = run.out.find("Refined cell from");
  ASSERT_NE(cell, std::string::npos) << run.out;
  const auto a = run.out.find("  a ", cell);
  ASSERT_NE(a, std::string::npos);
  EXPECT_NEAR(std::stod(run.out.substr(a + 4, 16)), 8.5, 0.01) << run.out.substr(cell, 200);
  EXPECT_EQ(testing::ReadLines(out / "t.int").size(), testing::ReadLines(out / "t_truth.csv").size() - 1);
}

// Below half the wavelength no spacing can be measured; the simulator says
// so rather than search for ever.
TEST(KalvexCommand, SimulateRefusesAResolutionNoReflectionReaches) {
  const fs::path out = testing::ScratchDir("simulate_d_min");
  const std::string simulate = std::string(SIMULATE_COMMAND) + " --format xcalibur --out " + out.string() +
                               " --name t --d-min 0.3 2>&1";
  CommandRun run;
  FILE* pipe = popen(simulate.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) run.out.append(buf.data(), n);
  const int raw = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2) << run.out;
  EXPECT_NE(run.out.find("--d-min must be at least half the wavelength"), std::string::npos) << run.out;
}

TEST(KalvexCommand, AFatalInputEndsWithOneAndTheMessage) {
  const fs::path dir = ExampleCopy("kalvex_fatal");
  std::ofstream(dir / "broken.par") << "ATTEN   1.2.3\n";
  const CommandRun run = Kalvex("integrate " + (dir / "example.dca").string() + " --par " + (dir / "broken.par").string());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("ERROR READING PARAMETER FILE: ATTEN at line 1"), std::string::npos) << run.out;

  // A data file read as the wrong format: the reader's message, status 1.
  const CommandRun wrong = Kalvex("integrate " + (dir / "example.dca").string() + " --par " +
                                  (dir / "example.par").string() + " --input-format cad4");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("Error reading file header at line 2"), std::string::npos) << wrong.out;

  // Damage in the middle of the file: the reflections before it are written,
  // then the reader's message ends the run.
  std::ifstream in(dir / "example.dca");
  std::ofstream damaged(dir / "damaged.dca");
  int number = 0;
  for (std::string line; std::getline(in, line);) damaged << (++number == 105 ? "X" + line.substr(1) : line) << "\n";
  damaged.close();
  const CommandRun middle = Kalvex("integrate " + (dir / "damaged.dca").string() + " --par " +
                                   (dir / "example.par").string() + " --out " + (dir / "damaged.int").string());
  EXPECT_EQ(middle.status, 1);
  EXPECT_NE(middle.out.find("ERROR READING FILE: EXPECTED E, GOT X AT LINE    105"), std::string::npos) << middle.out;
  const auto written = testing::ReadLines(dir / "damaged.int");
  EXPECT_FALSE(written.empty());
  EXPECT_LT(written.size(), 321u);
}

// kalvex reduce on the bundled example's intensity file: its help, its
// refusals, and files that hold every accepted ordinary reflection.
TEST(KalvexCommand, ReducesTheBundledExample) {
  const CommandRun help = Kalvex("reduce --help");
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--par", "--hkl", "--cif", "--laue", "--no-lp", "--no-decay", "--cosines",
                             "--batch-from-scale-groups", "--system", "Shelx hkl", "--decay-anyway",
                             "--cell-threshold", "--temperature", "--device", "--source", "--space-group", "--formula",
                             "--z", "--ins", "--shells", "--theta-full", "--absorption", "--lmax", "--faces", "--mu",
                             "--radius", "--report"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;

  const fs::path dir = ExampleCopy("kalvex_reduce");
  const std::string par = " --par " + (dir / "example.par").string();
  ASSERT_EQ(Kalvex("integrate " + (dir / "example.dca").string() + par + " --quiet").status, 0);
  const std::string int_file = (dir / "example.int").string();
  const CommandRun run = Kalvex("reduce " + int_file + par + " --laue mmm --system orthorhombic");
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* text : {"Cell from", "constrained Orthorhombic", "Lp: omega scan, monochromator", "Decay: 7 rounds",
                           "Merging in mmm", "Output scale"})
    EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
  // The cell, "a      8.50014(10)": the simulated one within 3 ESDs.
  const double truth[3] = {8.5, 11.2, 13.7};
  for (int i = 0; i < 3; ++i) {
    const std::size_t at = run.out.find(std::string("\n  ") + "abc"[i] + "  ");
    ASSERT_NE(at, std::string::npos);
    const std::string value = run.out.substr(at + 4, run.out.find('\n', at + 1) - at - 4);
    const std::size_t open = value.find('(');
    const std::string digits = value.substr(open + 1, value.find(')') - open - 1);
    double esd = std::stod(digits);
    for (std::size_t d = value.find('.') + 1; d < open; ++d) esd /= 10;
    const double off = std::stod(value) - truth[i];
    EXPECT_LT(off < 0 ? -off : off, 3 * esd) << value;
  }
  int ordinary = 0;
  for (const std::string& line : testing::ReadLines(dir / "example.int"))
    ordinary += line[71] != 'R' && line[66] == '0';
  const auto hkl = testing::ReadLines(dir / "example.hkl");
  ASSERT_EQ(static_cast<int>(hkl.size()), ordinary + 1);
  EXPECT_EQ(hkl.back(), "   0   0   0    0.00    0.00   0");
  EXPECT_FALSE(testing::ReadLines(dir / "example.cif").empty());

  EXPECT_EQ(Kalvex("reduce " + int_file + par + " --laue 7/q").status, 2);
  const CommandRun number = Kalvex("reduce " + int_file + par + " --laue 222");
  EXPECT_EQ(number.status, 2);
  EXPECT_NE(number.out.find("name the group by its symbol"), std::string::npos) << number.out;
  EXPECT_EQ(Kalvex("reduce " + int_file).status, 2);
  EXPECT_EQ(Kalvex("reduce " + int_file + par + " --hkl " + int_file).status, 2);
  ASSERT_EQ(Kalvex("integrate " + (dir / "example.dca").string() + par +
                   " --quiet --output-format shelx --out " + (dir / "shelx.int").string()).status, 0);
  const CommandRun shelx = Kalvex("reduce " + (dir / "shelx.int").string() + par);
  EXPECT_EQ(shelx.status, 1);
  EXPECT_NE(shelx.out.find("\"Shelx hkl\" record: it carries no setting angles"), std::string::npos) << shelx.out;
}

// kalvex reduce with its outputs at stake: killed at any moment, or stopped
// by a file-size limit (a write failing as on a full disk), it leaves the
// files of the run before whole, and never a new HKLF 4 file without its CIF.
struct Child {
  pid_t pid = -1;
  fs::path messages;
};

Child Spawn(const std::vector<std::string>& arguments, const fs::path& messages, rlim_t size_limit) {
  Child child{fork(), messages};
  if (child.pid == 0) {
    const rlimit limit{size_limit, size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
    std::freopen(messages.c_str(), "w", stderr);
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

int Status(const Child& child) {
  int raw = 0;
  waitpid(child.pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(KalvexCommand, ReductionOutputsAreWholeOrAbsent) {
  simulate::GeneratorOptions g;
  g.reflections = 20000;
  g.d_min = 0.7;
  g.from_f_squared = true;
  const testing::SimulatedFiles files = testing::MakeXcaliburSet("kalvex_reduce_outputs", g);
  const fs::path dir = files.dir;
  const std::string par = (dir / files.parameters).string();
  ASSERT_EQ(Kalvex("integrate " + (dir / files.data).string() + " --par " + par + " --quiet").status, 0);
  const std::vector<std::string> reduce = {KALVEX_COMMAND, "reduce", (dir / "set.int").string(), "--par", par};
  const auto with = [&reduce](std::vector<std::string> more) {
    more.insert(more.begin(), reduce.begin(), reduce.end());
    return more;
  };
  // The new outputs whole under other names; the old ones, made without Lp, at stake.
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Status(Spawn(with({"--hkl", (dir / "new.hkl").string(), "--cif", (dir / "new.cif").string()}),
                         dir / "messages", RLIM_INFINITY)),
            0);
  const double run_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  ASSERT_EQ(Status(Spawn(with({"--no-lp", "--hkl", (dir / "old.hkl").string(), "--cif", (dir / "old.cif").string()}),
                         dir / "messages", RLIM_INFINITY)),
            0);
  const std::string new_hkl = Bytes(dir / "new.hkl"), new_cif = Bytes(dir / "new.cif");
  const std::string old_hkl = Bytes(dir / "old.hkl"), old_cif = Bytes(dir / "old.cif");
  ASSERT_NE(new_hkl, old_hkl);
  ASSERT_LT(new_hkl.size() + 1000, new_cif.size());
  const auto restore = [&] {
    fs::copy_file(dir / "old.hkl", dir / "set.hkl", fs::copy_options::overwrite_existing);
    fs::copy_file(dir / "old.cif", dir / "set.cif", fs::copy_options::overwrite_existing);
  };
  const auto leftovers = [&dir] {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) n += entry.path().filename().string().starts_with(".set.");
    return n;
  };

  // The limit stops the HKLF 4 file, then (larger) the CIF: exit 1 naming
  // the file and the system's reason, the old files whole, nothing left over.
  for (const auto& [limit, stopped] : {std::pair<rlim_t, std::string>{2000, "set.hkl: File too large"},
                                       {new_hkl.size() + 1000, "set.cif: File too large"}}) {
    restore();
    EXPECT_EQ(Status(Spawn(reduce, dir / "messages", limit)), 1) << stopped;
    EXPECT_NE(Bytes(dir / "messages").find(stopped), std::string::npos) << Bytes(dir / "messages");
    EXPECT_EQ(Bytes(dir / "set.hkl"), old_hkl);
    EXPECT_EQ(Bytes(dir / "set.cif"), old_cif);
    EXPECT_EQ(leftovers(), 0);
  }

  // Killed at ten moments over the run: each file old or new and whole, and
  // a new HKLF 4 file only beside its new CIF.
  int finished = 0;
  for (int k = 0; k < 10; ++k) {
    restore();
    const Child child = Spawn(reduce, dir / "messages", RLIM_INFINITY);
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(run_ms * 140.0 * k)));
    kill(child.pid, SIGKILL);
    Status(child);
    const std::string hkl = Bytes(dir / "set.hkl"), cif = Bytes(dir / "set.cif");
    EXPECT_TRUE(hkl == old_hkl || hkl == new_hkl) << k;
    EXPECT_TRUE(cif == old_cif || cif == new_cif) << k;
    EXPECT_FALSE(hkl == new_hkl && cif == old_cif) << k;
    finished += hkl == new_hkl;
  }
  std::printf("a run of %.0f ms killed 10 times: %d had put both files in place\n", run_ms, finished);
}

}  // namespace
}  // namespace kalvex
