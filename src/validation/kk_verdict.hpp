// The verdict on a fitted ladder's residuals: noise, structure, outliers.
#pragma once

#include <cstddef>
#include <vector>

namespace vorlane {

struct KkVerdict {
    double noise = 0.0;       // per cent of |Z|
    double systematic = 0.0;  // per cent of |Z|
    double threshold = 0.0;   // per cent of |Z|
    bool valid = false;
};

// Residuals (relative to |Z|) of every point, and the points in ascending
// order of frequency (see frequency_order).
struct KkResiduals {
    const std::vector<std::size_t>& by_frequency;
    const std::vector<double>& real;
    const std::vector<double>& imag;
    std::size_t size() const { return by_frequency.size(); }
};

// The indices of `frequencies` in ascending order of frequency; equal ones
// keep their order.
std::vector<std::size_t> frequency_order(const std::vector<double>& frequencies);

// Points whose residual (the modulus of both parts) exceeds five times the
// typical one (the median over all points, or over its fifteen nearest in
// frequency where that is larger: medians, so that outliers do not raise
// them) and 0.5 % of |Z|; at most the largest
// quarter of the points. NaN residuals are never outliers.
std::vector<bool> find_outliers(const KkResiduals& residuals);

// Over the points that are not outliers, in frequency order: the residuals
// of white noise differ from their neighbours as much as from zero, while a
// structure that the ladder cannot follow (drift, a non-causal distortion)
// is smooth along frequency. `systematic` is the root of what the mean
// square exceeds half the mean square difference of neighbours; it must not
// exceed a threshold of three standard deviations of that excess for noise
// alone, nor 0.2 % of |Z| (structure within a good instrument's accuracy
// is not judged). `noise` is the residuals' standard deviation from the
// differences of neighbours, corrected for the `parameters` fitted. Valid
// also needs finite residuals and at most one outlier in ten points.
KkVerdict judge(const KkResiduals& residuals, const std::vector<bool>& outliers, std::size_t parameters);

}  // namespace vorlane
