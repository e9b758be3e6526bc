#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include <gtest/gtest.h>

// The libraries start once per process, before the first test.
class ImageEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        drawing_init();
        image_lib_init();
    }
};

static testing::Environment *const image_environment =
    testing::AddGlobalTestEnvironment(new ImageEnvironment);
