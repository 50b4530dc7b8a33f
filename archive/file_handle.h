// A runtime-library stream that is closed when its owner goes.
#pragma once

#include "platform/streams.h"

#include <cstdio>
#include <memory>

namespace pak {

struct StreamCloser {
    void operator()(std::FILE* stream) const { platform::closeStream(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, StreamCloser>;

} // namespace pak
