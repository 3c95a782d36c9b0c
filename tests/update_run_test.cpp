// update_run_test.cpp -- the packed updater run as a player runs it, against a demo installation on disk
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <stdio.h>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "payload/manifest.h"
#include "res/resource.h"
#include "tests/win_test_support.h"

namespace
{

enum Answer { ANSWER_OK, ANSWER_CANCEL, ANSWER_CLOSE_BOX };

const char *const INSTALLED_NAMES[] = {"Patch102Notes.txt", "Config.exe", "Ostrevan.exe", "main.bin", "patch1.bin"};
const char *const MARKERS[] = {"", "local.bin", "local_german.bin", "local_russian.bin"};
const char *const PATCH_SOURCES[] = {"", "patch1_en.bin", "patch1_de.bin", "patch1_ru.bin"};
const char STARTED_FILE[] = "ostrevan_started.txt";

// What a run showed and how it ended.
struct RunResult {
    bool dialog = false;
    std::string caption, message, details;
    bool progress_created = false;
    int progress_position = -1;
    std::string progress_label;
    std::vector<std::string> files_during_dialog;
    DWORD exit_code = 999;
    DWORD process_id = 0;
};

// The process that started the game in directory game, as the game recorded it: "ID NAME", the name "?"
// when that process had ended before the game looked.
std::string game_parent(const std::string &game)
{
    std::string record = read_file(game + "\\" + STARTED_FILE);
    size_t line = record.find("\r\nparent ");
    if (line == std::string::npos)
        return "";
    return record.substr(line + 9, record.find('\r', line + 9) - line - 9);
}

class UpdateRun : public ::testing::Test
{
  protected:
    std::string package;   // the packed updater and the 1.02 sources beside it
    std::string installed; // the demo game 1.01, without marker
    std::string game;      // this test's installation
    std::string work;      // the updater's current directory

