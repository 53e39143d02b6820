#include "app/reduce.h"

#include <cstdio>

namespace kalvex {

int RunReduce(const engine::ReductionRequest& request) {
  const engine::ReductionOutcome out = engine::RunReduction(request);
  if (out.status != 0) {
    std::fprintf(stderr, "kalvex: %s\n", out.error.c_str());
    return out.status;
  }
  for (const std::string& line : out.summary) std::printf("%s\n", line.c_str());
  return 0;
}

}  // namespace kalvex
