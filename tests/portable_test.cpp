// portable_test.cpp -- the code that needs no window, natively under the sanitizers: the catalogue, the text buffers,
// the payload format, the result dialog's geometry and the game's paths
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include <zlib.h>

#include "app/catalogue.h"
#include "app/game_paths.h"
#include "app/state.h"
#include "app/text_buffer.h"
#include "payload/payload_format.h"
#include "ui/dialog_geometry.h"

namespace
{

int count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// English is ASCII, German Windows-1252 and Russian Windows-1251, never UTF-8; line breaks stand exactly where the
// texts need them; the message lines quote the buttons' own labels; only the title and the success name 1.02.
TEST(Catalogue, EncodingsLineBreaksAndQuotedLabels)
{
    for (int language = 1; language <= 3; ++language) {
        SCOPED_TRACE(language);
        std::string show = catalogue_text(language, ShowDetails);
        for (int slot = 0; slot < MESSAGE_SLOTS; ++slot) {
            std::string text = catalogue_text(language, static_cast<MessageId>(slot));
            EXPECT_FALSE(text.empty());
            for (size_t i = 0; i < text.size(); ++i) {
                unsigned char c = text[i], next = i + 1 < text.size() ? text[i + 1] : 0;
                EXPECT_FALSE(c >= 0xC2 && c <= 0xF4 && next >= 0x80 && next <= 0xBF) << "UTF-8 in slot " << slot;
                EXPECT_TRUE(c < 0x80 || (language == 2 || (language == 3 && c >= 0xC0))) << slot << ": " << int(c);
            }
            // A verdict: two lines, the first ended by CR LF, the second by LF; a message: two lines; a label: one.
            int lines = slot == NotInstalled || slot == Corrupt ? 2 : slot == Failed || slot == Succeeded ? 1 : 0;
            if (lines == 2)
                EXPECT_TRUE(count(text, "\r\n") == 1 && count(text, "\r") == 1 && count(text, "\n") == 2 &&
                            text.back() == '\n' && text[text.size() - 2] != '\r')
                    << slot;
            else
                EXPECT_TRUE(count(text, "\n") == lines && count(text, "\r") == 0 && text.back() != '\n') << slot;
            EXPECT_EQ(text.find("1.02") != std::string::npos, slot == Title || slot == Succeeded) << slot;
        }
        EXPECT_EQ(show.substr(show.size() - 2), ">>");
        EXPECT_EQ(std::string(catalogue_text(language, HideDetails)).substr(0, 3), "<< ");
        std::string button = "\"" + show.substr(0, show.find_last_not_of("> ") + 1) + "\"";
        EXPECT_NE(std::string(catalogue_text(language, Failed)).find(button), std::string::npos);
        EXPECT_NE(std::string(catalogue_text(language, Succeeded)).find(button), std::string::npos);
        EXPECT_NE(
            std::string(catalogue_text(language, Succeeded)).find("\"" + std::string(catalogue_text(language, Ok))),
            std::string::npos);
    }
    EXPECT_NE(std::string(catalogue_text(2, Failed))
                  .find("mehr \xfc"
                        "ber diesen"),
              std::string::npos);
    EXPECT_STREQ(catalogue_text(2, Ok), "O. K.");
    EXPECT_STREQ(catalogue_text(3, Ok), catalogue_text(1, Ok));
    EXPECT_NE(std::string(catalogue_text(1, Succeeded)).find("succesfully"), std::string::npos);
    // Codes outside 1..3 never read outside the table.
    EXPECT_STREQ(catalogue_text(0, Title), catalogue_text(1, Title));
    EXPECT_STREQ(catalogue_text(4, Cancel), catalogue_text(1, Cancel));
}

TEST(TextBuffer, AppendsAndCopiesAreCutAndTerminated)
{
    char buffer[8] = "abc";
    append_text(buffer, sizeof buffer, "de");
    append_text(buffer, sizeof buffer, "fghij");
    EXPECT_STREQ(buffer, "abcdefg");
    memset(buffer, 'z', sizeof buffer);
    append_text(buffer, sizeof buffer, "q");
    EXPECT_EQ(std::string(buffer, 8), std::string("zzzzzzz\0", 8)) << "an unterminated buffer ends at its last byte";
    copy_text(buffer, 5, "newer text");
    EXPECT_STREQ(buffer, "newe");

    details_text[0] = '\0';
    append_failure_line("Can't Load Resource: %s [%x]\n", "main.bin", 0x1AB5);
    EXPECT_STREQ(details_text, "Can't Load Resource: main.bin [1ab5]\n");
    // Many entries fill the buffer and stop there; a line longer than scratch_path is cut there first.
    for (int i = 0; i < 20; ++i)
        append_failure_line("Corrupt Patch File: %s Not Found! [%x]\n", std::string(300, 'n').c_str(), 0xdeadbeef);
    EXPECT_EQ(strlen(details_text), sizeof details_text - 1);
    details_text[0] = '\0';
    append_failure_line("%s [%x]\n", std::string(2000, 'x').c_str(), 1);
    EXPECT_EQ(strlen(details_text), sizeof scratch_path - 1);
}

typedef std::vector<unsigned char> Bytes;

Bytes encode(const Bytes &source)
{
    Bytes resource(payload_bound(source.size()));
    size_t length = 0;
    EXPECT_EQ(encode_payload(source.data(), source.size(), resource.data(), resource.size(), &length), PAYLOAD_OK);
    resource.resize(length);
    return resource;
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

// Every size and kind of content round trips, into a fresh terminated buffer or into one kept from call to call,
// which grows only when too small and survives a failure; an output too small for the stream is refused.
TEST(PayloadFormat, RoundTripsIntoFreshAndKeptBuffers)
{
    unsigned char *kept = NULL;
    size_t capacity = 0;
    for (size_t size : {70000, 0, 1, 65536, 1000003, 12}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (random ? " random" : " repetitive"));
            Bytes source = sample(size, random), resource = encode(source);
            EXPECT_EQ(read_le32(resource.data()), size);
            unsigned char *data = NULL;
            uint32_t length = 0;
            ASSERT_EQ(decode_payload(resource.data(), resource.size(), &data, &length), PAYLOAD_OK);
            EXPECT_TRUE(Bytes(data, data + length) == source && data[length] == '\0');
            free(data);
            size_t before = capacity;
            ASSERT_EQ(decode_payload_reusing(resource.data(), resource.size(), &kept, &capacity, &length), PAYLOAD_OK);
            EXPECT_TRUE(Bytes(kept, kept + length) == source && kept[length] == '\0');
            EXPECT_EQ(capacity, before < size ? size : before) << "grown only when too small";
        }
    }
    Bytes damaged = encode(sample(100, false));
    damaged[6] ^= 0xFF;
    uint32_t length = 0;
    EXPECT_EQ(decode_payload_reusing(damaged.data(), damaged.size(), &kept, &capacity, &length), PAYLOAD_CORRUPT);
    EXPECT_EQ(capacity, 1000003u);
    free(kept);
    Bytes small(100);
    size_t written = 0;
    EXPECT_NE(encode_payload(sample(1000, true).data(), 1000, small.data(), small.size(), &written), PAYLOAD_OK);
}

