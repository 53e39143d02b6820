// "End of Run": what a pass over the data file came to, shown when it ends.
#pragma once

#include "state/widgets.h"

namespace kalvex {

void BuildRunEndDialog(Widgets& w);

}  // namespace kalvex
