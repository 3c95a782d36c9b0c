// update_run_test.cpp -- the update run against the demo installation on disk. UpdateRun: the packed updater as a
// player runs it, in each language, with a second updater, with DLLs planted beside it. Sweep: its sweep build,
// whose shim (fault_shim.h) holds the file calls to Windows' rules and reports what the run did: the rows, the
// verdicts, windows that cannot be created, commits left half done, and a failure, or an end on the spot, at every
// (STEP-th) file operation, with hard links and without, with a read-only installed file and without. A failed run
// leaves exactly the old installation (after the commit point, the new one), a crashed one every file whole; the
// next run ends at exactly the new installation with nothing left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <commctrl.h>
#include <map>
#include <stdlib.h>
#include <string>

#include "app/catalogue.h"
#include "payload/manifest.h"
#include "res/resource.h"
#include "tests/sweep_report.h"
#include "tests/win_test_support.h"

namespace
{

const char READ_ONLY[] = "<read-only>", STARTED_FILE[] = "ostrevan_started.txt";
const char ALL_ROWS[] = "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n"
                        "57 patch1.bin\n71 patch1.bin\n85 patch1.bin\n";

// Every file of a directory by name: its content, READ_ONLY appended for a read-only file.
typedef std::map<std::string, std::string> Tree;
Tree snapshot(const std::string &dir)
{
    Tree tree;
    for (const std::string &name : list_dir(dir)) {
        tree[name] = read_file(dir + "\\" + name);
        if (GetFileAttributesA((dir + "\\" + name).c_str()) & FILE_ATTRIBUTE_READONLY)
            tree[name] += READ_ONLY;
    }
    return tree;
}

std::string changes(const Tree &before, const Tree &after) // for failure messages
{
    std::string text;
    for (const auto &file : before)
        text += !after.count(file.first)              ? " -" + file.first
                : after.at(file.first) != file.second ? " ~" + file.first
                                                      : "";
    for (const auto &file : after)
        text += before.count(file.first) ? "" : " +" + file.first;
    return text;
}

std::string content(const std::string &entry) // without the read-only mark
{
    size_t mark = entry.size() - std::min(entry.size(), strlen(READ_ONLY));
    return entry.compare(mark, std::string::npos, READ_ONLY) == 0 ? entry.substr(0, mark) : entry;
}

// What the sweep build reported of one run.
struct SweepRun {
    DWORD exit_code = 0;
    std::string report;
    int operations() const
    {
        std::string all = lines("op ");
        return static_cast<int>(std::count(all.begin(), all.end(), '\n'));
    }
    std::string lines(const std::string &prefix) const // the report's lines of prefix, without it
    {
        std::string found;
        for (size_t at = report.find("\n" + prefix); at != std::string::npos; at = report.find("\n" + prefix, at + 1))
            found += report.substr(at + 1 + prefix.size(), report.find('\n', at + 1) - at - prefix.size());
        return found;
    }
    std::string text(const char *name) const // what the dialog showed: "message", "details"
    {
        size_t at = report.find("\n" + std::string(name) + "\n");
        at = at == std::string::npos ? report.size() : at + strlen(name) + 2;
        return report.substr(at, report.find("\n" REPORT_TEXT_END, at) - at);
    }
    bool failed() const
    {
        return text("message") == catalogue_text(1, Failed);
    }
    bool succeeded() const
    {
        return text("message") == catalogue_text(1, Succeeded);
    }
    std::string code() const // the injected error as a failure line ends: "[70]\n"
    {
        std::string injected = lines("injected ");
        return "[" + injected.substr(injected.rfind(' ') + 1, injected.size() - injected.rfind(' ') - 2) + "]\n";
    }
};

struct Config {
    const char *name;
    bool links, read_only; // read-only: main.bin
} const CONFIGS[] = {{"hard links", true, false},
                     {"no hard links, short writes", false, false},
                     {"hard links, read-only main.bin", true, true},
                     {"no hard links, short writes, read-only main.bin", false, true}};
const Config &PLAIN = CONFIGS[0];

class Update : public ::testing::Test
{
  protected:
    std::string package = env_path("OSTREVAN_PACKAGE_DIR"), game = make_temp_dir("game"), work = make_temp_dir("work");
    Tree old_tree, new_tree;
    int cells = 0;

    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
        remove_tree(game);
        remove_tree(work);
        if (cells > 0)
            printf("[ sweep    ] %d cells held\n", cells);
    }

