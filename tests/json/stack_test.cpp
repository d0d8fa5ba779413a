// The deepest nesting the reader admits parses, fails and is released on a thread with a 1 MB stack
// (the default reservation of Windows programs, and of the host threads that call the library).
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "json/json.h"
#include "json_test_support.h"

namespace tessora {
namespace {

constexpr std::size_t kStackSize = 1024 * 1024;

const std::function<void()>* gWork = nullptr;

#ifdef _WIN32
DWORD WINAPI ThreadMain(void*) {
  (*gWork)();
  return 0;
}
#else
void* ThreadMain(void*) {
  (*gWork)();
  return nullptr;
}
#endif

// Runs `work` on a new thread whose stack is kStackSize bytes; a stack overflow ends the test
// program.
void RunOnSmallStack(const std::function<void()>& work) {
  gWork = &work;
#ifdef _WIN32
  HANDLE thread = CreateThread(nullptr, kStackSize, ThreadMain, nullptr,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kStackSize);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, ThreadMain, nullptr), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#endif
}

TEST(JsonStack, TheDeepestNestingFitsASmallStack) {
  const std::size_t inner = kJsonMaxNesting - 1;
  std::u16string objects = u"{";
  for (std::size_t i = 0; i < inner; ++i)
    objects += u"\"a\":{";
  objects += std::u16string(inner + 1, u'}');
  const std::u16string arrays =
      u"{\"a\":" + std::u16string(inner, u'[') + std::u16string(inner, u']') + u"}";
  std::string outcomes[3];
  RunOnSmallStack([&] {
    outcomes[0] = json_test::ParseOutcome(objects).substr(0, 4);
    outcomes[1] = json_test::ParseOutcome(arrays).substr(0, 4);
    // A failure at the deepest level unwinds every level.
    outcomes[2] = json_test::ParseOutcome(objects.substr(0, 1 + 5 * inner) + u"]");
  });
  EXPECT_EQ(outcomes[0], "{a:{");
  EXPECT_EQ(outcomes[1], "{a:[");
  EXPECT_EQ(outcomes[2], "error: Unexpected end of input. (Line: 1 Col: 2557)");
}

}  // namespace
}  // namespace tessora
