// pack_test.cpp -- the package builder writing into a copy of the updater, read back through the real resource calls
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "payload/manifest.h"
#include "payload/pack.h"
#include "payload/payload_format.h"
#include "tests/win_test_support.h"

namespace
{

// Contents of every kind, different in each round: text, empty, incompressible, compressible.
std::string source_content(int row, int round)
{
    std::string data = row == 0 ? "Release notes " + std::to_string(round) + "\r\n" : "";
    uint32_t state = 1234567u + row * 77u + round * 1000003u;
    for (int i = 0; i < (row == 0 ? 0 : row == 1 ? round : row == 2 ? 30000 : 300000); ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        data += static_cast<char>(row == 2 || i % 97 == 0 ? state : 'a' + (i + row + round) % 7);
    }
    return data;
}

// Message boxes answered as they open, their captions and texts kept.
std::vector<std::string> boxes;
HHOOK box_hook;

LRESULT CALLBACK answer_box(int code, WPARAM wparam, LPARAM lparam)
{
    char window_class[16] = "";
    if (code == HCBT_ACTIVATE && GetClassNameA(reinterpret_cast<HWND>(wparam), window_class, sizeof window_class) &&
        strcmp(window_class, "#32770") == 0) {
        boxes.push_back(window_text(reinterpret_cast<HWND>(wparam)) + "|" +
                        control_text(reinterpret_cast<HWND>(wparam), 0xFFFF));
        PostMessageA(reinterpret_cast<HWND>(wparam), WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(box_hook, code, wparam, lparam);
}

// The payload of row as the updater unpacks it: "?" when it does not.
std::string payload(const std::string &exe, int row)
{
    HMODULE module = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(payload_manifest[row].resource_id), 0);
    unsigned char *data = NULL;
    uint32_t length = 0;
    int status = found ? decode_payload(static_cast<const unsigned char *>(LockResource(LoadResource(module, found))),
                                        SizeofResource(module, found), &data, &length)
                       : -1;
    FreeLibrary(module);
    std::string out = status == 0 ? std::string(reinterpret_cast<char *>(data), length) : "?";
    free(data);
    return out;
}

class Packing : public ::testing::Test
{
  protected:
    std::string dir = make_temp_dir("pack"), target = dir + "\\" + PACKAGE_TARGET, bare = env_path("OSTREVAN_UPDATER");

    void SetUp() override
    {
        ASSERT_TRUE(CopyFileA(bare.c_str(), target.c_str(), FALSE));
        SetCurrentDirectoryA(dir.c_str());
        boxes.clear();
        box_hook = SetWindowsHookExA(WH_CBT, answer_box, NULL, GetCurrentThreadId());
    }
    void TearDown() override
    {
        UnhookWindowsHookEx(box_hook);
        SetCurrentDirectoryA("C:\\");
        remove_tree(dir);
    }
    void write_sources(int round)
    {
        for (int row = 0; row < PAYLOAD_ROWS; ++row)
            write_file(dir + "\\" + payload_manifest[row].source_name, source_content(row, round));
    }
};

// Each source behind its size header, again with new sources; a missing one is named in a box, and its payload
// is kept while the others are replaced.
TEST_F(Packing, EveryRowIsPackedAndPackedAgain)
{
    write_sources(0);
    ASSERT_TRUE(pack_payloads());
    EXPECT_TRUE(missing_payload_sources() == 0 && boxes.empty());
    write_sources(1);
    DeleteFileA(payload_manifest[2].source_name);
    EXPECT_TRUE(pack_payloads());
    EXPECT_EQ(missing_payload_sources(), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{std::string("File Not Found|") + payload_manifest[2].source_name});
    for (int row = 0; row < PAYLOAD_ROWS; ++row)
        EXPECT_TRUE(payload(target, row) == source_content(row, row == 2 ? 0 : 1)) << payload_manifest[row].source_name;
}

// A source that cannot be read whole (larger than the packer can size) fails its row, and a failed row discards
// the whole update: the package keeps every byte it had.
TEST_F(Packing, ARowThatFailsDiscardsTheWholeUpdate)
{
    write_sources(0);
    ASSERT_TRUE(pack_payloads());
    std::string packed = read_file(target);
    write_sources(1);
    HANDLE huge = CreateFileA(payload_manifest[3].source_name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    LARGE_INTEGER three_gb;
    three_gb.QuadPart = 3LL << 30;
    EXPECT_TRUE(SetFilePointerEx(huge, three_gb, NULL, FILE_BEGIN) && SetEndOfFile(huge));
    CloseHandle(huge);
    EXPECT_FALSE(pack_payloads());
    EXPECT_TRUE(read_file(target) == packed);
}

} // namespace
