// Layer II bit-allocation tables and quantisation classes.
#include "mpegaudio/tables.h"

namespace mpegaudio::tables {

// The tables keep the rows of the standard.
// clang-format off

// Classes by number of steps: 3, 5, 7, 9, 15, 31, ... 65535.
const Layer2Class kLayer2Class[kLayer2Classes] = {
    {3, 5, true},       {5, 7, true},       {7, 3, false},      {9, 10, true},
    {15, 4, false},     {31, 5, false},     {63, 6, false},     {127, 7, false},
    {255, 8, false},    {511, 9, false},    {1023, 10, false},  {2047, 11, false},
    {4095, 12, false},  {8191, 13, false},  {16383, 14, false}, {32767, 15, false},
    {65535, 16, false},
};

namespace {

// Class index lists (allocation value 1.. -> class), -1 terminated rows.
constexpr int8_t C3 = 0, C5 = 1, C7 = 2, C9 = 3, C15 = 4, C31 = 5, C63 = 6, C127 = 7, C255 = 8,
                 C511 = 9, C1023 = 10, C2047 = 11, C4095 = 12, C8191 = 13, C16383 = 14,
                 C32767 = 15, C65535 = 16, NO = -1;

// MPEG-1 tables a and b.
constexpr int8_t kAb0[16] = {NO,    C3,    C7,    C15,   C31,    C63,    C127,   C255,
                             C511,  C1023, C2047, C4095, C8191,  C16383, C32767, C65535};
constexpr int8_t kAb1[16] = {NO,   C3,   C5,    C7,    C9,    C15,   C31,   C63,
                             C127, C255, C511,  C1023, C2047, C4095, C8191, C65535};
constexpr int8_t kAb2[16] = {NO, C3, C5, C7, C9, C15, C31, C65535, NO, NO, NO, NO, NO, NO, NO, NO};
constexpr int8_t kAb3[16] = {NO, C3, C5, C65535, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO};
// MPEG-1 tables c and d.
constexpr int8_t kCd0[16] = {NO,   C3,   C5,    C9,    C15,   C31,   C63,    C127,
                             C255, C511, C1023, C2047, C4095, C8191, C16383, C32767};
constexpr int8_t kCd1[16] = {NO, C3, C5, C9, C15, C31, C63, C127, NO, NO, NO, NO, NO, NO, NO, NO};
// Lower sampling frequencies.
constexpr int8_t kLsf0[16] = {NO,   C3,   C5,   C7,    C9,    C15,   C31,   C63,
                              C127, C255, C511, C1023, C2047, C4095, C8191, C16383};
constexpr int8_t kLsf1[16] = {NO, C3, C5, C9, C15, C31, C63, C127, NO, NO, NO, NO, NO, NO, NO, NO};
constexpr int8_t kLsf2[16] = {NO, C3, C5, C9, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO};

constexpr void copyRow(int8_t* to, const int8_t* from) {
    for (int i = 0; i < 16; ++i) to[i] = from[i];
}

// Builds a table from runs of (subband count, nbal, class row).
struct Run {
    int count;
    uint8_t nbal;
    const int8_t* row;
};

template <int N>
constexpr Layer2Table makeTable(const Run (&runs)[N]) {
    Layer2Table t{};
    int sb = 0;
    for (const Run& r : runs) {
        for (int i = 0; i < r.count; ++i, ++sb) {
            t.nbal[sb] = r.nbal;
            copyRow(t.cls[sb], r.row);
        }
    }
    t.subbands = sb;
    for (; sb < 32; ++sb)
        for (int i = 0; i < 16; ++i) t.cls[sb][i] = NO;
    return t;
}

constexpr Run kRunsA[] = {{3, 4, kAb0}, {8, 4, kAb1}, {12, 3, kAb2}, {4, 2, kAb3}};
constexpr Run kRunsB[] = {{3, 4, kAb0}, {8, 4, kAb1}, {12, 3, kAb2}, {7, 2, kAb3}};
constexpr Run kRunsC[] = {{2, 4, kCd0}, {6, 3, kCd1}};
constexpr Run kRunsD[] = {{2, 4, kCd0}, {10, 3, kCd1}};
constexpr Run kRunsLsf[] = {{4, 4, kLsf0}, {7, 3, kLsf1}, {19, 2, kLsf2}};

}  // namespace

const Layer2Table kLayer2Tables[5] = {
    makeTable(kRunsA), makeTable(kRunsB), makeTable(kRunsC), makeTable(kRunsD), makeTable(kRunsLsf),
};

}  // namespace mpegaudio::tables
// clang-format on
