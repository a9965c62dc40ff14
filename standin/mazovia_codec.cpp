#include "standin/mazovia_codec.h"

#include "host/mazovia_tables.h"

namespace veldan {

uint8_t MazoviaToWindows1250(uint8_t byte) {
    return byte < 0x80 ? byte : mazovia::kToWindows1250[byte - 0x80];
}

}  // namespace veldan
