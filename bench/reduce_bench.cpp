// kalvex reduce on "Rfine extended" intensity files of 10, 30 and 100 MB
// (or the sizes given), and on the largest "Rfine" file the sequence field
// allows (999,999 records, 80 MB): wall time and peak memory of the
// command, to show that the reduction grows linearly with the file. The
// files are made here: an orthorhombic cell of 25 x 28 x 32 Angstrom,
// bisecting angles from its UB, Wilson-like intensities, three standards
// after every 50 reflections.
//   reduce_bench [MB ...] [--dir DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fit/intensity_file.h"
#include "tools/simulate/simulate.h"

namespace {

namespace fs = std::filesystem;
using namespace kalvex;

constexpr double kLambda = 0.7093;
// The sequence field holds 10 x sequence + standard in seven columns.
constexpr int kLastSequence = 999999;

void WriteParameters(const fs::path& path) {
  std::ofstream out(path);
  out << "Reduction benchmark\n"
         "PKPAR    0.20000   0.10000   0.40000\n"
         "FITLIM   0.00000 1000000.0   0.05000   2.00000   0.00000 10000000.   0.50000   0.50000   0.00000   1.00000"
         "   0.30000   0.70000   0.30000\n"
         "ATTEN   15.40000\n"
         "WAVEL     2   0.70930   0.71359   0.50000\n"
         "RFLAGS    1    1    1    1    0    0\n"
         "TFLAGS         1         1         0         1         0         0         0\n"
         "PARITY         1         1         1         1\n"
         "MONO      1  12.16000   0.00000    0\n"
         "RCRS     0.00000 100.00000\n";
}

// Records until the file holds `megabytes` or the sequence numbers run
// out; returns how many.
long WriteIntensities(const fs::path& path, double megabytes, int format) {
  const simulate::Matrix3 ub = simulate::UBMatrix({{25, 28, 32, 90, 90, 90}, {12, -25, 40}});
  const simulate::Hkl standards[3] = {{4, 0, 0}, {0, 5, 0}, {0, 0, 6}};
  simulate::Random random(7);
  std::ofstream out(path);
  const double bytes = megabytes * 1e6;
  double written = 0;
  long count = 0;
  int seq = 0, since = 0;
  std::vector<std::string> lines;
  const auto emit = [&](const simulate::Hkl& hkl, int standard, double intensity) {
    simulate::SettingAngles a;
    if (!simulate::BisectingAngles(ub, hkl, kLambda, a)) return;
    IntegratedReflection r;
    r.hkl = hkl;
    r.angles = {static_cast<float>(a.two_theta), static_cast<float>(a.omega), static_cast<float>(a.chi),
                static_cast<float>(a.phi)};
    r.parity = {1, 1, 1, 1};
    r.intensity = static_cast<float>(intensity);
    r.sigma = static_cast<float>(std::sqrt(intensity + 50));
    r.seq_no = ++seq;
    r.standard_index = standard;
    r.class_code = {standard ? 'S' : 'N', 'F', ' ', '1', ' ', ' '};
    if (seq > kLastSequence || !FormatIntegrated(r, format, lines)) return;
    // The field as F7.0 reads it without a decimal point, beyond the
    // 99,999 sequence numbers a written point leaves room for.
    const std::string code = std::to_string(10L * seq + standard);
    lines[0].replace(61, 7, std::string(7 - code.size(), ' ') + code);
    for (const std::string& line : lines) {
      out << line << '\n';
      written += static_cast<double>(line.size() + 1);
    }
    ++count;
  };
  // Shells of the reciprocal lattice outwards, every reflection once.
  for (int shell = 1; written < bytes && seq < kLastSequence && shell < 200; ++shell)
    for (int h = -shell; h <= shell && written < bytes; ++h)
      for (int k = -shell; k <= shell && written < bytes; ++k)
        for (int l = -shell; l <= shell && written < bytes; ++l) {
          if (std::max({std::abs(h), std::abs(k), std::abs(l)}) != shell) continue;
          if (++since == 50) {
            for (int s = 0; s < 3; ++s) emit(standards[s], s + 1, 5000 * (1 - 1e-7 * seq));
            since = 0;
          }
          emit({h, k, l}, 0, -400 * std::log(random.Uniform()));
        }
  return count;
}

struct Timing {
  double seconds = 0;
  double peak_mib = 0;
  int status = -1;
};

Timing RunReduce(const fs::path& int_file, const fs::path& par_file) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    execl(KALVEX_COMMAND, KALVEX_COMMAND, "reduce", int_file.c_str(), "--par", par_file.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Timing t;
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  t.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> sizes;
  fs::path dir = fs::temp_directory_path() / "kalvex_reduce_bench";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      sizes.push_back(std::atof(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {10, 30, 100};
  fs::create_directories(dir);
  WriteParameters(dir / "bench.par");
  std::printf("%8s %10s %10s %12s %8s  %s\n", "MB", "records", "seconds", "peak MiB", "status", "format");
  int worst = 0;
  const auto run = [&](const std::string& name, double mb, int format) {
    const fs::path int_file = dir / (name + ".int");
    const long records = WriteIntensities(int_file, mb, format);
    const Timing t = RunReduce(int_file, dir / "bench.par");
    std::printf("%8.0f %10ld %10.2f %12.1f %8d  %s\n", static_cast<double>(fs::file_size(int_file)) / 1e6, records,
                t.seconds, t.peak_mib, t.status, format == kOutputRfine ? "Rfine" : "Rfine extended");
    worst = std::max(worst, t.status != 0 ? 1 : 0);
    if (std::getenv("KALVEX_BENCH_KEEP") == nullptr) fs::remove(int_file);
  };
  for (double mb : sizes) run("extended" + std::to_string(static_cast<int>(mb)), mb, kOutputRfineExtended);
  run("plain", 1e9, kOutputRfine);
  return worst;
}