    void SetUp() override
    {
        package = env_path("OSTREVAN_PACKAGE_DIR");
        installed = env_path("OSTREVAN_INSTALL_101");
        ASSERT_TRUE(file_exists(package + "\\Ostrevan_Patch102.exe")) << package;
        ASSERT_TRUE(file_exists(installed + "\\Ostrevan.exe")) << installed;
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

    void install_101(int language)
    {
        for (const std::string &name : list_dir(installed))
            ASSERT_TRUE(CopyFileA((installed + "\\" + name).c_str(), (game + "\\" + name).c_str(), FALSE));
        if (language) {
            ASSERT_TRUE(write_file(game + "\\" + MARKERS[language], ""));
        }
        set_game_path(game);
    }

    // The installation as the update leaves it in language.
    Tree expected_102(const Tree &before, int language)
    {
        Tree tree = before;
        for (const char *name : INSTALLED_NAMES)
            tree[name] =
                read_file(package + "\\" + (std::string(name) == "patch1.bin" ? PATCH_SOURCES[language] : name));
        return tree;
    }

    RunResult run_updater(Answer answer, const std::string &updater = "")
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
            result.dialog = true;
            result.caption = window_text(dialog);
            result.message = control_text(dialog, IDC_MESSAGE);
            result.details = control_text(dialog, IDC_DETAILS_BOX);
            // The progress window is ended, not destroyed: it tells how far the unpacking went.
            HWND progress = wait_for_window(process.dwProcessId, IDC_PROGRESS_BAR, false, 0);
            if (progress) {
                result.progress_created = true;
                result.progress_position =
                    static_cast<int>(SendMessageA(GetDlgItem(progress, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
                result.progress_label = control_text(progress, IDC_FILE_LABEL);
            }
            result.files_during_dialog = list_dir(game);
            if (answer == ANSWER_CLOSE_BOX)
                PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            else
                PostMessageA(dialog, WM_COMMAND, answer == ANSWER_OK ? IDOK : IDCANCEL, 0);
        } else {
            ADD_FAILURE() << "no result dialog";
        }
        result.exit_code = finish_process(&process, dialog ? 30000 : 0);
        return result;
    }

    // Whether the game was started in its directory, and which version.
    std::string started_version(int wait_ms)
    {
        for (int waited = 0; waited <= wait_ms; waited += 50) {
            std::string started = read_file(game + "\\" + STARTED_FILE);
            if (started.find("\r\ncommand") != std::string::npos) {
                EXPECT_NE(started.find("directory " + game + "\r\n"), std::string::npos) << started;
                return started.substr(8, started.find('\r') - 8);
            }
            Sleep(50);
        }
        return "";
    }

    // The state of a commit killed after it replaced the first `replaced` installed files: every
    // old file kept under its backup name, then the journal written (cut short unless whole_journal),
    // then the renames of the temporary files, in manifest order.
    void craft_interrupted_commit(int language, size_t replaced, bool whole_journal)
    {
        std::string journal;
        for (size_t i = 0; i < sizeof INSTALLED_NAMES / sizeof *INSTALLED_NAMES; ++i) {
            std::string name = INSTALLED_NAMES[i];
            std::string path = game + "\\" + name;
            std::string source = package + "\\" + (name == "patch1.bin" ? PATCH_SOURCES[language] : name);
            DWORD attributes = GetFileAttributesA(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                journal += "new " + name + "\n";
            } else {
                char line[128];
                snprintf(line, sizeof line, "old %lx %s\n", static_cast<unsigned long>(attributes), name.c_str());
                journal += line;
                ASSERT_TRUE(CopyFileA(path.c_str(), (game + "\\~" + name + ".bak").c_str(), FALSE));
            }
            std::string target = i < replaced ? path : game + "\\~" + name;
            ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << target;
        }
        journal += "end\n";
        if (!whole_journal)
            journal.resize(journal.size() / 2);
        ASSERT_TRUE(write_file(game + "\\~Patch102.journal", journal));
    }

    // The updater with every payload of the package but resource_id.
    std::string updater_without(int resource_id)
    {
        std::string copy = work + "\\..\\Ostrevan_Patch102_without_" + std::to_string(resource_id) + ".exe";
        EXPECT_TRUE(CopyFileA(env_path("OSTREVAN_UPDATER").c_str(), copy.c_str(), FALSE));
        EXPECT_TRUE(copy_payloads(package + "\\Ostrevan_Patch102.exe", copy, resource_id));
        return copy;
    }
};

TEST_F(UpdateRun, ReadyInEachLanguageReplacesEverythingAndStartsTheGame)
{
    // Run once per language, under that language's locale (for Russian, code page 1251).
    int language = atoi(getenv("OSTREVAN_LANGUAGE") ? getenv("OSTREVAN_LANGUAGE") : "1");
    install_101(language);
    Tree before = snapshot(game);
    RunResult r = run_updater(ANSWER_OK);
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.caption, catalogue_text(language, Title));
    EXPECT_EQ(r.message, catalogue_text(language, Succeeded));
    EXPECT_EQ(r.details, read_file(package + "\\Patch102Notes.txt"));
    EXPECT_TRUE(r.progress_created);
    EXPECT_EQ(r.progress_position, 85);
    EXPECT_EQ(r.progress_label, "patch1.bin");
    EXPECT_EQ(started_version(10000), "1.02");
    std::string parent = game_parent(game);
    EXPECT_EQ(parent.substr(parent.find(' ') + 1), "explorer.exe") << "started by the desktop shell, not the updater";
    EXPECT_NE(parent, std::to_string(r.process_id) + " Ostrevan_Patch102.exe");
    Tree after = snapshot(game);
    after.erase(STARTED_FILE);
    EXPECT_TRUE(after == expected_102(before, language)) << "the installation is not 1.02 in this language";
    EXPECT_EQ(list_dir(work).size(), 0u);
}

TEST_F(UpdateRun, NoInstallationShowsNotInstalledAndWritesNothing)
{
    // Without a game directory the temporary paths would name files at the root of the drive.
    std::string root_file = work.substr(0, 2) + "\\~main.bin";
    ASSERT_TRUE(write_file(root_file, "not the updater's"));
    RunResult r = run_updater(ANSWER_OK);
    EXPECT_EQ(read_file(root_file), "not the updater's");
    DeleteFileA(root_file.c_str());
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.message, catalogue_text(1, Failed));
    EXPECT_EQ(r.details, catalogue_text(1, NotInstalled));
    EXPECT_FALSE(r.progress_created);
    EXPECT_EQ(list_dir(work).size(), 0u);
    EXPECT_EQ(list_dir(game).size(), 0u);
}

TEST_F(UpdateRun, DamagedInstallationIsLeftAloneAndOldTemporaryFilesGoAfterTheDialog)
{
    install_101(0);
    Tree before = snapshot(game);
    ASSERT_TRUE(write_file(game + "\\~main.bin", "left by an earlier run"));
    ASSERT_TRUE(write_file(game + "\\~patch1.bin", "left by an earlier run"));
    RunResult r = run_updater(ANSWER_OK);
    EXPECT_EQ(r.message, catalogue_text(1, Failed));
    EXPECT_EQ(r.details, catalogue_text(1, Corrupt));
    EXPECT_FALSE(r.progress_created);
    EXPECT_EQ(std::count(r.files_during_dialog.begin(), r.files_during_dialog.end(), "~main.bin"), 1);
    EXPECT_TRUE(snapshot(game) == before);
    EXPECT_EQ(started_version(1500), "");
}

TEST_F(UpdateRun, MissingPayloadStopsTheUnpackingAndChangesNothing)
{
    install_101(2);
    Tree before = snapshot(game);
    RunResult r = run_updater(ANSWER_OK, updater_without(1104));
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.message, catalogue_text(2, Failed));
    EXPECT_EQ(r.details, "Corrupt Patch File: main.bin Not Found! [716]\n");
    EXPECT_EQ(r.progress_position, 42);
    EXPECT_EQ(r.progress_label, "main.bin");
    std::vector<std::string> temporary;
    for (const std::string &name : r.files_during_dialog) {
        if (name[0] == '~')
            temporary.push_back(name);
    }
    EXPECT_EQ(temporary, (std::vector<std::string>{"~Config.exe", "~Ostrevan.exe", "~Patch102Notes.txt"}));
    EXPECT_TRUE(snapshot(game) == before);
    EXPECT_EQ(started_version(1500), "");
}

