// Formats whose writers are not in this build yet refuse plainly.
#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
bool WriteCad4(const DataSet&, const std::filesystem::path&, std::string& error) { error = "CAD4 writer not available"; return false; }
bool WriteSingle(const DataSet&, const std::filesystem::path&, std::string& error) { error = "Single writer not available"; return false; }
bool WriteXscans(const DataSet&, const std::filesystem::path&, std::string& error) { error = "Xscans writer not available"; return false; }
}  // namespace kalvex::simulate
