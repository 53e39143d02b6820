// kalvex reduce: an intensity file to SHELX HKLF 4 and CIF.
#pragma once

#include <string>

#include "engine/reduction.h"

namespace CLI {
class App;
}

namespace kalvex {

// What the reduce subcommand's options fill in: the request, and the texts
// that are turned into its fields once the command line is read.
struct ReduceCommandLine {
  engine::ReductionRequest request;
  std::string system;
  std::string absorption = "none";
};

// Adds the "reduce" subcommand and its options to `app`.
CLI::App* AddReduceCommand(CLI::App& app, ReduceCommandLine& line);

// Runs the reduction, prints its summary on stdout or its message on
// stderr; returns the exit status (0, 1 for an input it cannot reduce, 2 for
// a request that makes no sense).
int RunReduce(const ReduceCommandLine& line);

}  // namespace kalvex
