// State the library keeps for the whole process, put back before every test of a program that
// links the library's layers, so that no test depends on what an earlier one left behind (the
// test programs also run with --gtest_shuffle --gtest_repeat=2 in one process). Compiled into
// each such program with TESSORA_TEST_LAYER_RANK set to its layer's rank: 1 platform and json,
// 2 net, 3 catalogue, 4 http, 5 api; base has no such state.
#include <gtest/gtest.h>

#if TESSORA_TEST_LAYER_RANK >= 1
#include "base/fault_injection.h"
#include "platform/clock.h"
#endif
#if TESSORA_TEST_LAYER_RANK == 2 || TESSORA_TEST_LAYER_RANK >= 4
#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "net/tls_library.h"
#endif
#if TESSORA_TEST_LAYER_RANK == 3 || TESSORA_TEST_LAYER_RANK == 5
#include "catalogue/catalogue.h"
#endif
#if TESSORA_TEST_LAYER_RANK == 5
#include "api/settings.h"
#endif

namespace {

class ResetBetweenTests : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
#if TESSORA_TEST_LAYER_RANK >= 1
    tessora::platform::ClearFaults();
    tessora::platform::SetTestClock(nullptr);
#endif
#if TESSORA_TEST_LAYER_RANK == 2 || TESSORA_TEST_LAYER_RANK >= 4
    tessora::TlsChannel::SetSocketTimeoutForTesting(0);
    tessora::ForgetKeptSessionsForTesting();
    tessora::LeaveTlsLibraryAlone(false);
#endif
#if TESSORA_TEST_LAYER_RANK == 3 || TESSORA_TEST_LAYER_RANK == 5
    tessora::ResetConfigForTesting();
#endif
#if TESSORA_TEST_LAYER_RANK == 5
    tessora::ResetSettingsForTesting();
#endif
  }
};

// Installed before main runs; GoogleTest owns the listener from then on.
const bool kInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ResetBetweenTests);
  return true;
}();

}  // namespace
