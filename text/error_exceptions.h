// The exception types through which failures travel: ZKException carries a Windows system error
// code, ZKErrorException adds a message text. Both are thrown by value.
//
// Thrown by: the file prompt's Abort and failed decompression (ZKErrorException), and String's
// replaceAll when it cannot build its result (ZKException with code 0xFFFFFFFF).
#pragma once

#include "platform/errors.h"
#include "text/byte_string.h"

#include <cstdint>

class ZKException {
  public:
    explicit ZKException(uint32_t code) : code(code) {}
    ZKException(const ZKException&) = default;
    ZKException& operator=(const ZKException&) = default;
    virtual ~ZKException() = default;

    uint32_t code; // a Windows system error code; 0xFFFFFFFF when none is known
};

class ZKErrorException : public ZKException {
  public:
    // Takes the thread's last system error first, before anything can change it (0 becomes
    // 0xFFFFFFFF), then a copy of text.
    explicit ZKErrorException(const char* text)
        : ZKException(codeOrUnknown(platform::lastError())) {
        message.assign(text);
    }
    ZKErrorException(const ZKErrorException&) = default; // deep copy of message
    ZKErrorException& operator=(const ZKErrorException&) = default;
    ~ZKErrorException() override = default;

    String message; // Shift-JIS, owned by the exception

  private:
    static uint32_t codeOrUnknown(uint32_t code) { return code == 0 ? 0xFFFFFFFFu : code; }
};