TEST_F(UpdateRun, SuccessThenCancelOrCloseBoxCommitsWithoutStartingTheGame)
{
    for (Answer answer : {ANSWER_CANCEL, ANSWER_CLOSE_BOX}) {
        SCOPED_TRACE(answer == ANSWER_CANCEL ? "Cancel" : "close box");
        remove_tree(game);
        CreateDirectoryA(game.c_str(), NULL);
        install_101(1);
        Tree before = snapshot(game);
        RunResult r = run_updater(answer);
        EXPECT_EQ(r.exit_code, 0u);
        EXPECT_EQ(r.message, catalogue_text(1, Succeeded));
        EXPECT_TRUE(snapshot(game) == expected_102(before, 1));
        EXPECT_EQ(started_version(1500), "");
    }
}

// A file that cannot be replaced: held open without write sharing, or a directory of its name.
TEST_F(UpdateRun, CommitFailureAtAnyFilePutsEverythingBack)
{
    for (const char *name : INSTALLED_NAMES) {
        SCOPED_TRACE(name);
        remove_tree(game);
        CreateDirectoryA(game.c_str(), NULL);
        install_101(3);
        std::string path = game + "\\" + name;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (file_exists(path))
            held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        else
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL));
        Tree before = snapshot(game);
        RunResult r = run_updater(ANSWER_OK);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(r.exit_code, 0u);
        EXPECT_EQ(r.message, catalogue_text(3, Failed));
        EXPECT_EQ(r.details.rfind(std::string("Can't Replace File: ") + name + " [", 0), 0u) << r.details;
        EXPECT_EQ(std::count(r.details.begin(), r.details.end(), '\n'), 1) << r.details;
        Tree after = snapshot(game);
        EXPECT_TRUE(after == before) << "the installation changed:" << changes(before, after) << "\n" << r.details;
        EXPECT_EQ(started_version(1000), "");
    }
}

