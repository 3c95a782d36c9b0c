// extract_test.cpp -- extraction of crafted payload resources of this very program, in file and memory mode
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>

#include "app/state.h"
#include "payload/extract.h"
#include "tests/win_test_support.h"

namespace
{

// The raw content that a good payload resource id must unpack to, carried as resource id + 1000.
std::string raw_content(int id)
{
    HRSRC found = FindResourceExA(NULL, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id + 1000), 0);
    return found ? std::string(static_cast<const char *>(LockResource(LoadResource(NULL, found))),
                               SizeofResource(NULL, found))
                 : "<no raw resource>";
}

class Extraction : public ::testing::Test
{
  protected:
    std::string dir;

    void SetUp() override
    {
        dir = make_temp_dir("extract");
        snprintf(install_dir, sizeof install_dir, "%s", dir.c_str());
        details_text[0] = '\0';
    }
    void TearDown() override
    {
        remove_tree(dir);
    }
};

// Good payloads, a size header larger than the content and an empty one among them, byte for byte: into
// "~name" (over what an earlier run left there), or into a terminated buffer that the caller frees.
TEST_F(Extraction, GoodPayloadsUnpackByteForByteInBothModes)
{
    ASSERT_TRUE(write_file(dir + "\\~file1101.bin", std::string(500000, 'g')));
    for (int id : {1101, 2001, 2004, 2005, 2007}) {
        SCOPED_TRACE(id);
        std::string name = "file" + std::to_string(id) + ".bin";
        EXPECT_EQ(extract_payload(id, name.c_str(), NULL, NULL), EXTRACT_OK);
        EXPECT_TRUE(read_file(dir + "\\~" + name) == raw_content(id));
        unsigned char *data = NULL;
        int length = -1;
        EXPECT_EQ(extract_payload(id, "patch_notes.txt", &data, &length), EXTRACT_OK);
        ASSERT_TRUE(data != NULL);
        EXPECT_TRUE(std::string(reinterpret_cast<char *>(data), length) == raw_content(id));
        EXPECT_EQ(data[length], '\0');
        free(data);
    }
    EXPECT_EQ(list_dir(dir).size(), 5u) << "only the temporary files, and no file in memory mode";
    EXPECT_STREQ(details_text, "");
}

TEST_F(Extraction, FailuresReturnTheirStatusAndAppendExactlyOneLine)
{
    struct Case {
        int id;
        const char *name;
        int status;
        const char *line; // with the code as Wine reports it
    } cases[] = {
        {1104, "main.bin", EXTRACT_NOT_FOUND, "Corrupt Patch File: main.bin Not Found! [716]\n"},
        {2002, "damaged.bin", EXTRACT_CORRUPT, "Corrupt Patch File: damaged.bin Not Found! ["},
        {2003, "larger.bin", EXTRACT_CORRUPT, "Corrupt Patch File: larger.bin Not Found! ["},
        {2006, "short.bin", EXTRACT_CORRUPT, "Corrupt Patch File: short.bin Not Found! ["},
        {2008, "cut.bin", EXTRACT_CORRUPT, "Corrupt Patch File: cut.bin Not Found! ["},
    };
    for (const Case &c : cases) {
        for (bool memory : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (memory ? " in memory" : " to a file"));
            strcpy(details_text, "earlier\n");
            unsigned char *data = reinterpret_cast<unsigned char *>(8);
            int length = -7;
            SetLastError(0xdeadbeef);
            EXPECT_EQ(extract_payload(c.id, c.name, memory ? &data : NULL, memory ? &length : NULL), c.status);
            std::string details = details_text;
            EXPECT_EQ(details.compare(0, 8 + strlen(c.line), std::string("earlier\n") + c.line), 0) << details;
            EXPECT_EQ(details.find('\n', 8), details.size() - 1) << "one line, ended by a line feed";
            EXPECT_EQ(details.find('\r'), std::string::npos);
            EXPECT_TRUE(data == reinterpret_cast<unsigned char *>(8) && length == -7) << "nothing handed over";
            EXPECT_EQ(list_dir(dir).size(), 0u) << "a failed extraction leaves no file";
        }
    }
}

TEST_F(Extraction, UnwritableTemporaryPathFailsWithALineAndNoFile)
{
    ASSERT_TRUE(CreateDirectoryA((dir + "\\~blocked.bin").c_str(), NULL));
    EXPECT_EQ(extract_payload(2001, "blocked.bin", NULL, NULL), EXTRACT_CANT_WRITE);
    EXPECT_EQ(std::string(details_text).rfind("Can't Write Patch File: blocked.bin [", 0), 0u) << details_text;
    EXPECT_EQ(list_dir(dir), std::vector<std::string>{"~blocked.bin"});

    // A game directory that does not exist.
    details_text[0] = '\0';
    snprintf(install_dir, sizeof install_dir, "%s\\missing", dir.c_str());
    EXPECT_EQ(extract_payload(2001, "x.bin", NULL, NULL), EXTRACT_CANT_WRITE);
    EXPECT_EQ(std::string(details_text), "Can't Write Patch File: x.bin [3]\n");
}

} // namespace
