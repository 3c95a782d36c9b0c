// payload_format_test.cpp -- round trips through the payload format and the corrupt inputs it must refuse
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include <zlib.h>

#include "payload/payload_format.h"

namespace
{

typedef std::vector<unsigned char> Bytes;

Bytes encode(const Bytes &source)
{
    Bytes resource(payload_bound(source.size()));
    size_t length = 0;
    EXPECT_EQ(encode_payload(source.data(), source.size(), resource.data(), resource.size(), &length), PAYLOAD_OK);
    resource.resize(length);
    return resource;
}

// A resource made by hand: any header, then zlib's own stream of content.
Bytes craft(uint32_t header, const std::string &content)
{
    Bytes resource(4 + compressBound(content.size()));
    write_le32(resource.data(), header);
    uLongf length = resource.size() - 4;
    compress(resource.data() + 4, &length, reinterpret_cast<const Bytes::value_type *>(content.data()), content.size());
    resource.resize(4 + length);
    return resource;
}

struct Decoded {
    int status;
    Bytes data;
    bool terminated;
};

Decoded decode(const Bytes &resource)
{
    unsigned char *data = reinterpret_cast<unsigned char *>(1);
    uint32_t length = 12345;
    Decoded d;
    d.status = decode_payload(resource.data(), resource.size(), &data, &length);
    d.terminated = false;
    if (d.status == PAYLOAD_OK) {
        d.data.assign(data, data + length);
        d.terminated = data[length] == '\0';
        free(data);
    } else {
        EXPECT_EQ(data, reinterpret_cast<unsigned char *>(1)) << "nothing is stored on failure";
        EXPECT_EQ(length, 12345u);
    }
    return d;
}

Bytes sample(size_t size, bool random)
{
    Bytes bytes(size);
    uint32_t state = 2463534242u;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        bytes[i] = random ? static_cast<unsigned char>(state) : static_cast<unsigned char>("Ostrevan "[i % 9]);
    }
    return bytes;
}

TEST(PayloadFormat, RoundTripsEverySizeAndKindOfContent)
{
    for (size_t size : {0, 1, 2, 100, 65536, 1000003}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE("size " + std::to_string(size) + (random ? " incompressible" : " compressible"));
            Bytes source = sample(size, random);
            Bytes resource = encode(source);
            ASSERT_GE(resource.size(), 6u);
            EXPECT_EQ(read_le32(resource.data()), size);
            EXPECT_EQ(resource[4], 0x78);
            EXPECT_EQ(resource[5], 0x9C);
            // zlib alone finds the stream ending exactly at the resource's end.
            z_stream z = {};
            ASSERT_EQ(inflateInit(&z), Z_OK);
            Bytes out(size + 1);
            z.next_in = resource.data() + 4;
            z.avail_in = resource.size() - 4;
            z.next_out = out.data();
            z.avail_out = out.size();
            EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
            EXPECT_EQ(z.avail_in, 0u);
            inflateEnd(&z);

            Decoded d = decode(resource);
            ASSERT_EQ(d.status, PAYLOAD_OK);
            EXPECT_TRUE(d.data == source);
            EXPECT_TRUE(d.terminated);
        }
    }
}

TEST(PayloadFormat, CorruptInputsAreRefused)
{
    Bytes good = craft(11, "hello world");
    Bytes damaged = good;
    damaged[8] ^= 0x55;
    Bytes cut = good;
    cut.resize(cut.size() - 3);
    Bytes bad_checksum = good;
    bad_checksum.back() ^= 1;
    struct Case {
        const char *what;
        Bytes resource;
        int status;
        size_t length;
    } cases[] = {
        {"empty resource", {}, PAYLOAD_SHORT, 0},
        {"three bytes", {1, 0, 0}, PAYLOAD_SHORT, 0},
        {"header only", {0, 0, 0, 0}, PAYLOAD_CORRUPT, 0},
        {"damaged stream", damaged, PAYLOAD_CORRUPT, 0},
        {"stream cut short", cut, PAYLOAD_CORRUPT, 0},
        {"wrong checksum", bad_checksum, PAYLOAD_CORRUPT, 0},
        {"unpacks to more than its header", craft(10, "hello world"), PAYLOAD_CORRUPT, 0},
        {"unpacks to fewer than its header", craft(12, "hello world"), PAYLOAD_OK, 11},
        {"empty payload", craft(0, ""), PAYLOAD_OK, 0},
        {"empty header, content behind it", craft(0, "x"), PAYLOAD_CORRUPT, 0},
        {"header at the 32-bit limit", craft(0xFFFFFFFFu, "hello world"), PAYLOAD_OK, 11},
        {"header one below the limit", craft(0xFFFFFFFEu, ""), PAYLOAD_OK, 0},
    };
    for (const Case &c : cases) {
        Decoded d = decode(c.resource);
        EXPECT_EQ(d.status, c.status) << c.what;
        if (d.status == PAYLOAD_OK) {
            EXPECT_EQ(d.data.size(), c.length) << c.what;
            EXPECT_TRUE(d.terminated) << c.what;
        }
    }
}

TEST(PayloadFormat, ReusedBufferGrowsOnlyWhenNeededAndHoldsEachPayloadExactly)
{
    unsigned char *buffer = NULL;
    size_t capacity = 0;
    uint32_t length = 0;
    for (size_t size : {70000, 5, 0, 70000, 200000, 12}) {
        SCOPED_TRACE(size);
        Bytes source = sample(size, size % 2 == 0);
        Bytes resource = encode(source);
        size_t before = capacity;
        ASSERT_EQ(decode_payload_reusing(resource.data(), resource.size(), &buffer, &capacity, &length), PAYLOAD_OK);
        EXPECT_EQ(length, size);
        EXPECT_TRUE(Bytes(buffer, buffer + length) == source);
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_EQ(capacity, before < size ? size : before) << "grown only when too small";
    }
    // A failure keeps the buffer for the next call.
    Bytes damaged = encode(sample(100, false));
    damaged[6] ^= 0xFF;
    EXPECT_EQ(decode_payload_reusing(damaged.data(), damaged.size(), &buffer, &capacity, &length), PAYLOAD_CORRUPT);
    EXPECT_EQ(capacity, 200000u);
    free(buffer);
}

TEST(PayloadFormat, EncodeRefusesTooSmallAnOutput)
{
    Bytes source = sample(1000, true);
    Bytes resource(100);
    size_t length = 0;
    EXPECT_NE(encode_payload(source.data(), source.size(), resource.data(), resource.size(), &length), PAYLOAD_OK);
    EXPECT_EQ(length, 0u);
}

} // namespace
