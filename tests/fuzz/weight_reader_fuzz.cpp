// libFuzzer target: any byte string as a weight file. Reading ends in a
// network or an error; a network whose structure checks out runs its
// forward pass on a small fixed spectrum.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/complex.hpp"
#include "nn/guesser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlane;
    const auto guesser = Guesser::from_bytes(std::span(data, size));
    if (!guesser || !guesser->validate_structure()) return 0;
    std::vector<double> frequencies;
    std::vector<Complex> impedances;
    for (int i = 0; i < 20; ++i) {
        const double f = std::pow(10.0, -1.0 + 0.3 * i);
        const double wc = 2e-3 * f;
        frequencies.push_back(f);
        impedances.push_back({10.0 + 100.0 / (1.0 + wc * wc), -100.0 * wc / (1.0 + wc * wc)});
    }
    const Features features = guesser->features(frequencies, impedances, 1.0, 100.0);
    (void)guesser->predict(features, 100.0, 1.0);
    return 0;
}
