// The reply to the clear-text TLS-start request: what the parser accepts,
// the return value it reads and the refusal in bit 62.
#include "s7_tls_start.h"

#include "bytes.h"

#include <gtest/gtest.h>

namespace {

using vemo::test::Bytes;
using vemo::test::concat;

TEST(TlsStart, ReplyParserChecksTheReplyAndReadsBit62) {
    auto reply = [](Bytes afterFunction) {
        return concat(
            {{0x72, 0x01, 0x00, 0x00, 0x32, 0x00, 0x00, 0x05, 0xB3}, afterFunction, {0x72, 0x01, 0x00, 0x00}});
    };
    Bytes wrongStart = reply({0, 0, 0, 0, 0x30, 0x00});
    wrongStart[0] = 0x73;
    Bytes wrongVersion = reply({0, 0, 0, 0, 0x30, 0x00});
    wrongVersion[1] = 0x02;
    struct Case {
        const char* rule;
        Bytes payload;
        s7_status expected;
        uint64_t value;
        uint8_t error;
    };
    const Case cases[] = {
        {"return value 0; the frame's length field (0 here) is not compared", reply({0, 0, 0, 0, 0x30, 0x00}),
         S7_STATUS_OK, 0, 0},
        {"a return value without bit 62 is no error", reply({0, 0, 0, 0, 0x30, 0x85, 0x00}), S7_STATUS_OK, 0x280, 0},
        {"bit 62 set reports an error", reply({0, 0, 0, 0, 0x30, 0xA0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}),
         S7_STATUS_OK, 0x4000000000000000ull, 1},
        {"bit 63 alone is not the error bit",
         reply({0, 0, 0, 0, 0x30, 0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}), S7_STATUS_OK,
         0x8000000000000000ull, 0},
        {"first byte not 0x72", wrongStart, S7_STATUS_PROTOCOL, 0, 0},
        {"version 2", wrongVersion, S7_STATUS_PROTOCOL, 0, 0},
        {"request marker instead of response marker",
         {0x72, 0x01, 0x00, 0x0B, 0x31, 0x00, 0x00, 0x05, 0xB3, 0, 0, 0, 0, 0x30, 0x00, 0x72, 0x01, 0x00, 0x00},
         S7_STATUS_PROTOCOL,
         0,
         0},
        {"function code other than 1459",
         {0x72, 0x01, 0x00, 0x0B, 0x32, 0x00, 0x00, 0x05, 0xB2, 0, 0, 0, 0, 0x30, 0x00, 0x72, 0x01, 0x00, 0x00},
         S7_STATUS_PROTOCOL,
         0,
         0},
        {"cut short before the return value", reply({0, 0, 0, 0, 0x30}), S7_STATUS_PROTOCOL, 0, 0},
        {"return value running into the trailer", reply({0, 0, 0, 0, 0x30, 0x81}), S7_STATUS_PROTOCOL, 0, 0},
        {"fewer than 11 bytes", {0x72, 0x01, 0x00, 0x00, 0x32, 0x00, 0x00, 0x05, 0xB3, 0x00}, S7_STATUS_PROTOCOL, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        s7_tls_start_result result{99, 99};
        EXPECT_EQ(s7_tls_start_parse_reply(c.payload.data(), static_cast<uint32_t>(c.payload.size()), &result),
                  c.expected);
        if (c.expected == S7_STATUS_OK) {
            EXPECT_EQ(result.return_value, c.value);
            EXPECT_EQ(result.error, c.error);
        } else {
            EXPECT_EQ(result.return_value, 99u) << "no output on failure";
        }
    }
    s7_tls_start_result result{};
    EXPECT_EQ(s7_tls_start_parse_reply(nullptr, 0, &result), S7_STATUS_ARGUMENT);
    EXPECT_EQ(s7_tls_start_parse_reply(s7_tls_start_request, 26, nullptr), S7_STATUS_ARGUMENT);
}

}  // namespace
