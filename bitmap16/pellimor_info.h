// Who pellimor is, for its information table and its version resource. The
// resource compiler reads this file too, so it holds macros only.
#pragma once

#define PELLIMOR_COMPANY "Pellimor developers"
#define PELLIMOR_COPYRIGHT "Copyright (C) 2026 " PELLIMOR_COMPANY
#define PELLIMOR_DESCRIPTION "HiColor(64k Color) BMP to DIB filter ver0.01  " PELLIMOR_COPYRIGHT