    // The demo game 1.01 with the marker of language in dir, named by the registry; what it must become.
    void install(const std::string &dir, int language, bool read_only = false)
    {
        std::string installed = env_path("OSTREVAN_INSTALL_101");
        remove_tree(dir);
        CreateDirectoryA(dir.c_str(), NULL);
        for (const std::string &name : list_dir(installed))
            CopyFileA((installed + "\\" + name).c_str(), (dir + "\\" + name).c_str(), FALSE);
        write_file(dir + "\\" + MARKERS[language], "");
        if (read_only)
            SetFileAttributesA((dir + "\\main.bin").c_str(), FILE_ATTRIBUTE_READONLY);
        set_game_path(dir);
        old_tree = new_tree = snapshot(dir);
        const char *const patches[] = {"", "patch1_en.bin", "patch1_de.bin", "patch1_ru.bin"};
        for (const char *name : INSTALLED_NAMES)
            new_tree[name] = read_file(package + "\\" + (strcmp(name, "patch1.bin") ? name : patches[language]));
    }

    void expect_tree(const Tree &expected, const std::string &what)
    {
        Tree tree = snapshot(game);
        tree.erase(STARTED_FILE);
        EXPECT_TRUE(tree == expected) << what << ":" << changes(expected, tree);
    }
};

class UpdateRun : public Update
{
  protected:
    // Runs the updater, answers its result dialog with OK or Cancel and waits for its end: "" when there was no
    // dialog, else its caption, message and details, where the ended progress window stopped, and the exit code.
    std::string run_updater(bool ok, const std::string &updater = "")
    {
        PROCESS_INFORMATION process;
        if (!start_process("\"" + (updater.empty() ? package + "\\Ostrevan_Patch102.exe" : updater) + "\"", work,
                           &process))
            return "";
        HWND dialog = wait_for_window(process.dwProcessId, IDC_MESSAGE, true, 60000);
        HWND progress = wait_for_window(process.dwProcessId, IDC_PROGRESS_BAR, false, 0);
        std::string seen = dialog
                               ? window_text(dialog) + "|" + control_text(dialog, IDC_MESSAGE) + "|" +
                                     control_text(dialog, IDC_DETAILS_BOX) + "|" +
                                     std::to_string(SendDlgItemMessageA(progress, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0)) +
                                     " " + control_text(progress, IDC_FILE_LABEL)
                               : "";
        // The installation is already 1.02 while the dialog is shown.
        if (dialog)
            expect_tree(new_tree, "while the dialog is shown");
        if (dialog)
            PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
        return seen + "|" + std::to_string(finish_process(&process, dialog ? 30000 : 0));
    }

    // The version of the game started in its directory and the name of the process that started it; "" when none
    // started within wait_ms.
    std::string started(int wait_ms)
    {
        for (int waited = 0; waited <= wait_ms; waited += 50, Sleep(50)) {
            std::string record = read_file(game + "\\" + STARTED_FILE);
            if (record.find("\r\ncommand") != std::string::npos) {
                EXPECT_NE(record.find("directory " + game + "\r\n"), std::string::npos) << record;
                size_t parent = record.find(' ', record.find("\r\nparent ") + 9) + 1;
                return record.substr(8, record.find('\r') - 8) + " " +
                       record.substr(parent, record.find('\r', parent) - parent);
            }
        }
        return "";
    }

