// pack_test.cpp -- the package builder writing into a copy of the updater, read back through the real resource calls
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>
#include <zlib.h>

#include "payload/manifest.h"
#include "payload/pack.h"
#include "tests/win_test_support.h"

namespace
{

// Deterministic contents of every kind: text, empty, incompressible, compressible.
std::string source_content(int row, int round)
{
    std::string data;
    uint32_t state = 1234567u + row * 77u + round * 1000003u;
    for (int i = 0; i < (row == 1 ? round : row == 2 ? 30000 : 300000); ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        data += static_cast<char>(row == 2 || i % 97 == 0 ? state : 'a' + (i + row + round) % 7);
    }
    return row == 0 ? "Release notes " + std::to_string(round) + "\r\n" : data;
}

// Message boxes answered as they open, their captions and texts kept.
std::vector<std::string> boxes;
HHOOK box_hook;

LRESULT CALLBACK answer_box(int code, WPARAM wparam, LPARAM lparam)
{
    HWND box = reinterpret_cast<HWND>(wparam);
    char window_class[16] = "";
    if (code == HCBT_ACTIVATE && GetClassNameA(box, window_class, sizeof window_class) &&
        strcmp(window_class, "#32770") == 0) {
        boxes.push_back(window_text(box) + "|" + control_text(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(box_hook, code, wparam, lparam);
}

// A resource of exe's, "" when it has none.
std::string resource(const std::string &exe, int type, int id)
{
    HMODULE module = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id), 0);
    std::string bytes;
    if (found)
        bytes.assign(static_cast<const char *>(LockResource(LoadResource(module, found))),
                     SizeofResource(module, found));
    FreeLibrary(module);
    return bytes;
}

// The payload of row as the package holds it, unpacked with zlib alone: "?" unless it is a size header followed
// by exactly one zlib stream of that size.
std::string payload(const std::string &exe, int row)
{
    std::string bytes = resource(exe, 10, payload_manifest[row].resource_id);
    if (bytes.size() < 4)
        return "?";
    const unsigned char *header = reinterpret_cast<const unsigned char *>(bytes.data());
    uLongf length = header[0] | header[1] << 8 | header[2] << 16 | static_cast<uLongf>(header[3]) << 24;
    std::string out(length + 1, '\0');
    uLong used = bytes.size() - 4;
    int status = uncompress2(reinterpret_cast<Bytef *>(&out[0]), &length, header + 4, &used);
    return status == Z_OK && used == bytes.size() - 4 && length + 1 == out.size() ? out.substr(0, length) : "?";
}

class Packing : public ::testing::Test
{
  protected:
    std::string dir, target;
    char previous_dir[MAX_PATH];

    void SetUp() override
    {
        dir = make_temp_dir("pack");
        target = dir + "\\" + PACKAGE_TARGET;
        ASSERT_TRUE(CopyFileA(env_path("OSTREVAN_UPDATER").c_str(), target.c_str(), FALSE));
        GetCurrentDirectoryA(sizeof previous_dir, previous_dir);
        SetCurrentDirectoryA(dir.c_str());
        boxes.clear();
        box_hook = SetWindowsHookExA(WH_CBT, answer_box, NULL, GetCurrentThreadId());
    }
    void TearDown() override
    {
        UnhookWindowsHookEx(box_hook);
        SetCurrentDirectoryA(previous_dir);
        remove_tree(dir);
    }
    void write_sources(int round)
    {
        for (int row = 0; row < PAYLOAD_ROWS; ++row)
            ASSERT_TRUE(write_file(dir + "\\" + payload_manifest[row].source_name, source_content(row, round)));
    }
};

// Each source behind its size header, again with new sources; a missing one is named in a box, and its
// payload is kept while the others are replaced; the updater's own resources stay as they were.
TEST_F(Packing, EveryRowIsPackedAndPackedAgain)
{
    std::string bare = env_path("OSTREVAN_UPDATER");
    write_sources(0);
    ASSERT_TRUE(pack_payloads());
    EXPECT_EQ(missing_payload_sources(), 0);
    EXPECT_TRUE(boxes.empty());
    for (int row = 0; row < PAYLOAD_ROWS; ++row)
        EXPECT_TRUE(payload(target, row) == source_content(row, 0)) << payload_manifest[row].source_name;

    write_sources(1);
    DeleteFileA(payload_manifest[2].source_name);
    EXPECT_TRUE(pack_payloads());
    EXPECT_EQ(missing_payload_sources(), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{std::string("File Not Found|") + payload_manifest[2].source_name});
    for (int row = 0; row < PAYLOAD_ROWS; ++row)
        EXPECT_TRUE(payload(target, row) == source_content(row, row == 2 ? 0 : 1)) << payload_manifest[row].source_name;
    EXPECT_TRUE(resource(target, 5, 103) == resource(bare, 5, 103) && !resource(bare, 5, 103).empty());
}

// A source that cannot be read whole (larger than the packer can size) fails the row, and a failed row discards
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
    ASSERT_TRUE(SetFilePointerEx(huge, three_gb, NULL, FILE_BEGIN) && SetEndOfFile(huge));
    CloseHandle(huge);
    EXPECT_FALSE(pack_payloads());
    EXPECT_TRUE(read_file(target) == packed);
}

TEST_F(Packing, MissingTargetFailsAndThePackerProgramSaysSo)
{
    write_sources(0);
    std::string bare = dir + "\\bare.exe";
    ASSERT_TRUE(MoveFileA(target.c_str(), bare.c_str()));
    EXPECT_FALSE(pack_payloads());
    EXPECT_FALSE(file_exists(target));

    // The packer program exits 0 only when every payload was written.
    std::string packer = env_path("OSTREVAN_PACKER");
    auto run_packer = [&]() -> DWORD {
        PROCESS_INFORMATION process;
        if (!start_process("\"" + packer + "\"", "", &process))
            return 1000;
        // A missing source opens a box in the packer; answer it as a person would.
        for (int waited = 0; WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT && waited < 30000;
             waited += 10) {
            HWND box = wait_for_window(process.dwProcessId, 0xFFFF, true, 0);
            if (box && PostMessageA(box, WM_COMMAND, IDOK, 0))
                boxes.push_back(control_text(box, 0xFFFF));
        }
        return finish_process(&process, 0);
    };
    EXPECT_EQ(run_packer(), 1u) << "no target";
    ASSERT_TRUE(CopyFileA(bare.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(run_packer(), 0u) << "all sources";
    EXPECT_TRUE(boxes.empty());
    DeleteFileA("main.bin");
    EXPECT_EQ(run_packer(), 1u) << "one source missing";
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0], "main.bin");
}

} // namespace
