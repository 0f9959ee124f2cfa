#include "s7_protocol.h"

extern "C" {

const s7_area s7_memory_areas[S7_AREA_COUNT] = {
    {80, 0x90010000u, "I"},        {81, 0x90020000u, "Q"},          {82, 0x90030000u, "M"},
    {84, 0x90050000u, "S7Timers"}, {83, 0x90060000u, "S7Counters"},
};

}  // extern "C"