    std::string success(int language)
    {
        return std::string(catalogue_text(language, Title)) + "|" + catalogue_text(language, Succeeded) + "|" +
               read_file(package + "\\Patch102Notes.txt") + "|85 patch1.bin|0";
    }
};

// Once per language, under that language's locale (for Russian, code page 1251): the game is started by the
// desktop shell, not by the updater.
TEST_F(UpdateRun, ReadyInEachLanguageReplacesEverythingAndStartsTheGame)
{
    int language = atoi(getenv("OSTREVAN_LANGUAGE") ? getenv("OSTREVAN_LANGUAGE") : "1");
    install(game, language);
    EXPECT_EQ(run_updater(true), success(language));
    EXPECT_EQ(started(10000), "1.02 explorer.exe");
    expect_tree(new_tree, "after the update");
    EXPECT_EQ(list_dir(work).size(), 0u);
}

// A double click starts two: the second brings the first one's window forward and leaves.
TEST_F(UpdateRun, SecondUpdaterLeavesTheFirstOneAlone)
{
    install(game, 1);
    std::string command = "\"" + package + "\\Ostrevan_Patch102.exe\"";
    PROCESS_INFORMATION first, second;
    ASSERT_TRUE(start_process(command, work, &first));
    HWND dialog = wait_for_window(first.dwProcessId, IDC_MESSAGE, true, 60000);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    SetForegroundWindow(other);
    ASSERT_TRUE(dialog != NULL && GetForegroundWindow() != dialog);
    ASSERT_TRUE(start_process(command, work, &second));
    EXPECT_EQ(finish_process(&second, 20000), 0u) << "the second updater did not leave by itself";
    EXPECT_EQ(GetForegroundWindow(), dialog);
    DestroyWindow(other);
    EXPECT_EQ(control_text(dialog, IDC_MESSAGE), catalogue_text(1, Succeeded));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(finish_process(&first, 30000), 0u);
    EXPECT_EQ(started(1000), "");
    expect_tree(new_tree, "after the update");
}

// The updater runs elevated from the player's download folder. A DLL lying there under a name of
// OSTREVAN_PLANTED_DLLS, every DLL that a run loads (the game's start through the shell included) and those that
// installers have been tricked with, is never loaded, although Wine is told to prefer it (WINEDLLOVERRIDES, =n,b),
// as Windows prefers a DLL beside the program for every name that is not a known DLL.
TEST_F(UpdateRun, PlantedDllsBesideTheUpdaterAreNeverLoaded)
{
    std::string planted = getenv("OSTREVAN_PLANTED_DLLS") ? getenv("OSTREVAN_PLANTED_DLLS") : "";
    install(game, 1);
    std::string updater = work + "\\Ostrevan_Patch102.exe";
    ASSERT_TRUE(CopyFileA((package + "\\Ostrevan_Patch102.exe").c_str(), updater.c_str(), FALSE) && !planted.empty());
    for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
        end = planted.find(',', at);
        CopyFileA(env_path("OSTREVAN_PLANTED_DLL").c_str(),
                  (work + "\\" + planted.substr(at, end - at) + ".dll").c_str(), FALSE);
    }
    EXPECT_EQ(run_updater(true, updater), success(1));
    for (const std::string &name : list_dir(work)) {
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0)
            ADD_FAILURE() << name.substr(0, name.size() - 7) << " was loaded by " << read_file(work + "\\" + name);
    }
    EXPECT_EQ(started(10000), "1.02 explorer.exe");
    expect_tree(new_tree, "after the update");
}

class Sweep : public Update
{
  protected:
    std::string saved = make_temp_dir("saved"), updater = updater_with(0, false);

    void TearDown() override
    {
        remove_tree(saved);
        Update::TearDown();
    }

