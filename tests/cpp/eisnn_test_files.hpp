// Inputs of the guess tests: "EISNN001" byte buffers, small networks and
// spectra.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/complex.hpp"

namespace eisnn_test {

inline void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void put_string(std::vector<std::uint8_t>& out, const std::string& s) {
    put_u32(out, static_cast<std::uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

inline void put_f32(std::vector<std::uint8_t>& out, float f) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    put_u32(out, bits);
}

struct Record {
    std::string name;
    std::uint8_t encoding = 0;
    std::vector<std::uint32_t> shape;
    std::vector<std::uint8_t> data;  // already encoded
};

// Values that binary32 holds exactly, so tests can compare in double.
inline Record f32_record(std::string name, std::vector<std::uint32_t> shape, const std::vector<double>& values) {
    Record r{std::move(name), 0, std::move(shape), {}};
    for (double v : values) put_f32(r.data, static_cast<float>(v));
    return r;
}

class FileBuilder {
public:
    FileBuilder& meta(const std::string& key, const std::string& value) {
        for (auto& pair : meta_) {
            if (pair.first == key) {
                pair.second = value;
                return *this;
            }
        }
        meta_.emplace_back(key, value);
        return *this;
    }
    // Adds a pair even when the key is already present.
    FileBuilder& append_meta(const std::string& key, const std::string& value) {
        meta_.emplace_back(key, value);
        return *this;
    }
    FileBuilder& drop_meta(const std::string& key) {
        std::erase_if(meta_, [&](const auto& pair) { return pair.first == key; });
        return *this;
    }
    FileBuilder& record(Record r) {
        for (auto& existing : records_) {
            if (existing.name == r.name) {
                existing = std::move(r);
                return *this;
            }
        }
        records_.push_back(std::move(r));
        return *this;
    }
    // Adds a record even when the name is already present.
    FileBuilder& append(Record r) {
        records_.push_back(std::move(r));
        return *this;
    }
    FileBuilder& tensor(const std::string& name, std::vector<std::uint32_t> shape, const std::vector<double>& values) {
        return record(f32_record(name, std::move(shape), values));
    }
    FileBuilder& drop_tensor(const std::string& name) {
        std::erase_if(records_, [&](const Record& r) { return r.name == name; });
        return *this;
    }

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out = {'E', 'I', 'S', 'N', 'N', '0', '0', '1'};
        put_u32(out, static_cast<std::uint32_t>(meta_.size()));
        for (const auto& [key, value] : meta_) {
            put_string(out, key);
            put_string(out, value);
        }
        put_u32(out, static_cast<std::uint32_t>(records_.size()));
        for (const Record& r : records_) {
            put_string(out, r.name);
            out.push_back(r.encoding);
            out.push_back(static_cast<std::uint8_t>(r.shape.size()));
            for (std::uint32_t d : r.shape) put_u32(out, d);
            out.insert(out.end(), r.data.begin(), r.data.end());
        }
        return out;
    }

    void write(const std::filesystem::path& path) const {
        const auto b = bytes();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                    static_cast<std::streamsize>(b.size()));
    }

private:
    std::vector<std::pair<std::string, std::string>> meta_;
    std::vector<Record> records_;
};

// Deterministic values in [-scale, scale] on a grid of 1/256, exact in binary32.
inline std::vector<double> pseudo_random(std::size_t n, std::uint32_t seed, double scale) {
    std::vector<double> out(n);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (double& v : out) {
        state = state * 1664525u + 1013904223u;
        v = scale * (static_cast<double>(state >> 24) - 128.0) / 128.0;
    }
    return out;
}

struct NetworkSpec {
    std::string circuit = "R0-(R1,C1)";
    std::string param_names = "R0.r,R1.r,C1.c";
    std::size_t params = 3;
    std::uint32_t channels = 4;
    std::uint32_t n_grid = 8;
    std::uint32_t kernel = 3;
    std::uint32_t groups = 2;
    std::vector<std::uint32_t> dilations = {1, 2};
    std::uint32_t hidden = 6;
    std::vector<double> log_params;  // default: all 1
    std::vector<double> scaling;     // default: resistance-like rows
    double weight_scale = 0.25;      // 0 gives a network whose output is head.4's bias
};

