// update_run_test.cpp -- the packed updater run as a player runs it, against the demo installation on disk: the
// update in each language with the game started by the desktop shell, a second updater, and DLLs planted beside
// it. Failures, interruptions and every other outcome are proven on the sweep build (sweep_test.cpp).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "res/resource.h"
#include "tests/win_test_support.h"

namespace
{

const char STARTED_FILE[] = "ostrevan_started.txt";

// What a run showed and how it ended.
struct RunResult {
    std::string caption, message, details;
    int progress_position = -1; // where the ended, not destroyed, progress window stopped
    std::string progress_label;
    Tree during_dialog;
    DWORD exit_code = 999;
    DWORD process_id = 0;
};

class UpdateRun : public ::testing::Test
{
  protected:
    std::string package; // the packed updater and the 1.02 sources beside it
    std::string game;    // this test's installation
    std::string work;    // the updater's current directory

    void SetUp() override
    {
        package = env_path("OSTREVAN_PACKAGE_DIR");
        ASSERT_TRUE(file_exists(package + "\\Ostrevan_Patch102.exe")) << package;
        game = make_temp_dir("game");
        work = make_temp_dir("work");
        remove_game_key();
    }
    void TearDown() override
    {
        remove_game_key();
        remove_tree(game);
        remove_tree(work);
    }

