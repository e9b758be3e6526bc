#pragma once
// A test seam, in test builds only: the source of the generator's random draws. It is
// random_upto; tests point it at their own function to dictate the draws.
#include <stdint.h>

#ifdef HM_TEST_SEAMS
extern int32_t (*terrain_draw)(int32_t max);
#endif