TEST_F(UpdateRun, RunKilledWhileUnpackingLeavesWholeFilesAndTheNextRunFinishes)
{
    install_101(2);
    Tree before = snapshot(game);
    Tree after = expected_102(before, 2);
    PROCESS_INFORMATION process;
    ASSERT_TRUE(start_process("\"" + package + "\\Ostrevan_Patch102.exe\"", work, &process));
    EXPECT_TRUE(wait_for_window(process.dwProcessId, IDC_PROGRESS_BAR, true, 60000) != NULL);
    finish_process(&process, 0);
    for (const auto &file : snapshot(game)) {
        bool whole = file.second == before[file.first] || file.second == after[file.first];
        EXPECT_TRUE(file.first[0] == '~' || whole) << file.first;
    }

    RunResult r = run_updater(ANSWER_CANCEL);
    EXPECT_EQ(r.message, catalogue_text(2, Succeeded));
    EXPECT_TRUE(snapshot(game) == after);
}

// A commit cut short and the runs after it: every backup kept, then the journal, then the renames.
TEST_F(UpdateRun, InterruptedCommitIsUndoneBeforeAnythingElse)
{
    install_101(2);
    Tree before = snapshot(game);
    for (size_t replaced : {0, 2, 5}) {
        SCOPED_TRACE("killed after " + std::to_string(replaced) + " files were replaced");
        craft_interrupted_commit(2, replaced, true);
        // An update that then fails leaves exactly the old installation, and nothing of either run.
        RunResult failed = run_updater(ANSWER_OK, updater_without(1104));
        EXPECT_EQ(failed.message, catalogue_text(2, Failed));
        Tree after = snapshot(game);
        EXPECT_TRUE(after == before) << changes(before, after);
    }
    craft_interrupted_commit(2, 3, true);
    RunResult good = run_updater(ANSWER_CANCEL);
    EXPECT_EQ(good.message, catalogue_text(2, Succeeded));
    EXPECT_TRUE(snapshot(game) == expected_102(before, 2));
}