    // Runs the updater, answers its result dialog with OK or Cancel and waits for its end.
    RunResult run_updater(bool ok, const std::string &updater = "")
    {
        RunResult result;
        std::string command = "\"" + (updater.empty() ? package + "\\Ostrevan_Patch102.exe" : updater) + "\"";
        PROCESS_INFORMATION process;
        if (!start_process(command, work, &process)) {
            ADD_FAILURE() << "cannot start " << command;
            return result;
        }
        result.process_id = process.dwProcessId;
        HWND dialog = wait_for_window(process.dwProcessId, IDC_MESSAGE, true, 60000);
        if (dialog) {
            result.caption = window_text(dialog);
            result.message = control_text(dialog, IDC_MESSAGE);
            result.details = control_text(dialog, IDC_DETAILS_BOX);
            HWND progress = wait_for_window(process.dwProcessId, IDC_PROGRESS_BAR, false, 0);
            if (progress) {
                result.progress_position =
                    static_cast<int>(SendMessageA(GetDlgItem(progress, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
                result.progress_label = control_text(progress, IDC_FILE_LABEL);
            }
            result.during_dialog = snapshot(game);
            PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
        } else {
            ADD_FAILURE() << "no result dialog";
        }
        result.exit_code = finish_process(&process, dialog ? 30000 : 0);
        return result;
    }

    // The version of the game started in its directory, and the process that started it ("ID NAME", the
    // name "?" when that process had ended before the game looked); "" when none started within wait_ms.
    std::string started_version(int wait_ms, std::string *parent = NULL)
    {
        for (int waited = 0; waited <= wait_ms; waited += 50) {
            std::string record = read_file(game + "\\" + STARTED_FILE);
            if (record.find("\r\ncommand") != std::string::npos) {
                EXPECT_NE(record.find("directory " + game + "\r\n"), std::string::npos) << record;
                size_t at = record.find("\r\nparent ") + 9;
                if (parent)
                    *parent = record.substr(at, record.find('\r', at) - at);
                return record.substr(8, record.find('\r') - 8);
            }
            Sleep(50);
        }
        return "";
    }

    void expect_updated(const Tree &before, int language)
    {
        Tree after = snapshot(game);
        after.erase(STARTED_FILE);
        Tree expected = expected_102(before, package, language);
        EXPECT_TRUE(after == expected) << "the installation is not 1.02:" << changes(expected, after);
    }
};

// Once per language, under that language's locale (for Russian, code page 1251).
TEST_F(UpdateRun, ReadyInEachLanguageReplacesEverythingAndStartsTheGame)
{
    int language = atoi(getenv("OSTREVAN_LANGUAGE") ? getenv("OSTREVAN_LANGUAGE") : "1");
    install_101(game, language);
    Tree before = snapshot(game);
    RunResult r = run_updater(true);
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.caption, catalogue_text(language, Title));
    EXPECT_EQ(r.message, catalogue_text(language, Succeeded));
    EXPECT_EQ(r.details, read_file(package + "\\Patch102Notes.txt"));
    EXPECT_EQ(r.progress_position, 85);
    EXPECT_EQ(r.progress_label, "patch1.bin");
    Tree expected = expected_102(before, package, language);
    EXPECT_TRUE(r.during_dialog == expected) << "while the dialog is shown:" << changes(expected, r.during_dialog);
    std::string parent;
    EXPECT_EQ(started_version(10000, &parent), "1.02");
    EXPECT_EQ(parent.substr(parent.find(' ') + 1), "explorer.exe") << "started by the desktop shell, not the updater";
    expect_updated(before, language);
    EXPECT_EQ(list_dir(work).size(), 0u);
}

// A double click starts two: the second brings the first one's window forward and leaves.
TEST_F(UpdateRun, SecondUpdaterLeavesTheFirstOneAlone)
{
    install_101(game, 1);
    Tree before = snapshot(game);
    std::string command = "\"" + package + "\\Ostrevan_Patch102.exe\"";
    PROCESS_INFORMATION first, second;
    ASSERT_TRUE(start_process(command, work, &first));
    HWND dialog = wait_for_window(first.dwProcessId, IDC_MESSAGE, true, 60000);
    ASSERT_TRUE(dialog != NULL);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    SetForegroundWindow(other);
    ASSERT_NE(GetForegroundWindow(), dialog);

    ASSERT_TRUE(start_process(command, work, &second));
    EXPECT_EQ(finish_process(&second, 20000), 0u) << "the second updater did not leave by itself";
    EXPECT_EQ(GetForegroundWindow(), dialog);
    DestroyWindow(other);
    EXPECT_EQ(control_text(dialog, IDC_MESSAGE), catalogue_text(1, Succeeded));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(finish_process(&first, 30000), 0u);
    EXPECT_EQ(started_version(1000), "");
    expect_updated(before, 1);
}

// The updater runs elevated from the player's download folder. A DLL lying there under a name of
// OSTREVAN_PLANTED_DLLS, every DLL that a run loads (the game's start through the shell included) and those that
// installers have been tricked with, is never loaded, although Wine is told to prefer it (WINEDLLOVERRIDES, =n,b),
// as Windows prefers a DLL beside the program for every name that is not a known DLL.
TEST_F(UpdateRun, PlantedDllsBesideTheUpdaterAreNeverLoaded)
{
    std::string planted = getenv("OSTREVAN_PLANTED_DLLS") ? getenv("OSTREVAN_PLANTED_DLLS") : "";
    ASSERT_FALSE(planted.empty());
    install_101(game, 1);
    Tree before = snapshot(game);
    std::string updater = work + "\\Ostrevan_Patch102.exe";
    ASSERT_TRUE(CopyFileA((package + "\\Ostrevan_Patch102.exe").c_str(), updater.c_str(), FALSE));
    for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
        end = planted.find(',', at);
        std::string dll = work + "\\" + planted.substr(at, end - at) + ".dll";
        ASSERT_TRUE(CopyFileA(env_path("OSTREVAN_PLANTED_DLL").c_str(), dll.c_str(), FALSE)) << dll;
    }
    RunResult r = run_updater(true, updater);
    for (const std::string &name : list_dir(work)) {
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0)
            ADD_FAILURE() << name.substr(0, name.size() - 7) << " was loaded by " << read_file(work + "\\" + name);
    }
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.message, catalogue_text(1, Succeeded));
    EXPECT_EQ(started_version(10000), "1.02");
    expect_updated(before, 1);
}

} // namespace