// A resource made by hand: any header, then zlib's own stream of content.
Bytes craft(uint32_t header, const std::string &content)
{
    Bytes resource(4 + content.size() + 64);
    write_le32(resource.data(), header);
    uLongf length = resource.size() - 4;
    compress(resource.data() + 4, &length, reinterpret_cast<const Bytef *>(content.data()), content.size());
    resource.resize(4 + length);
    return resource;
}

TEST(PayloadFormat, CorruptInputsAreRefusedAndNothingIsHandedOver)
{
    Bytes good = craft(11, "hello world"), damaged = good, cut = good, bad_checksum = good;
    damaged[8] ^= 0x55;
    cut.resize(cut.size() - 3);
    bad_checksum.back() ^= 1;
    struct Case {
        const char *what;
        Bytes resource;
        int status;
        size_t length;
    } cases[] = {
        {"empty", {}, PAYLOAD_SHORT, 0},
        {"three bytes", {1, 0, 0}, PAYLOAD_SHORT, 0},
        {"header only", {0, 0, 0, 0}, PAYLOAD_CORRUPT, 0},
        {"damaged stream", damaged, PAYLOAD_CORRUPT, 0},
        {"stream cut short", cut, PAYLOAD_CORRUPT, 0},
        {"wrong checksum", bad_checksum, PAYLOAD_CORRUPT, 0},
        {"more than its header", craft(10, "hello world"), PAYLOAD_CORRUPT, 0},
        {"fewer than its header", craft(12, "hello world"), PAYLOAD_OK, 11},
        {"empty header, content behind it", craft(0, "x"), PAYLOAD_CORRUPT, 0},
        {"header at the 32-bit limit", craft(0xFFFFFFFFu, "hello world"), PAYLOAD_OK, 11},
    };
    for (const Case &c : cases) {
        unsigned char *data = reinterpret_cast<unsigned char *>(1);
        uint32_t length = 12345;
        EXPECT_EQ(decode_payload(c.resource.data(), c.resource.size(), &data, &length), c.status) << c.what;
        if (c.status == PAYLOAD_OK)
            free(data);
        EXPECT_EQ(length, c.status == PAYLOAD_OK ? c.length : 12345u) << c.what;
    }
}

