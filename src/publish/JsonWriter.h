#pragma once
// A compact JSON writer for Boost.JSON values.
//
// Output: no white space; "/" written as "\/"; '"' and '\' escaped; control
// characters as \b \f \n \r \t or \u00XX; every other character as its UTF-8
// bytes. Integers in decimal; doubles in their shortest form that reads back
// to the same value (2725.16, 12, 1e+300). Member order is the object's.
//
// The writer keeps its own stack, so arbitrarily deep values never recurse
// on the caller's stack. A non-finite double cannot be written as JSON and
// throws `JsonWriteError`; nothing else fails.
//
// Pure functions; any thread.

#include <boost/json/value.hpp>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillory::publish {

class JsonWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void appendJsonString(std::string& out, std::string_view text);
void appendJsonNumber(std::string& out, std::int64_t number);
void appendJsonNumber(std::string& out, std::uint64_t number);
void appendJsonNumber(std::string& out, double number);
void appendJson(std::string& out, const boost::json::value& value);

std::string toCompactJson(const boost::json::value& value);

}  // namespace quillory::publish