    // The sweep updater with every payload of the package but resource_id, or with that one damaged.
    std::string updater_with(int resource_id, bool damaged)
    {
        std::string copy = work + "\\" + std::to_string(resource_id) + (damaged ? "-damaged.exe" : ".exe");
        HMODULE source = LoadLibraryExA((package + "\\Ostrevan_Patch102.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        HANDLE update = CopyFileA(env_path("OSTREVAN_SWEEP_UPDATER").c_str(), copy.c_str(), FALSE)
                            ? BeginUpdateResourceA(copy.c_str(), FALSE)
                            : NULL;
        for (const PayloadEntry &row : payload_manifest) {
            HRSRC found = FindResourceExA(source, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(row.resource_id), 0);
            std::string bytes(static_cast<const char *>(LockResource(LoadResource(source, found))),
                              SizeofResource(source, found));
            bytes[bytes.size() / 2] ^= row.resource_id == resource_id ? 0x55 : 0;
            if (damaged || row.resource_id != resource_id)
                UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(row.resource_id), 0, &bytes[0],
                                static_cast<DWORD>(bytes.size()));
        }
        EXPECT_TRUE(update && EndUpdateResourceA(update, FALSE)) << copy;
        FreeLibrary(source);
        return copy;
    }

    void install(const Config &config)
    {
        Update::install(game, 1, config.read_only);
    }

    static void copy_dir(const std::string &from, const std::string &to)
    {
        remove_tree(to);
        CreateDirectoryA(to.c_str(), NULL);
        for (const std::string &name : list_dir(from))
            CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
    }

    // One run of the sweep updater (or of another build of it), its fault at operation at; the dialog answered
    // OK or Cancel; without the window that `without` names.
    SweepRun run(const Config &config, const char *mode, int at, bool ok = false, const char *without = "",
                 std::string program = "")
    {
        SweepRun r;
        std::string report = work + "\\report.txt", fault_at = std::to_string(at);
        const char *settings[][2] = {{"MODE", mode},
                                     {"AT", fault_at.c_str()},
                                     {"NO_LINKS", config.links ? "0" : "1"},
                                     {"REPORT", report.c_str()},
                                     {"ANSWER", ok ? "ok" : "cancel"},
                                     {"WITHOUT", without}};
        for (const auto &setting : settings)
            SetEnvironmentVariableA((std::string("OSTREVAN_SWEEP_") + setting[0]).c_str(), setting[1]);
        DeleteFileA(report.c_str());
        PROCESS_INFORMATION process;
        EXPECT_TRUE(start_process("\"" + (program.empty() ? updater : program) + "\"", work, &process));
        r.exit_code = finish_process(&process, 60000);
        r.report = "\n" + read_file(report);
        // The game starts after an update that succeeded and was answered OK, and only then.
        EXPECT_EQ(r.lines("launch "), ok && r.succeeded() ? game + "\\Ostrevan.exe\n" : "");
        return r;
    }

    // Every installed file is exactly its old or its new bytes.
    void expect_whole(const char *when)
    {
        Tree tree = snapshot(game);
        for (const char *name : INSTALLED_NAMES) {
            bool present = tree.count(name) != 0;
            std::string now = present ? content(tree.at(name)) : "";
            bool as_old = old_tree.count(name) ? present && now == content(old_tree.at(name)) : !present;
            EXPECT_TRUE(as_old || (present && now == content(new_tree.at(name))))
                << when << ": " << name << " is neither old nor new (" << now.size() << " bytes)";
        }
    }

    // The next run, without a fault, ends at exactly the new installation.
    void expect_next_run_finishes(const Config &config, const char *after)
    {
        SweepRun next = run(config, "count", 0);
        EXPECT_TRUE(next.exit_code == 0 && next.succeeded()) << after << next.text("details");
        expect_tree(new_tree, after);
    }

    // The run shows which file failed, with the platform's reason, and leaves the installation as it found it:
    // old, or new when an earlier crash or this failure came after the commit point. A failure while an earlier
    // commit was being undone leaves each file whole, for the next run to finish.
    void expect_failed_run_kept_its_promise(const SweepRun &r, bool after_crash)
    {
        ASSERT_EQ(r.exit_code, 0u);
        Tree tree = snapshot(game);
        if (r.succeeded()) {
            EXPECT_TRUE(tree == new_tree) << "a run that reported success:" << changes(new_tree, tree);
            return;
        }
        ASSERT_TRUE(r.failed()) << "no result dialog";
        if (r.text("details").rfind("Can't Restore File: ", 0) == 0)
            expect_whole("a failed undo");
        else
            EXPECT_TRUE(tree == old_tree || (after_crash && tree == new_tree))
                << "a failed run:" << changes(old_tree, tree);
        bool named = false;
        for (const char *name :
             {"Patch102Notes.txt", "Config.exe", "Ostrevan.exe", "main.bin", "patch1.bin", "~Patch102.journal"})
            named = named || r.text("details").find(std::string(": ") + name + " " + r.code()) != std::string::npos;
        EXPECT_TRUE(named) << "the details name no file with the reason " << r.code() << r.text("details");
    }

    int count_operations(const Config &config)
    {
        install(config);
        SweepRun plain = run(config, "count", 0);
        EXPECT_TRUE(plain.succeeded()) << plain.text("details");
        expect_tree(new_tree, std::string(config.name) + ", a run without faults");
        return plain.operations();
    }

    // What a commit ended after replacing the first `replaced` installed files leaves: every old file kept
    // under its backup name, then the journal (cut short unless whole), then the renames, in manifest order.
    void craft_interrupted_commit(size_t replaced, bool whole)
    {
        std::string journal;
        for (size_t i = 0; i < 5; ++i) {
            std::string name = INSTALLED_NAMES[i], path = game + "\\" + name;
            DWORD attributes = GetFileAttributesA(path.c_str());
            char line[128];
            snprintf(line, sizeof line, "old %lx %s\n", static_cast<unsigned long>(attributes), name.c_str());
            journal += attributes == INVALID_FILE_ATTRIBUTES ? "new " + name + "\n" : line;
            CopyFileA(path.c_str(), (game + "\\~" + name + ".bak").c_str(), FALSE);
            write_file(i < replaced ? path : game + "\\~" + name, content(new_tree[name]));
        }
        write_file(game + "\\~Patch102.journal", (journal + "end\n").substr(0, whole ? std::string::npos : 40));
    }
};

// A run without faults shows every row, then the dialog over the committed files, and starts the game after OK;
// what an earlier run left under an unpacked file's name is written over whole.
TEST_F(Sweep, RunShowsEveryRowThenTheDialogOverTheNewFiles)
{
    install(PLAIN);
    write_file(game + "\\~Patch102Notes.txt", std::string(100000, 'g'));
    SweepRun r = run(PLAIN, "count", 0, true);
    EXPECT_EQ(r.lines("row "), ALL_ROWS);
    EXPECT_EQ(r.text("details"), read_file(package + "\\Patch102Notes.txt"));
    EXPECT_GT(r.report.find("\ndialog\n"), r.report.rfind("~Patch102.journal")) << "the dialog follows the commit";
    expect_tree(new_tree, "after the update");
}

// Verdicts that stop the run before it unpacks, or a payload that is missing or damaged: their text, no start of
// the game even after OK, the installation as it was, and nothing touched before the dialog but the unpacked
// files, which go after it.
TEST_F(Sweep, FailedRunsShowWhyAndLeaveTheInstallationAsItWas)
{
    enum { NO_INSTALLATION, NO_MARKER, PATH_TOO_LONG, PAYLOAD_MISSING, PAYLOAD_DAMAGED };
    std::string root_file = work.substr(0, 2) + "\\~main.bin";
    for (int verdict = NO_INSTALLATION; verdict <= PAYLOAD_DAMAGED; ++verdict) {
        SCOPED_TRACE(verdict);
        install(PLAIN);
        std::string dir = game, details = catalogue_text(1, NotInstalled), rows, program;
        if (verdict == NO_INSTALLATION) {
            RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
            write_file(root_file, "not the updater's");
        } else if (verdict == NO_MARKER) {
            DeleteFileA((game + "\\local.bin").c_str());
            write_file(game + "\\~main.bin", "left by an earlier run");
            details = catalogue_text(1, Corrupt);
        } else if (verdict == PATH_TOO_LONG) {
            // The registry value may be 255 characters long; the file calls reach 259.
            dir = game + "\\" + std::string(245 - game.size() - 1, 'd');
            Update::install(dir, 1);
            details = "Game Folder Path Too Long: " + dir + " [ce]\n";
        } else {
            program = updater_with(1104, verdict == PAYLOAD_DAMAGED);
            details =
                "Corrupt Patch File: main.bin Not Found! [" + std::string(verdict == PAYLOAD_MISSING ? "716]\n" : "");
            rows = "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n";
        }
        Tree before = snapshot(dir);
        before.erase("~main.bin");
        SweepRun r = run(PLAIN, "count", 0, true, "", program);
        EXPECT_TRUE(r.exit_code == 0 && r.failed());
        std::string shown = r.text("details");
        if (verdict == PAYLOAD_DAMAGED) // one line, whatever code the platform recorded
            shown = shown.substr(0, shown.find('\n') == shown.size() - 1 ? details.size() : shown.size());
        EXPECT_EQ(shown, details);
        EXPECT_EQ(r.lines("row "), rows);
        Tree after = snapshot(dir);
        EXPECT_TRUE(after == before) << changes(before, after);
        std::string before_dialog = r.report.substr(0, r.report.find("\ndialog\n"));
        EXPECT_EQ(before_dialog.find(program.empty() ? "\nop " : " DeleteFileA "), std::string::npos) << r.report;
        if (verdict == NO_INSTALLATION) {
            EXPECT_EQ(r.operations(), 0) << "without a game directory no file is touched";
            EXPECT_EQ(read_file(root_file), "not the updater's");
            DeleteFileA(root_file.c_str());
        }
    }
}

// The progress window and the result dialog are conveniences: a run where either cannot be created updates and
// ends the same, and without the dialog's OK the game is not started.
TEST_F(Sweep, WindowsThatCannotBeCreatedChangeNothingOfTheUpdate)
{
    for (const std::string window : {"progress", "dialog"}) {
        install(PLAIN);
        SweepRun r = run(PLAIN, "count", 0, true, window.c_str());
        EXPECT_EQ(r.exit_code, 0u);
        EXPECT_EQ(r.lines("row "), window == "dialog" ? ALL_ROWS : "");
        expect_tree(new_tree, "an update without its " + window);
    }
    install(PLAIN);
    run(PLAIN, "count", 0, true, "dialog", updater_with(1104, false));
    expect_tree(old_tree, "a failed update without its dialog");
}

// What an earlier run, ended in the middle of its commit, left behind is undone before anything else: only a
// backup that the journal names, and only over a file that was replaced; a commit cut short before its journal
// was whole replaced nothing. An update that then fails leaves exactly the old installation.
TEST_F(Sweep, CommitsLeftHalfDoneAreUndoneFirst)
{
    struct Case {
        size_t replaced;
        bool whole_journal, torn_backup; // main.bin's backup holds a part of it
    } cases[] = {{2, true, false}, {5, true, false}, {0, false, true}, {3, true, true}};
    std::string failing = updater_with(1104, false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.replaced);
        install(PLAIN);
        craft_interrupted_commit(c.replaced, c.whole_journal);
        if (c.torn_backup)
            write_file(game + "\\~main.bin.bak", content(old_tree["main.bin"]).substr(0, 1000));
        EXPECT_TRUE(run(PLAIN, "count", 0, false, "", failing).failed());
        expect_tree(old_tree, "after the failed update");
    }
    // Ended after linking the backup of a read-only file, before the journal: the link shares its attribute.
    install(CONFIGS[2]);
    CreateHardLinkA((game + "\\~main.bin.bak").c_str(), (game + "\\main.bin").c_str(), NULL);
    run(CONFIGS[2], "count", 0, false, "", failing);
    expect_tree(old_tree, "after a leftover link to a read-only file");
}