TEST(DialogGeometry, CollapsedToTwentyFiftyFirstsAndCentredAsIfWhole)
{
    int mismatches = 0;
    for (long long h = 0; h <= 2673906; ++h)
        mismatches += collapsed_height(static_cast<int>(h)) != static_cast<int>(20 * h / 51);
    EXPECT_EQ(mismatches, 0);
    struct Case {
        ScreenRect desktop, dialog;
        DialogPlacement expected;
    } cases[] = {
        {{0, 0, 1024, 768}, {0, 0, 538, 378}, {243, 195, 538, 148}},
        // Larger than the screen: the halving truncates toward zero, -201 / 2 is -100.
        {{0, 0, 800, 600}, {0, 0, 1001, 1001}, {-100, -200, 1001, 392}},
        {{0, 0, 1025, 769}, {0, 0, 400, 400}, {312, 184, 400, 156}},
    };
    for (const Case &c : cases) {
        DialogPlacement p = place_result_dialog(c.desktop, c.dialog);
        EXPECT_TRUE(p.left == c.expected.left && p.top == c.expected.top && p.width == c.expected.width &&
                    p.height == c.expected.height)
            << p.left << "," << p.top << " " << p.width << "x" << p.height;
    }
}

// The longest path is the backup of the release notes: the directory, "\~Patch102Notes.txt.bak" (23 characters)
// and the terminator must fit 260 bytes.
TEST(GamePaths, RowPathsAndTheLimitThatEveryOneMustKeep)
{
    copy_text(install_dir, sizeof install_dir, "C:\\Games\\Ostrevan");
    GamePaths paths;
    ASSERT_TRUE(format_game_paths(&paths, "main.bin"));
    EXPECT_STREQ(paths.temporary, "C:\\Games\\Ostrevan\\~main.bin");
    EXPECT_STREQ(paths.installed, "C:\\Games\\Ostrevan\\main.bin");
    EXPECT_STREQ(paths.backup, "C:\\Games\\Ostrevan\\~main.bin.bak");
    for (size_t length : {236, 237, 255}) {
        copy_text(install_dir, sizeof install_dir, std::string(length, 'd').c_str());
        EXPECT_EQ(game_paths_fit(), length == 236) << length;
    }
    EXPECT_FALSE(format_game_paths(&paths, "Patch102Notes.txt"));
    EXPECT_EQ(strlen(paths.temporary), GAME_PATH_SIZE - 1u) << "cut to fit, terminated";
}

} // namespace
