// Reading an "EISNN001" weight file from memory into a Guesser.
//
// Every length field is checked against the bytes that are left before
// anything is allocated, so a hostile file costs at most a few times its own
// size in memory.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/utf8.hpp"
#include "nn/guesser.hpp"
#include "nn/meta_values.hpp"

namespace vorlane {
namespace {

constexpr std::string_view MAGIC = "EISNN001";
constexpr std::size_t HEADER_SIZE = 12;  // magic and the metadata count

using Metadata = std::map<std::string, std::string, std::less<>>;

bool is_valid_utf8(std::string_view text) {
    // The decoder turns every malformed byte into U+FFFD, so only valid
    // text survives a round trip unchanged.
    std::string round_trip;
    round_trip.reserve(text.size());
    for (char32_t c : decode_utf8(text)) append_utf8(round_trip, c);
    return round_trip == text;
}

// IEEE 754 binary16, decoded exactly.
double decode_binary16(std::uint16_t bits) {
    const double sign = (bits & 0x8000) != 0 ? -1.0 : 1.0;
    const int exponent = (bits >> 10) & 0x1F;
    const int fraction = bits & 0x3FF;
    if (exponent == 0) return sign * std::ldexp(fraction, -24);
    if (exponent == 31) {
        return fraction == 0 ? sign * std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::quiet_NaN();
    }
    return sign * std::ldexp(1024 + fraction, exponent - 25);
}

std::uint32_t read_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

class Reader {
public:
    Reader(std::span<const std::uint8_t> bytes, std::size_t pos) : bytes_(bytes), pos_(pos) {}

    std::size_t remaining() const { return bytes_.size() - pos_; }

    std::expected<std::span<const std::uint8_t>, NnError> take(std::size_t size) {
        if (size > remaining()) return std::unexpected(NnError::truncated());
        const auto chunk = bytes_.subspan(pos_, size);
        pos_ += size;
        return chunk;
    }

    std::expected<std::uint8_t, NnError> u8() {
        const auto chunk = take(1);
        if (!chunk) return std::unexpected(chunk.error());
        return (*chunk)[0];
    }

    std::expected<std::uint32_t, NnError> u32() {
        const auto chunk = take(4);
        if (!chunk) return std::unexpected(chunk.error());
        return read_u32(chunk->data());
    }

    std::expected<std::string, NnError> string() {
        const auto length = u32();
        if (!length) return std::unexpected(length.error());
        const auto chunk = take(*length);
        if (!chunk) return std::unexpected(chunk.error());
        std::string text(reinterpret_cast<const char*>(chunk->data()), chunk->size());
        if (!is_valid_utf8(text)) return std::unexpected(NnError::truncated());
        return text;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_;
};

float read_binary32(const std::uint8_t* p) { return std::bit_cast<float>(read_u32(p)); }

// Product of the dimensions (at least one), or nothing when it exceeds
// `limit`: such a record cannot fit in the bytes that are left anyway.
std::optional<std::size_t> element_count(const std::vector<std::size_t>& shape, std::size_t limit) {
    for (std::size_t dim : shape) {
        if (dim == 0) return 1;
    }
    std::size_t count = 1;
    for (std::size_t dim : shape) {
        if (count > limit / dim) return std::nullopt;
        count *= dim;
    }
    return count;
}

std::expected<std::vector<double>, NnError> read_elements(Reader& reader, std::uint8_t encoding,
                                                          std::optional<std::size_t> count) {
    const std::size_t element_size = encoding == 0 ? 4 : encoding == 1 ? 2 : 1;
    const std::size_t header = encoding == 2 ? 4 : 0;
    if (!count || *count > (reader.remaining() - std::min(header, reader.remaining())) / element_size) {
        return std::unexpected(NnError::truncated());
    }
    const auto chunk = reader.take(header + *count * element_size);
    if (!chunk) return std::unexpected(chunk.error());
    const std::uint8_t* p = chunk->data();
    std::vector<double> data(*count);
    switch (encoding) {
        case 0:
            for (std::size_t i = 0; i < data.size(); ++i) data[i] = read_binary32(p + 4 * i);
            break;
        case 1:
            for (std::size_t i = 0; i < data.size(); ++i) {
                data[i] = decode_binary16(static_cast<std::uint16_t>(p[2 * i] | p[2 * i + 1] << 8));
            }
            break;
        default: {
            const double scale = read_binary32(p);
            for (std::size_t i = 0; i < data.size(); ++i) data[i] = scale * static_cast<std::int8_t>(p[4 + i]);
        }
    }
    return data;
}

std::expected<std::pair<std::string, Tensor>, NnError> read_tensor(Reader& reader) {
    auto name = reader.string();
    if (!name) return std::unexpected(name.error());
    const auto encoding = reader.u8();
    if (!encoding) return std::unexpected(encoding.error());
    const auto ndim = reader.u8();
    if (!ndim) return std::unexpected(ndim.error());
    Tensor tensor;
    tensor.shape.reserve(*ndim);
    for (std::size_t i = 0; i < *ndim; ++i) {
        const auto dim = reader.u32();
        if (!dim) return std::unexpected(dim.error());
        tensor.shape.push_back(*dim);
    }
    const auto count = element_count(tensor.shape, reader.remaining());
    if (*encoding > 2) return std::unexpected(NnError{NnError::Kind::UnknownEncoding, {}, *encoding});
    auto data = read_elements(reader, *encoding, count);
    if (!data) return std::unexpected(data.error());
    tensor.data = std::move(*data);
    return std::pair{std::move(*name), std::move(tensor)};
}

std::expected<std::string, NnError> meta(const Metadata& metadata, std::string_view key) {
    const auto it = metadata.find(key);
    if (it == metadata.end()) return std::unexpected(NnError::missing(std::string(key)));
    return it->second;
}

template <typename Parser>
auto parse_meta(const Metadata& metadata, std::string_view key, Parser parser)
    -> std::expected<typename std::invoke_result_t<Parser, std::string_view>::value_type, NnError> {
    const auto text = meta(metadata, key);
    if (!text) return std::unexpected(text.error());
    const auto value = parser(*text);
    if (!value) return std::unexpected(NnError::unparsable(std::string(key)));
    return *value;
}

std::expected<std::vector<double>, NnError> tensor_data(const std::map<std::string, Tensor>& tensors,
                                                        const std::string& name) {
    const auto it = tensors.find(name);
    if (it == tensors.end()) return std::unexpected(NnError::missing(name));
    return it->second.data;
}

// Round half away from zero, saturating at the int32 range; NaN gives 0.
std::int32_t coupled_index(double value) {
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    if (rounded <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    if (rounded >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(rounded);
}

std::vector<Scaling> scaling_rows(const std::vector<double>& values) {
    std::vector<Scaling> rows(values.size() / 4);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = Scaling{values[4 * i], values[4 * i + 1], values[4 * i + 2], coupled_index(values[4 * i + 3])};
    }
    return rows;
}

std::vector<std::string> split_names(const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return names;
        start = comma + 1;
    }
}

std::expected<void, NnError> read_records(Reader& reader, Metadata& metadata, std::map<std::string, Tensor>& tensors) {
    const auto n_meta = reader.u32();
    if (!n_meta) return std::unexpected(n_meta.error());
    for (std::uint32_t i = 0; i < *n_meta; ++i) {
        auto key = reader.string();
        if (!key) return std::unexpected(key.error());
        auto value = reader.string();
        if (!value) return std::unexpected(value.error());
        metadata.insert_or_assign(std::move(*key), std::move(*value));
    }
    const auto n_tensors = reader.u32();
    if (!n_tensors) return std::unexpected(n_tensors.error());
    for (std::uint32_t i = 0; i < *n_tensors; ++i) {
        auto record = read_tensor(reader);
        if (!record) return std::unexpected(record.error());
        tensors.insert_or_assign(std::move(record->first), std::move(record->second));
    }
    return {};
}

}  // namespace

std::expected<Guesser, NnError> Guesser::from_bytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < MAGIC.size()) return std::unexpected(NnError::truncated());
    if (std::memcmp(bytes.data(), MAGIC.data(), MAGIC.size()) != 0) {
        return std::unexpected(NnError{NnError::Kind::BadMagic, {}});
    }
    if (bytes.size() < HEADER_SIZE) return std::unexpected(NnError::truncated());
    Reader reader(bytes, MAGIC.size());
    Metadata metadata;
    Guesser g;
    if (auto read = read_records(reader, metadata, g.tensors); !read) return std::unexpected(read.error());