// Only a backup that was complete before the journal named it is put back, and only over a
// file that the interrupted commit had replaced.
TEST_F(UpdateRun, BackupsOfACommitCutShortAreNeverTrusted)
{
    install_101(1);
    Tree before = snapshot(game);
    std::string old_main = read_file(game + "\\main.bin");
    struct Case {
        const char *what;
        size_t replaced;
        bool whole_journal;
    } cases[] = {
        {"killed while writing the journal", 0, false},
        {"main.bin not replaced yet", 3, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        craft_interrupted_commit(1, c.replaced, c.whole_journal);
        ASSERT_TRUE(write_file(game + "\\~main.bin.bak", old_main.substr(0, old_main.size() / 3)));
        RunResult failed = run_updater(ANSWER_OK, updater_without(1104));
        EXPECT_EQ(failed.message, catalogue_text(1, Failed));
        Tree after = snapshot(game);
        EXPECT_TRUE(after == before) << changes(before, after);
    }
}

TEST_F(UpdateRun, InterruptedCommitThatCannotBeUndoneStopsTheRunUntilItCan)
{
    install_101(1);
    Tree before = snapshot(game);
    craft_interrupted_commit(1, 2, true);
    Tree interrupted = snapshot(game);

    // The game's settings program is running: its file cannot be put back.
    HANDLE held =
        CreateFileA((game + "\\Config.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult blocked = run_updater(ANSWER_OK);
    CloseHandle(held);
    EXPECT_EQ(blocked.message, catalogue_text(1, Failed));
    EXPECT_EQ(blocked.details.rfind("Can't Restore File: Config.exe [", 0), 0u) << blocked.details;
    EXPECT_FALSE(blocked.progress_created) << "nothing is unpacked over an installation half way";
    Tree after = snapshot(game);
    EXPECT_EQ(after.count("~Patch102.journal"), 1u) << changes(interrupted, after);
    EXPECT_EQ(after["Config.exe"], interrupted["Config.exe"]);
    EXPECT_EQ(after["~Config.exe.bak"], before["Config.exe"]);

    RunResult good = run_updater(ANSWER_CANCEL);
    EXPECT_EQ(good.message, catalogue_text(1, Succeeded));
    EXPECT_TRUE(snapshot(game) == expected_102(before, 1));
}

// Games copied from a disc keep their read-only attribute.
TEST_F(UpdateRun, ReadOnlyInstalledFileIsReplacedOrRestoredWithItsAttribute)
{
    install_101(1);
    std::string main_bin = game + "\\main.bin";
    ASSERT_TRUE(SetFileAttributesA(main_bin.c_str(), FILE_ATTRIBUTE_READONLY));
    Tree before = snapshot(game);

    // A failure after main.bin was replaced puts it back read-only.
    HANDLE held =
        CreateFileA((game + "\\patch1.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    RunResult failed = run_updater(ANSWER_OK);
    CloseHandle(held);
    EXPECT_EQ(failed.details.rfind("Can't Replace File: patch1.bin [", 0), 0u) << failed.details;
    Tree after = snapshot(game);
    EXPECT_TRUE(after == before) << changes(before, after);
    EXPECT_TRUE(GetFileAttributesA(main_bin.c_str()) & FILE_ATTRIBUTE_READONLY);

    RunResult good = run_updater(ANSWER_CANCEL);
    EXPECT_EQ(good.message, catalogue_text(1, Succeeded));
    after = snapshot(game);
    EXPECT_TRUE(after == expected_102(before, 1)) << changes(expected_102(before, 1), after);
}

// The registry value may be 255 characters long; the file calls reach 259.
TEST_F(UpdateRun, GamePathTooLongForEveryFileFailsAtOnceAndWritesNothing)
{
    std::string deep = game + "\\" + std::string(245 - game.size() - 1, 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL));
    game = deep;
    install_101(1);
    Tree before = snapshot(game);
    RunResult r = run_updater(ANSWER_OK);
    EXPECT_EQ(r.message, catalogue_text(1, Failed));
    EXPECT_EQ(r.details, "Game Folder Path Too Long: " + deep + " [ce]\n");
    EXPECT_FALSE(r.progress_created);
    Tree after = snapshot(game);
    EXPECT_TRUE(after == before) << changes(before, after);
    game = deep.substr(0, deep.rfind('\\'));
}

// A double click starts two: the second brings the first one's window forward and leaves.
TEST_F(UpdateRun, SecondUpdaterLeavesTheFirstOneAlone)
{
    install_101(1);
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
    EXPECT_TRUE(snapshot(game) == expected_102(before, 1));
}

// Killed after linking the backup of a read-only file, before the journal: the link shares the attribute.
TEST_F(UpdateRun, LeftoverBackupLinkedToAReadOnlyFileIsRemovedWithoutItsAttribute)
{
    install_101(1);
    std::string main_bin = game + "\\main.bin";
    ASSERT_TRUE(SetFileAttributesA(main_bin.c_str(), FILE_ATTRIBUTE_READONLY));
    Tree before = snapshot(game);
    ASSERT_TRUE(CreateHardLinkA((game + "\\~main.bin.bak").c_str(), main_bin.c_str(), NULL));
    RunResult failed = run_updater(ANSWER_OK, updater_without(1104));
    EXPECT_EQ(failed.message, catalogue_text(1, Failed));
    Tree after = snapshot(game);
    EXPECT_TRUE(after == before) << changes(before, after);
}

// The updater runs elevated from the player's download folder. A DLL lying there under a name of
// OSTREVAN_PLANTED_DLLS, every DLL that a run loads (the game's start through the shell included) and those that
// installers have been tricked with, is never loaded, although Wine is told to prefer it (WINEDLLOVERRIDES, =n,b),
// as Windows prefers a DLL beside the program for every name that is not a known DLL.
TEST_F(UpdateRun, PlantedDllsBesideTheUpdaterAreNeverLoaded)
{
    std::string planted = getenv("OSTREVAN_PLANTED_DLLS") ? getenv("OSTREVAN_PLANTED_DLLS") : "";
    ASSERT_FALSE(planted.empty());
    install_101(1);
    Tree before = snapshot(game);
    std::string updater = work + "\\Ostrevan_Patch102.exe";
    ASSERT_TRUE(CopyFileA((package + "\\Ostrevan_Patch102.exe").c_str(), updater.c_str(), FALSE));
    for (size_t at = 0; at < planted.size(); at = planted.find(',', at) + 1) {
        std::string dll = work + "\\" + planted.substr(at, planted.find(',', at) - at) + ".dll";
        ASSERT_TRUE(CopyFileA(env_path("OSTREVAN_PLANTED_DLL").c_str(), dll.c_str(), FALSE)) << dll;
        if (planted.find(',', at) == std::string::npos)
            break;
    }
    RunResult r = run_updater(ANSWER_OK, updater);

    for (const std::string &name : list_dir(work)) {
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0)
            ADD_FAILURE() << name.substr(0, name.size() - 7) << " was loaded by " << read_file(work + "\\" + name);
    }
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.message, catalogue_text(1, Succeeded));
    EXPECT_EQ(started_version(10000), "1.02");
    Tree after = snapshot(game);
    after.erase(STARTED_FILE);
    EXPECT_TRUE(after == expected_102(before, 1)) << changes(expected_102(before, 1), after);
}

TEST_F(UpdateRun, BackupsLeftAfterACompletedCommitAreRemoved)
{
    install_101(1);
    Tree before = snapshot(game);
    ASSERT_TRUE(write_file(game + "\\~main.bin.bak", "old"));
    RunResult r = run_updater(ANSWER_CANCEL);
    EXPECT_EQ(r.message, catalogue_text(1, Succeeded));
    EXPECT_TRUE(snapshot(game) == expected_102(before, 1));
}

// The shell's window list cannot be created, as on a system whose shell is another program: its class is
// redirected (TreatAs) to a class that nobody registered. After OK the updater starts the game itself, in
// its directory; after Cancel nothing is started.
TEST_F(UpdateRun, WithoutTheDesktopShellTheUpdaterStartsTheGameItself)
{
    const char window_list[] = "Software\\Classes\\CLSID\\{9BA05972-F6A8-11CF-A442-00A0C90A8F39}\\TreatAs";
    const char nobody[] = "{6F9D1B4A-0C3E-4E55-9A51-7D1A2B3C4D5E}";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, window_list, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(nobody), sizeof nobody);
    RegCloseKey(key);
    for (Answer answer : {ANSWER_CANCEL, ANSWER_OK}) {
        SCOPED_TRACE(answer == ANSWER_OK ? "OK" : "Cancel");
        remove_tree(game);
        CreateDirectoryA(game.c_str(), NULL);
        install_101(1);
        RunResult r = run_updater(answer);
        EXPECT_EQ(r.message, catalogue_text(1, Succeeded));
        if (answer == ANSWER_OK) {
            EXPECT_EQ(started_version(10000), "1.02");
            // The updater has usually ended by the time the game looks for its parent's name.
            std::string parent = game_parent(game);
            EXPECT_EQ(parent.substr(0, parent.find(' ')), std::to_string(r.process_id)) << parent;
        } else {
            EXPECT_EQ(started_version(1500), "");
        }
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, window_list);
}

} // namespace

