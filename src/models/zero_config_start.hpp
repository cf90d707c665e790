// Where a zero-configuration fit starts: the bundled network matching the
// circuit, a network for part of it with the other members estimated from
// the spectrum, or, when no network is part of the circuit, a start scaled
// from the spectrum alone.
#pragma once

#include <expected>
#include <span>
#include <string>

#include "circuit/tree.hpp"
#include "models/registry.hpp"

namespace vorlane {

// True when a bundled network matches the circuit or part of it.
bool network_contributes(const SeriesList& user);

// The network start: the matching network's guess, or for a circuit that
// contains a bundled topology plus extra series members, the network's
// values for its part (computed from the capacitive points when an extra
// member is an inductance) and the extras' values read off what the
// network's part leaves of the spectrum. The "No training data" message
// when no network is part of the circuit; the guess's messages otherwise.
std::expected<Guess, std::string> network_start(const SeriesList& user, std::span<const double> frequencies,
                                                std::span<const Complex> impedances);

}  // namespace vorlane
