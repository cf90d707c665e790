// The user-facing texts of the weight-file, network and feature errors.
#include "nn/nn_error.hpp"

#include "core/quoting.hpp"

namespace vorlane {

std::string NnError::message() const {
    switch (kind) {
        case Kind::Io: return "reading weights: " + text;
        case Kind::BadMagic: return "not an eisnn weight file (bad magic bytes)";
        case Kind::Truncated: return "weight file is truncated";
        case Kind::Missing: return "weight file is missing " + quote(text);
        case Kind::Unparsable: return "weight file has an unparsable value for " + quote(text);
        case Kind::UnknownEstimator:
            return "weight file was normalised with the " + quote(text) +
                   " scale estimator, which this build does not implement (supported: reactive_centroid)";
        case Kind::UnknownEncoding:
            return "weight file uses tensor encoding " + std::to_string(actual) + ", which this build does not know";
        case Kind::ShapeMismatch:
            return "tensor " + quote(text) + " has " + std::to_string(actual) + " elements, expected " +
                   std::to_string(expected);
        case Kind::TooFewPoints:
            return "need at least 2 frequency points to guess, got " + std::to_string(actual);
    }
    return "weight file error";
}

}  // namespace vorlane
