#pragma once
// The source of the generator's random draws. It is random_upto; tests point it at their
// own function to dictate the draws.
#include <stdint.h>

extern int32_t (*terrain_draw)(int32_t max);
