#include "runtime/gadget/gadget.h"
#include "runtime/window/window.h"
#include <gtest/gtest.h>

namespace {
// The libraries start once per process, in the program's order.
class RuntimeEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        window_lib_init();
        ASSERT_TRUE(gadget_lib_init());
        ASSERT_NE(window_lib.sizing_state, nullptr);
    }
};
testing::Environment *const runtime_environment =
    testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
} // namespace