// A complete network for `net`, weights drawn from `seed`.
inline FileBuilder network_file(const NetworkSpec& net, std::uint32_t seed = 1) {
    FileBuilder b;
    std::string dilations;
    for (std::size_t i = 0; i < net.dilations.size(); ++i) {
        if (i > 0) dilations += ',';
        dilations += std::to_string(net.dilations[i]);
    }
    b.meta("circuit", net.circuit)
        .meta("param_names", net.param_names)
        .meta("estimator", "reactive_centroid")
        .meta("n_grid", std::to_string(net.n_grid))
        .meta("channels", std::to_string(net.channels))
        .meta("kernel", std::to_string(net.kernel))
        .meta("groups", std::to_string(net.groups))
        .meta("dilations", dilations)
        .meta("alpha_min", "0.05")
        .meta("alpha_max", "1.0");
    const std::uint32_t c = net.channels;
    const std::uint32_t k = net.kernel;
    const std::uint32_t h = net.hidden;
    const auto p = static_cast<std::uint32_t>(net.params);
    const double ws = net.weight_scale;
    auto add = [&](const std::string& layer, std::vector<std::uint32_t> w_shape, std::uint32_t out) {
        std::size_t n = 1;
        for (auto d : w_shape) n *= d;
        b.tensor("w." + layer + ".weight", w_shape, pseudo_random(n, seed++, ws));
        b.tensor("w." + layer + ".bias", {out}, pseudo_random(out, seed++, ws));
    };
    add("stem", {c, 3, k}, c);
    for (std::size_t i = 0; i < net.dilations.size(); ++i) {
        const std::string block = "blocks." + std::to_string(i) + ".";
        add(block + "conv1", {c, c, k}, c);
        b.tensor("w." + block + "norm1.weight", {c}, std::vector<double>(c, 1.0));
        b.tensor("w." + block + "norm1.bias", {c}, pseudo_random(c, seed++, 0.5));
        add(block + "conv2", {c, c, k}, c);
        b.tensor("w." + block + "norm2.weight", {c}, pseudo_random(c, seed++, 1.0));
        b.tensor("w." + block + "norm2.bias", {c}, std::vector<double>(c, 0.0));
    }
    add("head.0", {h, 2 * c + 2}, h);
    add("head.2", {h, h}, h);
    add("head.4", {2 * p, h}, 2 * p);
    b.tensor("target_mean", {p}, pseudo_random(p, seed++, 1.0));
    b.tensor("target_std", {p}, std::vector<double>(p, 0.5));
    std::vector<double> scaling = net.scaling;
    if (scaling.empty()) {
        for (std::uint32_t i = 0; i < p; ++i) scaling.insert(scaling.end(), {1.0, 0.0, 0.0, -1.0});
    }
    b.tensor("scaling", {p, 4}, scaling);
    b.tensor("log_params", {p}, net.log_params.empty() ? std::vector<double>(p, 1.0) : net.log_params);
    return b;
}

struct Spectrum {
    std::vector<double> f;
    std::vector<vorlane::Complex> z;
};

// R0-(R1,C1) with R0 = 10, R1 = 100, C1 = 1e-4 at n log-spaced frequencies
// from 1e-2 to 1e5 Hz.
inline Spectrum rc_spectrum(std::size_t n) {
    using vorlane::Complex;
    Spectrum s;
    for (std::size_t i = 0; i < n; ++i) {
        const double step = n > 1 ? static_cast<double>(i) / static_cast<double>(n - 1) : 0.0;
        const double f = std::pow(10.0, -2.0 + 7.0 * step);
        const Complex jwrc{0.0, 6.283185307179586 * f * 100.0 * 1e-4};
        s.f.push_back(f);
        s.z.push_back(Complex{10.0, 0.0} + Complex{100.0, 0.0} / (Complex{1.0, 0.0} + jwrc));
    }
    return s;
}

}  // namespace eisnn_test
