// libFuzzer target: any byte string as a circuit text. A parse ends in a
// tree or an error message; a tree gives its layout, its expansion and
// finite work for its impedance.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "circuit/parser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto tree = parse(text);
    if (!tree) {
        (void)parse_error_message(tree.error(), text);
        return 0;
    }
    (void)param_names(*tree);
    (void)param_bounds(*tree);
    bool changed = false;
    (void)expand_series(*tree, changed);
    const std::vector<double> frequencies{1e-3, 1.0, 1e6};
    (void)spectrum_impedance(*tree, frequencies);
    return 0;
}
