// The library failure an action raises, for tests that check a failure's message, kind and code.
#pragma once

#include <gtest/gtest.h>

#include "base/error.h"

namespace tessora::test {

// Runs `action` and returns the library failure it raised; a test failure when none came.
template <class Action>
Error FailureOf(Action&& action) {
  try {
    action();
  } catch (const Error& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure raised";
  return Error(ErrorKind::kPlain, u"(none)");
}

}  // namespace tessora::test
