// Whether two names are one file: every room that must not write over a
// file of the run asks it the same way.
#pragma once

#include <string>

namespace fileio {

// `name` as an absolute path, links and "." and ".." resolved as far as the
// path exists.
std::string AbsolutePath(const std::string& name);

// Whether `a` and `b` name one file: the same file on disk, or (for files
// not yet made) the same absolute path. An empty name is no file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace fileio