    auto target_mean = tensor_data(g.tensors, "target_mean");
    if (!target_mean) return std::unexpected(target_mean.error());
    auto target_std = tensor_data(g.tensors, "target_std");
    if (!target_std) return std::unexpected(target_std.error());
    const auto log_params = tensor_data(g.tensors, "log_params");
    if (!log_params) return std::unexpected(log_params.error());
    const auto scaling = tensor_data(g.tensors, "scaling");
    if (!scaling) return std::unexpected(scaling.error());
    if (scaling->size() != 4 * target_mean->size()) {
        return std::unexpected(NnError::shape_mismatch("scaling", scaling->size(), 4 * target_mean->size()));
    }
    g.target_mean = std::move(*target_mean);
    g.target_std = std::move(*target_std);
    for (double flag : *log_params) g.log_params.push_back(flag != 0.0);
    g.scaling = scaling_rows(*scaling);

    auto dilations = parse_meta(metadata, "dilations", parse_size_list);
    if (!dilations) return std::unexpected(dilations.error());
    g.dilations = std::move(*dilations);
    const auto estimator = meta(metadata, "estimator");
    if (!estimator) return std::unexpected(estimator.error());
    if (*estimator != "reactive_centroid") {
        return std::unexpected(NnError{NnError::Kind::UnknownEstimator, *estimator});
    }
    auto circuit = meta(metadata, "circuit");
    if (!circuit) return std::unexpected(circuit.error());
    g.circuit = std::move(*circuit);
    const auto names = meta(metadata, "param_names");
    if (!names) return std::unexpected(names.error());
    g.param_names = split_names(*names);

    for (auto [key, field] : {std::pair{"n_grid", &g.n_grid}, std::pair{"channels", &g.channels},
                              std::pair{"kernel", &g.kernel}, std::pair{"groups", &g.groups}}) {
        const auto value = parse_meta(metadata, key, parse_size);
        if (!value) return std::unexpected(value.error());
        *field = *value;
    }
    for (auto [key, field] : {std::pair{"alpha_min", &g.alpha_min}, std::pair{"alpha_max", &g.alpha_max}}) {
        const auto value = parse_meta(metadata, key, parse_float);
        if (!value) return std::unexpected(value.error());
        *field = *value;
    }
    return g;
}

std::expected<const Tensor*, NnError> Guesser::tensor(const std::string& name) const {
    const auto it = tensors.find(name);
    if (it == tensors.end()) return std::unexpected(NnError::missing(name));
    return &it->second;
}

}  // namespace vorlane
