// Who tolvane is, for its information table and its version resource. The
// resource compiler reads this file too, so it holds macros only.
#pragma once

#define TOLVANE_COMPANY "Tolvane developers"
#define TOLVANE_COPYRIGHT "Copyright (C) 2026 " TOLVANE_COMPANY
#define TOLVANE_DESCRIPTION "Tolvane - FPK extract library ver0.01  " TOLVANE_COPYRIGHT
