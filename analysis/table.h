// The capability table as text: rows of a name and a value, "n/a" where the
// figure is undefined, numbers with a decimal point in any locale.
// Plain C++: no Qt, no panels.
#pragma once

#include <string>
#include <vector>

#include "analysis/spc.h"

struct AnaRow {
    std::string name, value;
};

// A number with the given decimals ("%.*f" with a point whatever the
// locale); "n/a" when not defined or not finite; large figures in %g form.
std::string AnaNumber(int defined, double value, int decimals);

// n, mean, sigma within, sigma overall, Cp, Cpk, Pp, Ppk, observed and
// expected ppm. unit: "px" or "mm"; decimals of mean and sigma.
std::vector<AnaRow> AnaCapabilityRows(const AnaCapability *c, const AnaLimits *lim,
                                      const char *unit, int decimals);
// The rows as aligned text lines, each ending in '\n'.
std::string AnaRowsText(const std::vector<AnaRow> &rows);
