// A circuit tree written back in the circuit-string grammar.
#pragma once

#include <string>

#include "circuit/tree.hpp"

namespace vorlane {

// "R0-(R1-W1,CPE1)": series members joined by "-", parallel nodes as
// "(branch,branch)", each leaf under its label (the automatic label of
// param_names() when it has none). A circuit parsed from a string gives that
// string back (with "p(" written "("); a composed one gives a string that
// parses to the same topology and parameter names, unless it has a parallel
// node without branches, an empty branch or two leaves with one label, which
// no circuit string can express.
std::string circuit_string(const SeriesList& nodes);

}  // namespace vorlane
