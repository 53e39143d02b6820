#include "common/file_names.h"

#include <filesystem>
#include <system_error>

namespace fileio {

namespace fs = std::filesystem;

std::string AbsolutePath(const std::string& name) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(name, ec);
  if (ec) return name;
  const fs::path path = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : path).string();
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  return fs::equivalent(a, b, ec) || AbsolutePath(a) == AbsolutePath(b);
}

}  // namespace fileio
