// A record type's fields listed once, with nlohmann's own field-list
// macros; both directions come from the list. Writing puts every field under
// its own name and leaves out an empty std::optional. Reading never throws:
// a field missing or of the wrong shape keeps its default, a text field
// takes any other value as its JSON text, so a damaged or older file reads
// as far as it goes.
#pragma once

#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace record::fields {

template <typename T>
void put(nlohmann::json& j, const char* key, const T& value) {
    j[key] = value;
}
template <typename T>
void put(nlohmann::json& j, const char* key, const std::optional<T>& value) {
    if (value) j[key] = *value;
}

// Each returns whether the value had the field's own shape; an optional
// field is set only then.
inline bool take_value(const nlohmann::json& j, nlohmann::json& out) {
    out = j;
    return true;
}
inline bool take_value(const nlohmann::json& j, std::string& out) {
    out = j.is_string() ? j.get<std::string>() : j.is_null() ? "" : j.dump();
    return j.is_string();
}
inline bool take_value(const nlohmann::json& j, bool& out) {
    if (j.is_boolean()) out = j.get<bool>();
    return j.is_boolean();
}
template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
bool take_value(const nlohmann::json& j, T& out) {
    const bool fits = (j.is_number_unsigned() &&
                       j.get<std::uint64_t>() <= std::uint64_t(std::numeric_limits<T>::max())) ||
                      (j.is_number_integer() && !j.is_number_unsigned() &&
                       j.get<std::int64_t>() >= std::int64_t(std::numeric_limits<T>::min()) &&
                       j.get<std::int64_t>() <= std::int64_t(std::numeric_limits<T>::max()));
    if (fits) out = j.is_number_unsigned() ? T(j.get<std::uint64_t>()) : T(j.get<std::int64_t>());
    return fits;
}
inline bool take_value(const nlohmann::json& j, double& out) {
    if (j.is_number()) out = j.get<double>();
    return j.is_number();
}
// Only text values are kept: a switch set to the number 0 is not the text "0".
inline bool take_value(const nlohmann::json& j, std::map<std::string, std::string>& out) {
    if (!j.is_object()) return false;
    for (const auto& [key, value] : j.items())
        if (value.is_string()) out[key] = value.get<std::string>();
    return true;
}
template <typename T>
bool take_value(const nlohmann::json& j, std::vector<T>& out);
template <typename T>
bool take_value(const nlohmann::json& j, std::optional<T>& out) {
    T value{};
    if (!take_value(j, value)) return false;
    out = std::move(value);
    return true;
}
template <typename T>
bool take_value(const nlohmann::json& j, std::vector<T>& out) {
    if (!j.is_array()) return false;
    for (const auto& item : j) take_value(item, out.emplace_back());
    return true;
}

template <typename T>
void take(const nlohmann::json& j, const char* key, T& out) {
    const auto it = j.find(key);
    if (it != j.end()) take_value(*it, out);
}

}  // namespace record::fields

#define SUITE_RECORD_PUT(field) record::fields::put(nlohmann_json_j, #field, nlohmann_json_t.field);
#define SUITE_RECORD_TAKE(field) record::fields::take(nlohmann_json_j, #field, nlohmann_json_t.field);

// put_fields/take_fields for Type's listed fields, for a record that adds
// fields of other names (or a base's) by hand.
#define SUITE_RECORD_FIELDS(Type, ...)                                                           \
    inline void put_fields(nlohmann::json& nlohmann_json_j, const Type& nlohmann_json_t) {        \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(SUITE_RECORD_PUT, __VA_ARGS__))                  \
    }                                                                                             \
    inline void take_fields(const nlohmann::json& nlohmann_json_j, Type& nlohmann_json_t) {       \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(SUITE_RECORD_TAKE, __VA_ARGS__))                 \
    }

// A JSON object of exactly the listed fields, both ways.
#define SUITE_RECORD(Type, ...)                                                                   \
    SUITE_RECORD_FIELDS(Type, __VA_ARGS__)                                                        \
    inline void to_json(nlohmann::json& j, const Type& t) {                                       \
        j = nlohmann::json::object();                                                             \
        put_fields(j, t);                                                                         \
    }                                                                                             \
    inline bool take_value(const nlohmann::json& j, Type& t) {                                    \
        if (j.is_object()) take_fields(j, t);                                                     \
        return j.is_object();                                                                     \
    }
