#include "text/error_exceptions.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

TEST(ErrorExceptions, CodeComesFromTheLastErrorAndZeroMeansUnknown) {
    platform::setLastError(0);
    EXPECT_EQ(ZKErrorException("x").code, 0xFFFFFFFFu);
    platform::setLastError(2);
    ZKErrorException e("\x83\x74\x83\x40\x83\x43\x83\x8B"); // ファイル
    EXPECT_EQ(e.code, 2u);
    EXPECT_STREQ(e.message.data, "\x83\x74\x83\x40\x83\x43\x83\x8B");
}

TEST(ErrorExceptions, ErrorExceptionIsCaughtAsTheBaseAndCopiesDeeply) {
    platform::setLastError(5);
    try {
        throw ZKErrorException("message");
    } catch (const ZKException& e) {
        EXPECT_EQ(e.code, 5u);
        const auto* full = dynamic_cast<const ZKErrorException*>(&e);
        ASSERT_NE(full, nullptr);
        EXPECT_STREQ(full->message.data, "message");
    }
    ZKErrorException original("text");
    {
        ZKErrorException copy(original);
        EXPECT_NE(copy.message.data, original.message.data);
        copy.message.data[0] = 'T';
    }
    EXPECT_STREQ(original.message.data, "text");
    bool caughtAsError = false;
    try {
        throw ZKException(0xFFFFFFFFu);
    } catch (const ZKErrorException&) {
        caughtAsError = true;
    } catch (const ZKException&) {
    }
    EXPECT_FALSE(caughtAsError);
}
