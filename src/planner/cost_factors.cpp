#include "planner/cost_factors.hpp"

#include <cmath>
#include <mutex>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "core/error.hpp"

namespace vardelin {

const char* const kBundledCostProfile = R"({
  "cost_factors": {
    "knn_scan_ns_per_item": 5.348615,
    "bbox_scan_ns_per_item": 2.788259,
    "grid_build_ns_per_item": 8.375634,
    "kdtree_build_ns_per_item": 5.516744,
    "grid_range_ns": 23.314552,
    "kdtree_range_ns": 4.102839,
    "kdtree_knn_ns": 45.667072,
    "rtree_build_ns_per_item": 5.021936,
    "rtree_range_ns": 8.231254,
    "rtree_knn_ns": 160.298859
  }
}
)";

namespace {

constexpr const char* kValuesMessage = "cost profile values must be finite and greater than zero";

// The planner divides by and multiplies with these; zero, negative or non-finite factors would
// make every comparison meaningless.
bool valid_factor(double v) noexcept { return std::isfinite(v) && v > 0.0; }

std::optional<std::string> check_values(const CostFactors& f) {
    CostFactors copy = f;
    for (std::size_t i = 0; i < CostFactors::kCount; ++i) {
        if (!valid_factor(copy[i])) return std::string(kValuesMessage);
    }
    return std::nullopt;
}

std::string describe(const nlohmann::json& v) {
    switch (v.type()) {
        case nlohmann::json::value_t::null: return "null";
        case nlohmann::json::value_t::boolean: return std::string("boolean `") + (v.get<bool>() ? "true" : "false") + "`";
        case nlohmann::json::value_t::string: return "string " + v.dump();
        case nlohmann::json::value_t::array: return "sequence";
        case nlohmann::json::value_t::object: return "map";
        default: return "number " + v.dump();
    }
}

}  // namespace

double& CostFactors::operator[](std::size_t i) noexcept {
    double* fields[kCount] = {&knn_scan_ns_per_item, &bbox_scan_ns_per_item, &grid_build_ns_per_item,
                              &kdtree_build_ns_per_item, &rtree_build_ns_per_item, &kdtree_knn_ns,
                              &kdtree_range_ns, &rtree_knn_ns, &rtree_range_ns, &grid_range_ns};
    return *fields[i];
}

std::variant<CostFactors, std::string> parse_cost_profile(std::string_view text) {
    using json = nlohmann::json;
    // Repeated names are an error for "cost_factors" and the ten fields, as in a strict
    // deserialiser; the DOM parser alone would silently keep the last one.
    std::string duplicate;
    std::string top_key;
    std::set<std::string> top_seen, field_seen;
    auto callback = [&](int depth, json::parse_event_t event, json& parsed) -> bool {
        if (event == json::parse_event_t::key) {
            const auto key = parsed.get<std::string>();
            if (depth == 1) {
                top_key = key;
                if (key == "cost_factors" && !top_seen.insert(key).second && duplicate.empty()) duplicate = key;
            } else if (depth == 2 && top_key == "cost_factors") {
                bool is_field = false;
                for (auto n : CostFactors::kNames) is_field = is_field || n == key;
                if (is_field && !field_seen.insert(key).second && duplicate.empty()) duplicate = key;
            }
        }
        return true;
    };
    json doc;
    try {
        doc = json::parse(text.begin(), text.end(), callback);
    } catch (const json::exception& e) {
        std::string what = e.what();
        if (what.find("unexpected") != std::string::npos && what.find("expected end of input") != std::string::npos) {
            return std::string("invalid cost profile: trailing characters (") + what + ")";
        }
        return "invalid cost profile: " + what;
    }
    const std::string prefix = "invalid cost profile: ";
    if (!duplicate.empty()) return prefix + "duplicate field `" + duplicate + "`";
    if (!doc.is_object()) return prefix + "invalid type: " + describe(doc) + ", expected struct CostProfile";
    auto it = doc.find("cost_factors");
    if (it == doc.end()) return prefix + "missing field `cost_factors`";
    const json& value = *it;
    CostFactors f;
    if (value.is_object()) {
        for (std::size_t i = 0; i < CostFactors::kCount; ++i) {
            const std::string field(CostFactors::kNames[i]);
            auto fit = value.find(field);
            if (fit == value.end()) return prefix + "missing field `" + field + "`";
            if (!fit->is_number()) return prefix + "invalid type: " + describe(*fit) + ", expected f64";
            f[i] = fit->get<double>();
        }
    } else if (value.is_array()) {
        if (value.size() < CostFactors::kCount) {
            return prefix + "invalid length " + std::to_string(value.size()) +
                   ", expected struct CostFactors with 10 elements";
        }
        if (value.size() > CostFactors::kCount) return prefix + "trailing characters";
        for (std::size_t i = 0; i < CostFactors::kCount; ++i) {
            if (!value[i].is_number()) return prefix + "invalid type: " + describe(value[i]) + ", expected f64";
            f[i] = value[i].get<double>();
        }
    } else {
        return prefix + "invalid type: " + describe(value) + ", expected struct CostFactors";
    }
    if (auto msg = check_values(f)) return *msg;
    return f;
}

CostFactors CostFactors::defaults() {
    // Parsed once per process; concurrent first callers wait for the one parse.
    static const CostFactors parsed = [] {
        auto result = parse_cost_profile(kBundledCostProfile);
        if (auto* msg = std::get_if<std::string>(&result)) {
            throw InternalError("bundled cost profile must be valid: " + *msg);
        }
        return std::get<CostFactors>(result);
    }();
    return parsed;
}

CostFactors CostFactors::from_values(std::span<const double> values) {
    if (values.size() != kCount) {
        throw Error("cost profile must contain 10 values, got " + std::to_string(values.size()));
    }
    CostFactors f;
    for (std::size_t i = 0; i < kCount; ++i) f[i] = values[i];
    if (auto msg = check_values(f)) throw Error(*msg);
    return f;
}

}  // namespace vardelin
