// catalogue_test.cpp -- the message table's encodings, line breaks and slot order
#include <gtest/gtest.h>

#include <string>

#include "app/catalogue.h"

namespace
{

const char *const LANGUAGE_NAMES[] = {"", "English", "German", "Russian"};

std::string text(int language, MessageId id)
{
    return catalogue_text(language, id);
}

int count(const std::string &haystack, const std::string &needle)
{
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

// A UTF-8 literal where a code page byte belongs shows as a lead byte followed by continuation bytes.
bool has_utf8_sequence(const std::string &s)
{
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        unsigned char lead = s[i], next = s[i + 1];
        if (lead >= 0xC2 && lead <= 0xF4 && next >= 0x80 && next <= 0xBF)
            return true;
    }
    return false;
}

TEST(Catalogue, EnglishIsAsciiAndOthersAreSingleByteCodePages)
{
    for (int language = 1; language <= 3; ++language) {
        for (int slot = 0; slot < MESSAGE_SLOTS; ++slot) {
            std::string s = text(language, static_cast<MessageId>(slot));
            SCOPED_TRACE(std::string(LANGUAGE_NAMES[language]) + " slot " + std::to_string(slot));
            EXPECT_FALSE(s.empty());
            EXPECT_FALSE(has_utf8_sequence(s));
            for (unsigned char c : s) {
                if (language == 1) {
                    EXPECT_LT(c, 0x80);
                } else if (language == 3) {
                    EXPECT_TRUE(c < 0x80 || c >= 0xC0) << "not a Windows-1251 letter: " << int(c);
                }
            }
        }
    }
    // The umlaut of "über" is the single byte 0xFC.
    EXPECT_NE(text(2, Failed).find("mehr \xfc"
                                   "ber diesen"),
              std::string::npos);
    EXPECT_NE(text(2, Succeeded)
                  .find("mehr \xfc"
                        "ber diese "),
              std::string::npos);
}

TEST(Catalogue, LineBreaksAreExactlyWhereTheTextsNeedThem)
{
    for (int language = 1; language <= 3; ++language) {
        SCOPED_TRACE(LANGUAGE_NAMES[language]);
        for (MessageId verdict : {NotInstalled, Corrupt}) {
            std::string s = text(language, verdict);
            EXPECT_EQ(count(s, "\r\n"), 1) << s;
            EXPECT_EQ(count(s, "\r"), 1);
            EXPECT_EQ(count(s, "\n"), 2);
            EXPECT_EQ(s.back(), '\n');
            EXPECT_NE(s[s.size() - 2], '\r');
        }
        for (MessageId line : {Failed, Succeeded}) {
            std::string s = text(language, line);
            EXPECT_EQ(count(s, "\n"), 1) << s;
            EXPECT_EQ(count(s, "\r"), 0);
            EXPECT_NE(s.back(), '\n');
        }
        for (MessageId label : {Title, ShowDetails, HideDetails, Ok, Cancel})
            EXPECT_EQ(text(language, label).find_first_of("\r\n"), std::string::npos);
    }
}

TEST(Catalogue, SlotsHoldWhatTheirNeighboursQuote)
{
    for (int language = 1; language <= 3; ++language) {
        SCOPED_TRACE(LANGUAGE_NAMES[language]);
        std::string show = text(language, ShowDetails);
        ASSERT_GT(show.size(), 2u);
        EXPECT_EQ(show.substr(show.size() - 2), ">>");
        EXPECT_EQ(text(language, HideDetails).substr(0, 3), "<< ");
        // The message lines name the buttons by their labels.
        std::string button = show.substr(0, show.find_last_not_of("> ") + 1);
        EXPECT_NE(text(language, Failed).find("\"" + button + "\""), std::string::npos);
        EXPECT_NE(text(language, Succeeded).find("\"" + button + "\""), std::string::npos);
        EXPECT_NE(text(language, Succeeded).find("\"" + text(language, Ok) + "\""), std::string::npos);
        // Only the title and the success line name the version.
        for (int slot = 0; slot < MESSAGE_SLOTS; ++slot) {
            bool names_version = text(language, static_cast<MessageId>(slot)).find("1.02") != std::string::npos;
            EXPECT_EQ(names_version, slot == Title || slot == Succeeded) << "slot " << slot;
        }
        EXPECT_NE(text(language, NotInstalled), text(language, Corrupt));
        EXPECT_NE(text(language, Ok), text(language, Cancel));
    }
}

TEST(Catalogue, SharedAndVerbatimTexts)
{
    EXPECT_EQ(catalogue_text(3, Ok), catalogue_text(1, Ok));
    EXPECT_EQ(text(2, Ok), "O. K.");
    EXPECT_NE(text(1, Succeeded).find("succesfully"), std::string::npos);
    // Codes outside 1..3 never read outside the table.
    EXPECT_EQ(catalogue_text(0, Title), catalogue_text(1, Title));
    EXPECT_EQ(catalogue_text(4, Cancel), catalogue_text(1, Cancel));
}

} // namespace
