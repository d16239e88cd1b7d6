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

// n, the limits, mean, sigma within, sigma overall, the indexes and the
// observed and expected ppm. Both limits: Cp, Cpk, Pp, Ppk and ppm outside;
// an LSL only: Cpl, Ppl and ppm below it; a USL only: Cpu, Ppu and ppm above
// it. unit: "px" or "mm"; decimals of the limits (mean and sigma get two more).
std::vector<AnaRow> AnaCapabilityRows(const AnaCapability *c, const AnaLimits *lim,
                                      const char *unit, int decimals);
// One line when the resolution is too coarse for the spread (see
// AnaResolutionOf), "" otherwise.
std::string AnaResolutionNote(const AnaSummary *s, const AnaResolution *r, double resolution,
                              const char *unit, int decimals);
// The rows as aligned text lines, each ending in '\n'.
std::string AnaRowsText(const std::vector<AnaRow> &rows);
