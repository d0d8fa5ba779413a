// Helpers of the JSON reader's tests.
//
// DumpTree: a compact text form of a parsed tree, so that test rows can state whole trees in one
// line:
//   {name:value,...}  object; a member written without a value shows nothing after the colon
//   [value,...]       array
//   "text"            string; code units outside printable ASCII, " and \ as \uXXXX
//   12  -3            integer
//   float(1000)       float, in its shortest exact form
//   true false null   boolean and null
//   date(2024-03-05) datetime(2024-03-05T10:00:00.000) time(10:00:00.500)
// Member names are shown as strings are, without the quotes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "json/json.h"
#include "support/failure_of.h"

namespace tessora::json_test {

std::string DumpTree(const JsonObject& object);

// What parsing the text gives: the tree (as DumpTree shows it), or the failure as
// "error: <message>", "conversion error: <message>" or "cast error: <message>" (messages as UTF-8).
std::string ParseOutcome(std::u16string_view text);

using test::FailureOf;

}  // namespace tessora::json_test
