// A file that cannot be read as its format says: the program's own message,
// and the true number of the line where reading stopped.
#pragma once

#include <string>
#include <string_view>

namespace kalvex {

struct ReadError {
  std::string message;  // as the program shows it, line number included where it names one
  int line = 0;         // 1-based line of the file read last; 0 before any
};

// The message as an error box shows it: the first 60 characters, ended by
// the first character outside codes 32..122; empty means no box.
inline std::string_view FatalMessageText(std::string_view message) {
  constexpr std::size_t kMessageLength = 60;
  message = message.substr(0, kMessageLength);
  std::size_t n = 0;
  while (n < message.size()) {
    const auto c = static_cast<unsigned char>(message[n]);
    if (c < 32 || c > 122) break;
    ++n;
  }
  return message.substr(0, n);
}

}  // namespace kalvex
