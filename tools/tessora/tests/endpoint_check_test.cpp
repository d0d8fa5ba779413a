// The tool's reading of routes: placeholders, and what route parameters leave or do not use.
#include "endpoint_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"

namespace tessora::cli {
namespace {

using Lines = std::vector<std::string>;

class EndpointCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InitAnsiCodePage(); }
};

TEST_F(EndpointCheckTest, Placeholders) {
  EXPECT_EQ(Placeholders("/v1/charges/:id/links/:link_2"), (Lines{":id", ":link_2"}));
  EXPECT_EQ(Placeholders("/v1/charges"), Lines{});
  EXPECT_EQ(Placeholders("/a/:/b:"), Lines{});
}

TEST_F(EndpointCheckTest, FilledRouteHasNothingLeft) {
  const RouteCheck check = CheckRoute("/v1/charges/:id", {"id=ch_1"});
  EXPECT_EQ(check.route, "/v1/charges/ch_1");
  EXPECT_TRUE(check.leftOver.empty());
  EXPECT_TRUE(check.unused.empty());
}

TEST_F(EndpointCheckTest, MissingParameterLeavesThePlaceholder) {
  const RouteCheck check = CheckRoute("/v1/charges/:id/cancel", {});
  EXPECT_EQ(check.leftOver, Lines{":id"});
}

TEST_F(EndpointCheckTest, ParameterTheRouteLacksIsUnused) {
  const RouteCheck check = CheckRoute("/v1/charges/:id", {"ID=7", "limit=2", "id=8"});
  EXPECT_EQ(check.route, "/v1/charges/7");  // letter case ignored, as the library does
  EXPECT_EQ(check.unused, (Lines{"limit=2", "id=8"}));
}

TEST_F(EndpointCheckTest, RepeatedPlaceholderTakesTheFirstValueTwice) {
  const RouteCheck check = CheckRoute("/a/:id/b/:id", {"id=1", "id=2"});
  EXPECT_EQ(check.route, "/a/1/b/1");
  EXPECT_TRUE(check.unused.empty());
}

// A value that holds its own placeholder grows the route with every later entry of its name; past
// the library's bound the call is refused, and the later entries are not called unused.
TEST_F(EndpointCheckTest, ARouteThatGrowsPastTheBoundIsSaidToBeTooLong) {
  Lines parameters = {"id=" + std::string(40000, 'x') + ":id"};
  for (int i = 0; i < 3; ++i)
    parameters.push_back("id");
  const RouteCheck check = CheckRoute("/v1/charges/:id", parameters);
  EXPECT_TRUE(check.tooLong);
  EXPECT_TRUE(check.unused.empty());
  EXPECT_FALSE(CheckRoute("/v1/charges/:id", {"id=" + std::string(40000, 'x')}).tooLong);
}

TEST_F(EndpointCheckTest, NoFileNameIsNotGiven) {
  EXPECT_EQ(CheckEndpointFile("").outcome, EndpointReport::Outcome::kNotGiven);
}

}  // namespace
}  // namespace tessora::cli
