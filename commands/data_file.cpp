// Reading the data file on behalf of the commands, and the session's answer
// to a file that cannot be read.
#include "commands/data_file.h"

#include <string>

#include "common/fixed_fields.h"
#include "scan/reflection_input.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"

namespace kalvex {

ReaderParts PartsOf(ProgramState& state) {
  return {state.files.data, state.data_set, state.params, state.scan};
}

void ShowReadError(ProgramState& state, const ReadError& error) {
  tk::ErrorBox("WinKalvex", FatalMessageText(error.message));
  if (state.files.log.IsOpen()) {
    state.files.log.Line(" " + error.message);
    state.files.log.Flush();
  }
}

void DataFileFailed(ProgramState& state, const ReadError& error) {
  ShowReadError(state, error);
  state.files.data.Close();
  state.files.data_open = false;
  state.files.read_error = error;
  tk::SetString(state.widgets.data_file_field, "");
  tk::SetString(state.widgets.title_field, "");
  SetDataFileOpen(state, false);
}

int ReadReflection(ProgramState& state, int request, const Hkl& wanted) {
  const ReadResult result = ReadNextReflection(PartsOf(state), request, wanted);
  if (result.Failed()) {
    DataFileFailed(state, result.error);
  } else if (result.status == kEndOfData) {
    tk::GeneralMessage("WIN-KALVEX", "End of input data file", 3, 0);
  }
  return result.status;
}

bool RewindDataFile(ProgramState& state) {
  state.scan.seq_no = 0;
  state.files.data.Rewind();
  if (state.params.input_format == kFormatSingle) AskOmegaStep(state, state.data_set.omega_step);
  const ReadResult header = ReadScanHeader(PartsOf(state), state.files.data_file_name);
  if (header.Failed()) {
    DataFileFailed(state, header.error);
    return false;
  }
  return true;
}

void ResetRunCounters(ProgramState& state) {
  state.data_set.input_class.fill(0);
  state.fit.outcome.fill(0);
  state.fit.refitted_count = 0;
  state.fit.recovered_count = 0;
}

void WriteClassificationSummary(ProgramState& state) {
  for (const std::string& line : ClassificationSummary(state.data_set.input_class, state.fit)) {
    state.files.log.Line(line);
  }
  state.files.log.Flush();
}

std::string ReflectionLabel(const ScanReflection& scan) {
  std::string label = " REFLECTION " + fields::FormatInt(scan.seq_no, 6) + "  HKL";
  for (int v : scan.hkl) label += fields::FormatInt(v, 4);
  return label;
}

void LogUnreadReflection(ProgramState& state, std::string_view consequence) {
  state.files.log.Line(ReflectionLabel(state.scan) + "  NOT READ IN FULL: " + std::string(consequence));
  state.files.log.Flush();
}

}  // namespace kalvex