// An interrupted commit that cannot be undone (the game's settings program holds a replaced file) stops every run
// before it unpacks anything, until the file is free; then the update finishes.
TEST_F(Sweep, CommitThatCannotBeUndoneStopsTheRunUntilItCan)
{
    install(PLAIN);
    craft_interrupted_commit(2, true);
    Tree interrupted = snapshot(game);
    HANDLE held =
        CreateFileA((game + "\\Config.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    SweepRun blocked = run(PLAIN, "count", 0);
    CloseHandle(held);
    EXPECT_EQ(blocked.text("details").rfind("Can't Restore File: Config.exe [", 0), 0u) << blocked.text("details");
    EXPECT_EQ(blocked.lines("row "), "") << "nothing is unpacked over an installation half way";
    Tree after = snapshot(game);
    EXPECT_TRUE(after.count("~Patch102.journal") && after["Config.exe"] == interrupted["Config.exe"] &&
                after["~Config.exe.bak"] == old_tree["Config.exe"])
        << "the journal and the file that could not be put back stay for the next run:" << changes(interrupted, after);
    expect_next_run_finishes(PLAIN, "once the file is free");
}

TEST_F(Sweep, FailureAtEveryOperation)
{
    int step = atoi(getenv("OSTREVAN_SWEEP_STEP") ? getenv("OSTREVAN_SWEEP_STEP") : "1");
    for (const Config &config : CONFIGS) {
        int operations = count_operations(config);
        for (int k = 1; k <= operations; k += step, ++cells) {
            install(config);
            SweepRun r = run(config, "fail", k);
            SCOPED_TRACE(std::string(config.name) + ", operation " + r.lines("injected "));
            expect_failed_run_kept_its_promise(r, false);
            expect_next_run_finishes(config, "the run after a failure");
        }
        printf("[ sweep    ] failure, %s: %d operations\n", config.name, operations);
    }
}

// Each crash is followed by the next run, itself failed or ended in turn at its operations, then a third.
TEST_F(Sweep, CrashAtEveryOperation)
{
    int step = atoi(getenv("OSTREVAN_SWEEP_STEP") ? getenv("OSTREVAN_SWEEP_STEP") : "1");
    int nested_step = atoi(getenv("OSTREVAN_SWEEP_NESTED_STEP") ? getenv("OSTREVAN_SWEEP_NESTED_STEP") : "0");
    for (const Config &config : CONFIGS) {
        int operations = count_operations(config);
        for (int k = 1; k <= operations; k += step, ++cells) {
            install(config);
            SweepRun r = run(config, "crash", k);
            SCOPED_TRACE(std::string(config.name) + ", crash at operation " + r.lines("injected "));
            ASSERT_EQ(r.exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
            expect_whole("after the crash");
            if (nested_step == 0) {
                expect_next_run_finishes(config, "the run after a crash");
                continue;
            }
            copy_dir(game, saved);
            int next_operations = run(config, "count", 0).operations();
            expect_tree(new_tree, "the run after a crash");
            for (int k2 = 1, n = 0; k2 <= next_operations; k2 += nested_step, ++n, ++cells) {
                copy_dir(saved, game);
                SweepRun again = run(config, n % 2 ? "fail" : "crash", k2);
                SCOPED_TRACE("then at operation " + again.lines("injected "));
                if (n % 2) {
                    expect_failed_run_kept_its_promise(again, true);
                } else {
                    EXPECT_EQ(again.exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
                    expect_whole("after the second crash");
                }
                expect_next_run_finishes(config, "the third run");
            }
        }
        printf("[ sweep    ] crash, %s: %d operations\n", config.name, operations);
    }
}

} // namespace
