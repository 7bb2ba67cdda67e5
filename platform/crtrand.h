#pragma once
// The process-wide pseudo-random generator shared by the screen saver, the
// settings program and the music engine.  It is the C runtime's classic
// linear congruential generator, reproduced exactly so that play lists and
// ripples come out the same for the same seed.
#include <cstdint>

namespace platform {

// state <- state * 214013 + 2531011 (mod 2^32); value = (state >> 16) & 0x7FFF.
int rand();
// Sets the state (srand).
void srand(uint32_t seed);
uint32_t randState();

// A choice among k candidates: trunc(k * rand() / 32768).  Draws one number.
int randomIndex(int k);

}  // namespace platform
