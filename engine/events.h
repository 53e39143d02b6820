// What a run tells the door it was started from, as it goes: boxes to show,
// the progress of a pass, reflections written, and whether to stop. The
// window shows them, the batch command prints them, the Python module
// returns them.
#pragma once

#include <functional>
#include <string_view>

#include "common/read_error.h"
#include "state/program_state.h"

namespace kalvex::engine {

struct Events {
  // A box that tells of a fault ("WinKalvex", the program's text).
  std::function<void(std::string_view title, std::string_view text)> error;
  // A box that only informs ("End of input data file").
  std::function<void(std::string_view title, std::string_view text)> message;
  // The data file was closed after a read error (shown through `error`
  // already): the door forgets what it showed of the file.
  std::function<void(const ReadError&)> data_file_closed;
  // The current reflection has just been written to the intensity file.
  std::function<void(ProgramState&)> written;
  // How far a pass over the data file has come: reflections passed of
  // `total` (-1 when the file was not counted) at `rate` per second (0 until
  // measured).
  std::function<void(int passed, int total, double rate)> progress;
  // A pass over the data file has ended (its last progress was shown).
  std::function<void()> pass_ended;
  // Asked between two reflections of a whole-file run: true ends it there.
  std::function<bool()> stop;

  void Error(std::string_view title, std::string_view text) const {
    if (error) error(title, text);
  }
  void Message(std::string_view title, std::string_view text) const {
    if (message) message(title, text);
  }
};

}  // namespace kalvex::engine
