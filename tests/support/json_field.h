#pragma once
// Reading a member of a JSON value that a test checks. nlohmann's const operator[] on a
// missing key is undefined behaviour (a crash in a release build): a member the code under
// test left out must be a test failure instead.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string_view>

namespace test_support {

// The member `key` of `object`. When `object` is not an object or has no such member, a
// test failure and a discarded value, which equals nothing, not even null, and so fails
// every check made on it.
inline nlohmann::json field(const nlohmann::json& object, std::string_view key)
{
    if (!object.is_object()) {
        ADD_FAILURE() << "no member \"" << key << "\" in a value that is not an object: " << object.dump();
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    const auto it = object.find(key);
    if (it == object.end()) {
        ADD_FAILURE() << "no member \"" << key << "\" in " << object.dump();
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return *it;
}

} // namespace test_support