namespace
{

// Every row of the manifest, as the progress window shows it while it is unpacked, seen from inside the updater by
// tests/row_probe.cpp; then the result dialog, over an installation that is already 1.02.
TEST_F(UpdateRun, RealRunShowsEveryRowThenTheDialogOverTheNewFiles)
{
    install_101(3);
    Tree before = snapshot(game);
    std::string log = work + "\\..\\rows.txt";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("OSTREVAN_ROW_LOG", log.c_str());
    HMODULE probe = LoadLibraryA(env_path("OSTREVAN_ROW_PROBE").c_str());
    HOOKPROC hook_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void *>(GetProcAddress(probe, "row_probe")));
    ASSERT_TRUE(hook_proc != NULL);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string command = "\"" + package + "\\Ostrevan_Patch102.exe\"";
    ASSERT_TRUE(
        CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, work.c_str(), &startup, &process));
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, hook_proc, probe, process.dwThreadId);
    EXPECT_TRUE(hook != NULL);
    ResumeThread(process.hThread);
    HWND dialog = wait_for_window(process.dwProcessId, IDC_MESSAGE, true, 60000);
    Tree during = snapshot(game);
    if (dialog)
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(finish_process(&process, dialog ? 30000 : 0), 0u);
    UnhookWindowsHookEx(hook);
    FreeLibrary(probe);
    ASSERT_TRUE(dialog != NULL);

    EXPECT_EQ(read_file(log), "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n"
                              "57 patch1.bin\n71 patch1.bin\n85 patch1.bin\n");
    DeleteFileA(log.c_str());
    Tree after = expected_102(before, 3);
    EXPECT_TRUE(during == after) << "while the dialog is shown:" << changes(after, during);
}

