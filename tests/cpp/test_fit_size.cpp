#include <gtest/gtest.h>

#include <string>

#include "circuit/parser.hpp"
#include "fit/fit_size.hpp"

namespace vorlane {
namespace {

TEST(FitSize, AHundredThousandParametersAreRefusedBeforeAnyWork) {
    std::string circuit = "R0";
    for (int i = 1; i < 100000; ++i) circuit += "-R" + std::to_string(i);
    FitOptions options;
    options.nodes = *parse(circuit);
    options.frequencies.assign(60, 1.0);
    options.impedances.assign(60, Complex{1.0, 0.0});
    const FitResultOr result = run_fit(options);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, FitError::Kind::TooLarge);
    EXPECT_EQ(result.error().message().rfind("fit needs about 320.2 GB of working memory for 100000 parameters and "
                                             "60 points (the Jacobian, J^T J and its inverse",
                                             0),
              0u)
        << result.error().message();
}

TEST(FitSize, TheSwarmCountsPerParticleAndUsualFitsStayFarBelowTheLimit) {
    FitOptions options;
    const double least_squares = fit_working_bytes(1000, 20, options);
    options.method = "particle_swarm";
    options.num_particles = 1000;
    EXPECT_EQ(fit_working_bytes(1000, 20, options) - least_squares, 5.0 * 1000 * 20 * sizeof(double));
    EXPECT_LT(least_squares * 1000, static_cast<double>(fit_memory_limit()));
    EXPECT_LE(fit_memory_limit(), 16'000'000'000u);
}

}  // namespace
}  // namespace vorlane
