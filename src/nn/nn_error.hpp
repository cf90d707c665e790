// Errors of the weight-file reader, the network and its input features.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vorlane {

struct NnError {
    enum class Kind { Io, BadMagic, Truncated, Missing, Unparsable, UnknownEstimator, UnknownEncoding,
                      ShapeMismatch, TooFewPoints };
    Kind kind;
    std::string text;            // Io: system text; Missing/Unparsable/UnknownEstimator/ShapeMismatch: name
    std::uint64_t actual = 0;    // ShapeMismatch actual count, UnknownEncoding byte, TooFewPoints count
    std::uint64_t expected = 0;  // ShapeMismatch expected count

    std::string message() const;

    static NnError unparsable(std::string what) { return {Kind::Unparsable, std::move(what)}; }
    static NnError missing(std::string name) { return {Kind::Missing, std::move(name)}; }
    static NnError truncated() { return {Kind::Truncated, {}}; }
    static NnError shape_mismatch(std::string name, std::uint64_t actual, std::uint64_t expected) {
        return {Kind::ShapeMismatch, std::move(name), actual, expected};
    }
};

}  // namespace vorlane