// The progress window is a convenience: a run whose window cannot be created (its bar's window class unknown)
// unpacks, commits and reports as ever.
TEST_F(UpdateRun, RunWithoutAProgressWindowUpdatesAndReportsTheSame)
{
    install_101(1);
    Tree before = snapshot(game);
    std::string copy = work + "\\..\\Ostrevan_Patch102_without_progress.exe";
    ASSERT_TRUE(CopyFileA((package + "\\Ostrevan_Patch102.exe").c_str(), copy.c_str(), FALSE));
    HMODULE packed = LoadLibraryExA(copy.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceExA(packed, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_PROGRESS), 0);
    ASSERT_TRUE(found != NULL);
    std::string dialog(static_cast<const char *>(LockResource(LoadResource(packed, found))),
                       SizeofResource(packed, found));
    FreeLibrary(packed);
    // The template names the class in UTF-16, as windres writes it: in capitals.
    std::string bar_class;
    for (const char *c = "MSCTLS_PROGRESS32"; *c; ++c)
        bar_class += std::string(1, *c) + '\0';
    size_t at = dialog.find(bar_class);
    ASSERT_NE(at, std::string::npos);
    dialog[at + bar_class.size() - 2] = 'X';
    HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
    ASSERT_TRUE(update != NULL);
    EXPECT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_PROGRESS), 0, &dialog[0],
                                static_cast<DWORD>(dialog.size())));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));

    RunResult r = run_updater(ANSWER_OK, copy);
    DeleteFileA(copy.c_str());
    EXPECT_FALSE(r.progress_created);
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.message, catalogue_text(1, Succeeded));
    EXPECT_EQ(r.details, read_file(package + "\\Patch102Notes.txt"));
    EXPECT_EQ(started_version(10000), "1.02");
    Tree after = snapshot(game);
    after.erase(STARTED_FILE);
    EXPECT_TRUE(after == expected_102(before, 1)) << changes(expected_102(before, 1), after);
}

} // namespace
