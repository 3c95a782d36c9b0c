// portable_test.cpp -- the code that needs no window, natively under the sanitizers: the catalogue, the text buffers,
// the payload format, the result dialog's geometry and the game's paths
#include <gtest/gtest.h>

#include <algorithm>
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

// English is ASCII, German Windows-1252 and Russian Windows-1251, never UTF-8; line breaks stand exactly where the
// texts need them (a verdict or the busy file's line: two lines, the first ended by CR LF; a message: two lines; the
// holders' line: one, ended; a label: one); the formats hold their arguments alone; the message lines quote the
// buttons' own labels; only the title and the success name 1.02.
TEST(Catalogue, EncodingsLineBreaksAndQuotedLabels)
{
    for (int language = 1; language <= 3; ++language) {
        SCOPED_TRACE(language);
        std::string show = catalogue_text(language, ShowDetails), succeeded = catalogue_text(language, Succeeded);
        for (int slot = 0; slot < MESSAGE_SLOTS; ++slot) {
            std::string text = catalogue_text(language, static_cast<MessageId>(slot));
            for (size_t i = 0; i < text.size(); ++i) {
                unsigned char c = text[i], next = i + 1 < text.size() ? text[i + 1] : 0;
                EXPECT_FALSE(c >= 0xC2 && c <= 0xF4 && next >= 0x80 && next <= 0xBF) << "UTF-8 in slot " << slot;
                EXPECT_TRUE(c < 0x80 || (language == 2 || (language == 3 && c >= 0xC0))) << slot << ": " << int(c);
            }
            int lines = slot == NotInstalled || slot == Corrupt || slot == FileInUse ? 2
                        : slot == Failed || slot == Succeeded || slot == HeldBy      ? 1
                                                                                     : 0;
            long crs = std::count(text.begin(), text.end(), '\r'), lfs = std::count(text.begin(), text.end(), '\n');
            bool two = crs == 1 && lfs == 2 && text.find("\r\n") != std::string::npos && text[text.size() - 2] != '\r';
            EXPECT_TRUE(!text.empty() &&
                        (lines == 2 ? two && text.back() == '\n'
                                    : lfs == lines && crs == 0 && (text.back() == '\n') == (slot == HeldBy)))
                << slot;
            std::string arguments;
            for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2))
                arguments += text.substr(at, 2);
            EXPECT_EQ(arguments, slot == FileInUse ? "%s%x" : slot == HeldBy || slot == WaitingFor ? "%s" : "") << slot;
            EXPECT_EQ(text.find("1.02") != std::string::npos, slot == Title || slot == Succeeded) << slot;
        }
        EXPECT_TRUE(show.substr(show.size() - 2) == ">>" &&
                    std::string(catalogue_text(language, HideDetails)).rfind("<< ", 0) == 0);
        std::string button = "\"" + show.substr(0, show.find_last_not_of("> ") + 1) + "\"";
        EXPECT_NE(std::string(catalogue_text(language, Failed)).find(button), std::string::npos);
        EXPECT_NE(succeeded.find(button), std::string::npos);
        EXPECT_NE(succeeded.find("\"" + std::string(catalogue_text(language, Ok))), std::string::npos);
    }
    EXPECT_STREQ(catalogue_text(2, Ok), "O. K.");
    EXPECT_STREQ(catalogue_text(3, Ok), catalogue_text(1, Ok));
    EXPECT_NE(std::string(catalogue_text(1, Succeeded)).find("succesfully"), std::string::npos);
    // Codes outside 1..3 never read outside the table.
    EXPECT_STREQ(catalogue_text(0, Title), catalogue_text(1, Title));
    EXPECT_STREQ(catalogue_text(4, Cancel), catalogue_text(1, Cancel));
    EXPECT_TRUE(catalogue_code_page(1) == 1252 && catalogue_code_page(2) == 1252 && catalogue_code_page(3) == 1251 &&
                catalogue_code_page(0) == 1252 && catalogue_code_page(4) == 1252);
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
    copy_lines_crlf(buffer, sizeof buffer, "a\nb\r\n\nc"); // a bare LF gets its CR, or is cut with it
    EXPECT_STREQ(buffer, "a\r\nb\r\n");

    // Many entries fill the buffer and stop there; a line longer than scratch_path is cut there first.
    for (int i = 0; i < 20; ++i)
        append_failure_line("Corrupt Patch File: %s Not Found! [%x]\n", std::string(300, 'n').c_str(), 0xdeadbeef);
    EXPECT_EQ(strlen(details_text), sizeof details_text - 1);
    details_text[0] = '\0';
    append_failure_line("%s [%x]\n", std::string(2000, 'x').c_str(), 1);
    EXPECT_EQ(strlen(details_text), sizeof scratch_path - 1);
}

typedef std::vector<unsigned char> Bytes;

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
        {"no bytes", {}, PAYLOAD_SHORT, 0},
        {"three bytes", {1, 0, 0}, PAYLOAD_SHORT, 0},
        {"header only", {0, 0, 0, 0}, PAYLOAD_CORRUPT, 0},
        {"damaged stream", damaged, PAYLOAD_CORRUPT, 0},
        {"stream cut short", cut, PAYLOAD_CORRUPT, 0},
        {"wrong checksum", bad_checksum, PAYLOAD_CORRUPT, 0},
        {"more than its header", craft(10, "hello world"), PAYLOAD_CORRUPT, 0},
        {"fewer than its header", craft(12, "hello world"), PAYLOAD_OK, 11},
        {"empty", craft(0, ""), PAYLOAD_OK, 0},
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
    // Centred as if whole, then collapsed; larger than the screen, the halving truncates toward zero.
    DialogPlacement p = place_result_dialog(ScreenRect{0, 0, 800, 600}, ScreenRect{0, 0, 1001, 1001});
    EXPECT_TRUE(p.left == -100 && p.top == -200 && p.width == 1001 && p.height == 392)
        << p.left << "," << p.top << " " << p.width << "x" << p.height;
}

// The longest path is the backup of the release notes: the directory, "\~Patch102Notes.txt.bak" (23 characters)
// and the terminator must fit 260 bytes.
TEST(GamePaths, TheLimitThatEveryPathMustKeep)
{
    GamePaths paths;
    for (size_t length : {236, 237, 255}) {
        copy_text(install_dir, sizeof install_dir, std::string(length, 'd').c_str());
        EXPECT_EQ(game_paths_fit(), length == 236) << length;
    }
    EXPECT_FALSE(format_game_paths(&paths, "Patch102Notes.txt"));
    EXPECT_EQ(strlen(paths.temporary), GAME_PATH_SIZE - 1u) << "cut to fit, terminated";
}

} // namespace
