// The endpoint file as the library reads it, for the tool's own messages and `tessora doctor`:
// whether it opens and parses (with the library's catalogue code, so the verdict is the one a call
// meets), its encoding, each operation with its route, method and placeholders; and what route
// parameters do to a route.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessora::cli {

struct EndpointOperation {
  std::string name;
  std::string route;   // as the file gives it
  std::string method;  // as the file gives it
  bool methodValid = false;
  std::vector<std::string> placeholders;  // ":id", in route order
};

struct EndpointReport {
  enum class Outcome {
    kNotGiven,    // no file name
    kCannotOpen,  // the library cannot open the file
    kInvalid,     // opened, but the library refuses its content
    kLoaded,      // the library loads it
  };
  Outcome outcome = Outcome::kNotGiven;
  // The library's message (ANSI code page) when it cannot open or refuses the file; its own texts,
  // such as "Cannot open file ..." or "Unexpected end of input. (Line: 2 Col: 2)".
  std::string message;
  std::string encoding;  // how the library decodes the bytes
  // Set when the bytes look like UTF-16 without a byte-order mark (zero bytes in the text).
  bool looksLikeUtf16WithoutMark = false;
  // Readable as JSON with "ENDPOINTS": every operation, in file order (also when a method is
  // invalid, so that the report can say which).
  std::vector<EndpointOperation> operations;
  // Operations named more than once (ASCII letter case ignored): the names of the earlier ones,
  // which the last one replaces.
  std::vector<std::string> namedTwice;
  // The members of its "SETTINGS" object as the library's catalogue reads them (when it loads).
  std::vector<std::pair<std::u16string, std::u16string>> settings;
};

// Checks the endpoint file `path` (ANSI code page, relative to the current directory).
EndpointReport CheckEndpointFile(const std::string& path);

// The placeholders of a route: ":" followed by letters, digits and "_", in order.
std::vector<std::string> Placeholders(std::string_view route);

// What route parameters (name=value entries) do to a route, templated by the library's own code.
struct RouteCheck {
  std::string route;                  // with the parameters filled in
  std::vector<std::string> leftOver;  // placeholders still in it
  std::vector<std::string> unused;    // entries (name=value) whose ":name" the route lacks
  bool tooLong =
      false;  // the filled route passed UrlResolver::kMaxResolvedUrl: the call is refused
};
RouteCheck CheckRoute(const std::string& route, const std::vector<std::string>& parameters);

}  // namespace tessora::cli
