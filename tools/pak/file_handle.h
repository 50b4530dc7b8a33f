// A runtime-library stream that is closed when its owner goes.
#pragma once

#include <cstdio>
#include <memory>

namespace pak {

struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, StreamCloser>;

} // namespace pak
