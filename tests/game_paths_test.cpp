// game_paths_test.cpp -- the paths of the game directory and the limit that every one of them must keep
#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "app/game_paths.h"
#include "app/state.h"
#include "app/text_buffer.h"

namespace
{

void set_install_dir(size_t length)
{
    copy_text(install_dir, sizeof install_dir, std::string(length, 'd').c_str());
}

TEST(GamePaths, RowPathsFollowTheInstalledName)
{
    copy_text(install_dir, sizeof install_dir, "C:\\Games\\Ostrevan");
    GamePaths paths;
    ASSERT_TRUE(format_game_paths(&paths, "main.bin"));
    EXPECT_STREQ(paths.temporary, "C:\\Games\\Ostrevan\\~main.bin");
    EXPECT_STREQ(paths.installed, "C:\\Games\\Ostrevan\\main.bin");
    EXPECT_STREQ(paths.backup, "C:\\Games\\Ostrevan\\~main.bin.bak");
}

// The longest path is the backup of the release notes: the directory, "\~Patch102Notes.txt.bak"
// (23 characters) and the terminator must fit 260 bytes.
TEST(GamePaths, EveryPathMustFitTheFileCalls)
{
    set_install_dir(236);
    EXPECT_TRUE(game_paths_fit());
    set_install_dir(237);
    EXPECT_FALSE(game_paths_fit());
    set_install_dir(255);
    EXPECT_FALSE(game_paths_fit());
    GamePaths paths;
    EXPECT_FALSE(format_game_paths(&paths, "Patch102Notes.txt"));
    EXPECT_EQ(strlen(paths.temporary), GAME_PATH_SIZE - 1u) << "cut to fit, terminated";
}

} // namespace
