// The small error library beside pvgui: a console registered once, messages
// written to it.
#include "toolkit/pvwinerr/pvwinerr.h"

#include <cstdio>

namespace {
int g_registered = 0;
}

extern "C" {

void registerconsole_(void) { g_registered = 1; }

void errormessage_(const char* message, int message_len) {
  int n = message_len;
  while (n > 0 && message[n - 1] == ' ') --n;
  std::fprintf(stderr, "WinKalvex: %.*s\n", n, message);
}

int pvwinerr_registered(void) { return g_registered; }

}
