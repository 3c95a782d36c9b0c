// pack_test.cpp -- the package builder against a real executable, read back through the real resource calls
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

std::string test_program_dir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\'));
}

// Deterministic contents of every kind: text, empty, incompressible, compressible.
std::string source_content(int row, int round)
{
    std::string data;
    uint32_t state = 1234567u + row * 77u + round * 1000003u;
    auto next = [&state] { return state ^= state << 13, state ^= state >> 17, state ^= state << 5; };
    switch (row) {
    case 0:
        for (int i = 0; i < 40; ++i)
            data += "Release notes line " + std::to_string(i + round) + "\r\n";
        return data;
    case 1:
        return round == 0 ? "" : "config";
    case 2:
        for (int i = 0; i < 30000; ++i)
            data += static_cast<char>(next());
        return data;
    default:
        for (int i = 0; i < 300000; ++i)
            data += static_cast<char>(i % 97 == 0 ? next() : 'a' + (i + row + round) % 7);
        return data;
    }
}

// Message boxes answered as they open, their captions and texts kept, each box once.
std::vector<std::string> boxes;
HHOOK box_hook;
HWND last_box;

LRESULT CALLBACK answer_box(int code, WPARAM wparam, LPARAM lparam)
{
    char window_class[16] = "";
    if (code == HCBT_ACTIVATE)
        GetClassNameA(reinterpret_cast<HWND>(wparam), window_class, sizeof window_class);
    if (strcmp(window_class, "#32770") == 0 && reinterpret_cast<HWND>(wparam) != last_box) {
        HWND box = reinterpret_cast<HWND>(wparam);
        last_box = box;
        boxes.push_back(window_text(box) + "|" + control_text(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(box_hook, code, wparam, lparam);
}

struct Resource {
    bool found;
    std::string bytes;
};

Resource read_resource(HMODULE module, LPCSTR type, int id)
{
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), 0);
    if (!found)
        return {false, ""};
    const char *bytes = static_cast<const char *>(LockResource(LoadResource(module, found)));
    return {true, std::string(bytes, SizeofResource(module, found))};
}

BOOL CALLBACK count_name(HMODULE, LPCSTR, LPSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

BOOL CALLBACK count_language(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

class Packing : public ::testing::Test
{
  protected:
    std::string dir;
    std::string target;
    char previous_dir[MAX_PATH];

    void SetUp() override
    {
        dir = make_temp_dir("pack");
        target = dir + "\\" + PACKAGE_TARGET;
        ASSERT_TRUE(CopyFileA((test_program_dir() + "\\pack_target.exe").c_str(), target.c_str(), FALSE));
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
    // Runs the packed target, which unpacks all it carries in both modes into a new directory.
    std::string unpack_with_target()
    {
        std::string out = dir + "\\out";
        CreateDirectoryA(out.c_str(), NULL);
        PROCESS_INFORMATION process;
        if (!start_process("\"" + target + "\" \"" + out + "\"", "", &process))
            return "";
        EXPECT_EQ(finish_process(&process, 30000), 0u) << "the packed program could not unpack all it carries";
        return out;
    }
};

TEST_F(Packing, EveryRowRoundTripsThroughThePackedProgram)
{
    write_sources(0);
    ASSERT_TRUE(pack_payloads());
    EXPECT_EQ(missing_payload_sources(), 0);
    EXPECT_TRUE(boxes.empty());

    HMODULE module = LoadLibraryExA(target.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module != NULL);
    for (int row = 0; row < PAYLOAD_ROWS; ++row) {
        SCOPED_TRACE(payload_manifest[row].source_name);
        std::string source = source_content(row, 0);
        Resource resource = read_resource(module, MAKEINTRESOURCEA(10), payload_manifest[row].resource_id);
        ASSERT_TRUE(resource.found);
        ASSERT_GE(resource.bytes.size(), 6u);
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(resource.bytes.data());
        EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24, source.size());
        EXPECT_EQ(bytes[4], 0x78);
        EXPECT_EQ(bytes[5], 0x9C);
        // zlib alone: the stream holds the source and ends exactly at the resource's end.
        std::string out(source.size() + 1, '\0');
        z_stream z = {};
        inflateInit(&z);
        z.next_in = const_cast<unsigned char *>(bytes + 4);
        z.avail_in = static_cast<uInt>(resource.bytes.size() - 4);
        z.next_out = reinterpret_cast<unsigned char *>(&out[0]);
        z.avail_out = static_cast<uInt>(out.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        EXPECT_EQ(z.avail_in, 0u);
        out.resize(z.total_out);
        inflateEnd(&z);
        EXPECT_TRUE(out == source);
    }
    FreeLibrary(module);

    std::string out = unpack_with_target();
    for (int row = 0; row < PAYLOAD_ROWS; ++row) {
        std::string name = payload_manifest[row].source_name;
        EXPECT_TRUE(read_file(out + "\\~" + name) == source_content(row, 0)) << name << " in file mode";
        EXPECT_TRUE(read_file(out + "\\mem_" + name) == source_content(row, 0)) << name << " in memory mode";
    }
}

TEST_F(Packing, PackingAgainReplacesThePayloadsAndKeepsTheRest)
{
    HMODULE original = LoadLibraryExA(target.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    Resource dialog = read_resource(original, MAKEINTRESOURCEA(5), 103);
    Resource kept = read_resource(original, MAKEINTRESOURCEA(10), 999);
    FreeLibrary(original);
    ASSERT_TRUE(dialog.found && kept.found);

    write_sources(0);
    ASSERT_TRUE(pack_payloads());
    write_sources(1);
    // A missing source: one box naming it, the other six packed, its old resource kept.
    DeleteFileA(payload_manifest[2].source_name);
    EXPECT_TRUE(pack_payloads());
    EXPECT_EQ(missing_payload_sources(), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{std::string("File Not Found|") + payload_manifest[2].source_name});

    HMODULE module = LoadLibraryExA(target.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module != NULL);
    int names = 0;
    EnumResourceNamesA(module, MAKEINTRESOURCEA(10), count_name, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names, PAYLOAD_ROWS + 1);
    for (int row = 0; row < PAYLOAD_ROWS; ++row) {
        int languages = 0;
        EnumResourceLanguagesA(module, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(payload_manifest[row].resource_id),
                               count_language, reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(languages, 1) << payload_manifest[row].source_name;
    }
    EXPECT_TRUE(read_resource(module, MAKEINTRESOURCEA(5), 103).bytes == dialog.bytes);
    EXPECT_TRUE(read_resource(module, MAKEINTRESOURCEA(10), 999).bytes == kept.bytes);
    FreeLibrary(module);

    std::string out = unpack_with_target();
    for (int row = 0; row < PAYLOAD_ROWS; ++row) {
        std::string name = payload_manifest[row].source_name;
        EXPECT_TRUE(read_file(out + "\\~" + name) == source_content(row, row == 2 ? 0 : 1)) << name;
    }
}

TEST_F(Packing, MissingTargetFailsAndThePackerProgramSaysSo)
{
    write_sources(0);
    DeleteFileA(target.c_str());
    EXPECT_FALSE(pack_payloads());
    EXPECT_FALSE(file_exists(target));

    // The packer program: 0 only when every payload was written.
    std::string packer = test_program_dir() + "\\..\\packer.exe";
    auto run_packer = [&]() -> DWORD {
        PROCESS_INFORMATION process;
        if (!start_process("\"" + packer + "\"", "", &process))
            return 1000;
        // A missing source opens a box in the packer; answer it as a person would.
        HWND answered = NULL;
        for (int waited = 0; WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT && waited < 30000;
             waited += 10) {
            HWND box = wait_for_window(process.dwProcessId, 0xFFFF, true, 0);
            if (box && box != answered) {
                boxes.push_back(control_text(box, 0xFFFF));
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                answered = box;
            }
        }
        return finish_process(&process, 0);
    };
    EXPECT_EQ(run_packer(), 1u) << "no target";
    ASSERT_TRUE(CopyFileA((test_program_dir() + "\\pack_target.exe").c_str(), target.c_str(), FALSE));
    boxes.clear();
    EXPECT_EQ(run_packer(), 0u) << "all sources";
    EXPECT_TRUE(boxes.empty());
    DeleteFileA("main.bin");
    EXPECT_EQ(run_packer(), 1u) << "one source missing";
    EXPECT_EQ(boxes, std::vector<std::string>{"main.bin"});
}

} // namespace
