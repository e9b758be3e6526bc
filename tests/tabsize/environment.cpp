#include "runtime/core/object_table.h"
#include "runtime/window/window.h"
#include <gtest/gtest.h>

namespace {
// The window library's start-up makes the sizing block; without it the tests make one.
class SizingStateEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        if (!window_lib.sizing_state)
            window_lib.sizing_state = static_cast<SizingState *>(
                state_block_alloc(sizeof(SizingState), nullptr, nullptr));
        ASSERT_NE(window_lib.sizing_state, nullptr);
    }
};
testing::Environment *const sizing_environment =
    testing::AddGlobalTestEnvironment(new SizingStateEnvironment);
} // namespace
