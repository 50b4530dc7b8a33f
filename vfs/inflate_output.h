// InflateOutput: where an inflating stream puts its bytes when its room is not given whole up
// front. Archives declare how large their data inflates, and a corrupt one can declare far more
// than its stream holds; room taken piece by piece makes memory follow what the stream actually
// produces.
#pragma once

#include <cstdint>

class InflateOutput {
  public:
    virtual ~InflateOutput() = default;

    // Room for the bytes that follow the first `produced` ones, of which at most `left` (the rest
    // of the declared size, possibly 0) are still to come: returns where they go and sets room
    // to how many fit there (at most left; at least 1 when left is above 0). Called once before
    // anything is produced and again each time the room is full. May throw, or return null when
    // no room can be had, which fails the inflation.
    virtual unsigned char* more(uint32_t produced, uint32_t left, uint32_t& room) = 0;
};
