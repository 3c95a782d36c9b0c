// update_run_test.cpp -- the update run on the demo installation. UpdateRun: the packed updater as a player runs it.
// Sweep: its sweep build, whose shim (fault_shim.h) fails, ends or holds it at an operation, or cuts the power there.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <map>
#include <set>
#include <stdlib.h>
#include <string>

#include "app/catalogue.h"
#include "app/exit_codes.h"
#include "payload/manifest.h"
#include "res/resource.h"
#include "tests/sweep_report.h"
#include "tests/win_test_support.h"
#include "ui/window_text.h"

namespace
{

const char STARTED_FILE[] = "ostrevan_started.txt", JOURNAL[] = "~Patch102.journal";
// A standard account beside Wine's one user (S-1-5-21-0-0-0-1000): the player whom an administrator elevated.
const char PLAYER_SID[] = "S-1-5-21-0-0-0-1001";
const char ALL_ROWS[] = "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n"
                        "57 patch1.bin\n71 patch1.bin\n85 patch1.bin\n";

// Every file of a directory by name: 'R' for a read-only file, else ' ', then its content.
typedef std::map<std::string, std::string> Tree;
Tree snapshot(const std::string &dir)
{
    Tree tree;
    for (const std::string &name : list_dir(dir))
        tree[name] = (GetFileAttributesA((dir + "\\" + name).c_str()) & FILE_ATTRIBUTE_READONLY ? "R" : " ") +
                     read_file(dir + "\\" + name);
    return tree;
}

std::string changes(const Tree &before, Tree after) // the names that differ, for failure messages
{
    std::string names;
    for (const auto &file : before)
        names += after.count(file.first) && after[file.first] == file.second ? "" : " " + file.first;
    for (const auto &file : after)
        names += before.count(file.first) ? "" : " " + file.first;
    return names;
}

// text as the details box holds it, each line ended by CR LF.
std::string boxed(const std::string &text)
{
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i)
        lines += text[i] == '\n' && (i == 0 || text[i - 1] != '\r') ? "\r\n" : text.substr(i, 1);
    return lines;
}

// One file operation of a run, and its site in the updater: the same for every operation of the same calls.
struct Operation {
    std::string name, path, site;
};

// What the sweep build reported of one run.
struct SweepRun {
    DWORD exit_code = 0;
    std::string report;
    std::string lines(const std::string &prefix) const // the report's lines of prefix, without it
    {
        std::string found;
        for (size_t at = report.find("\n" + prefix); at != std::string::npos; at = report.find("\n" + prefix, at + 1))
            found += report.substr(at + 1 + prefix.size(), report.find('\n', at + 1) - at - prefix.size());
        return found;
    }
    std::vector<Operation> operations() const // "op NAME PATH @SITE", PATH empty for a call on the file last opened
    {
        std::vector<Operation> found;
        std::string all = lines("op ");
        for (size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
            size_t name = all.find(' ', at), site = all.rfind(' ', end);
            found.push_back({all.substr(at, name - at), all.substr(name + 1, site > name ? site - name - 1 : 0),
                             all.substr(site + 1, end - site - 1)});
        }
        return found;
    }
    std::string text(const char *name) const // what the dialog showed: "message", "details"
    {
        size_t at = report.find("\n" + std::string(name) + "\n");
        at = at == std::string::npos ? report.size() : at + strlen(name) + 2;
        return report.substr(at, report.find("\n" REPORT_TEXT_END, at) - at);
    }
    bool shows(MessageId message) const
    {
        return text("message") == catalogue_text(1, message);
    }
};

// The configurations of the sweep (docs/reliability.md), each file system answering as file_systems.h models it.
const DWORD DEDUPLICATED = 0x80000013, CLOUD_FILE = 0x9000001A, SYMBOLIC_LINK = 0xA000000C;
struct Config {
    const char *name, *file_system;
    bool read_only, no_drive_letter; // read-only: main.bin
    DWORD tag;
} const CONFIGS[] = {
    {"NTFS", "ntfs", false, false, 0},
    {"ReFS without links, short writes, deduplicated files, no drive letter", "refs", false, true, DEDUPLICATED},
    {"NTFS, read-only main.bin, cloud files (no links to them), no drive letter", "ntfs", true, true, CLOUD_FILE},
    {"FAT32 or exFAT, short writes, read-only main.bin", "fat", true, false, 0},
    {"NTFS, main.bin a symbolic link", "ntfs", false, false, SYMBOLIC_LINK}};

// The faults of a cell (fault_shim.h): failed, crashed, or its name held from the next operation on, 2 s or for good.
enum Fault { FAIL, CRASH, HOLD, HOLD_SHARED, HOLD_LONG, FAULTS };
const char *const FAULT_NAMES[FAULTS] = {"failed", "crashed", "held 2 s", "held 2 s, sharing deletion", "held"};

// What a fault at operation k (from 1) alone proves, by the call it meets, or "": a failure, its own call (a short
// write without links counts apart); a crash, the write it cuts in half or the change just before it (none after a
// call that changes nothing); a hold, the next call that touches the held name.
std::string proof(const std::vector<Operation> &ops, size_t k, Fault fault, const Config &config)
{
    static const char CHANGES[] = " CreateFileA WriteFile Rename Link Delete SetAttributes SetFileTime ";
    static const char MEETS[] = " CreateFileA GetFileAttributesA Rename Link Delete ";
    const Operation &op = ops[k - 1];
    if (fault == FAIL)
        return op.site + (op.name == "WriteFile" && strcmp(config.file_system, "ntfs") ? " short" : "");
    if (fault == CRASH && op.name == "WriteFile")
        return op.site + " half";
    if (fault == CRASH)
        return k == 1 ? "start" : strstr(CHANGES, (" " + ops[k - 2].name + " ").c_str()) ? ops[k - 2].site : "";
    for (size_t m = k; !op.path.empty() && m < ops.size(); ++m)
        if (_stricmp(ops[m].path.c_str(), op.path.c_str()) == 0 && strstr(MEETS, (" " + ops[m].name + " ").c_str()))
            return ops[m].site;
    return "";
}

// A failed run's exit code: a journal that stays, or that the run could not read or remove, is a commit not undone.
int failure_code(const std::string &details, bool journal_stays)
{
    bool unread = details.find(std::string("Can't Restore File: ") + JOURNAL) != std::string::npos;
    return journal_stays || unread ? EXIT_CODE_INTERRUPTED : EXIT_CODE_FAILED;
}

class Update : public ::testing::Test
{
  protected:
    std::string package = env_path("OSTREVAN_PACKAGE_DIR"), game = make_temp_dir("game"), work = make_temp_dir("work");
    Tree old_tree, new_tree; // new_tree: where every run that is not interrupted ends
    std::string refusal;     // the details of such a run where it fails, or "" where it succeeds

    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
        RegDeleteTreeA(HKEY_USERS, PLAYER_SID);
        remove_tree(game);
        remove_tree(work);
    }

    // The demo game 1.01 with the marker of language in dir, named by the registry; what it must become. The
    // installed files that config makes reparse points carry the sweep shim's mark, the system attribute.
    void install(const std::string &dir, int language, const Config &config = CONFIGS[0])
    {
        std::string installed = env_path("OSTREVAN_INSTALL_101");
        const char *const patches[] = {"", "patch1_en.bin", "patch1_de.bin", "patch1_ru.bin"};
        remove_tree(dir);
        CreateDirectoryA(dir.c_str(), NULL);
        for (const std::string &name : list_dir(installed))
            CopyFileA((installed + "\\" + name).c_str(), (dir + "\\" + name).c_str(), FALSE);
        write_file(dir + "\\" + MARKERS[language], "");
        for (const char *name : INSTALLED_NAMES) {
            bool main = strcmp(name, "main.bin") == 0;
            DWORD marked = config.tag != 0 && (main || config.tag != SYMBOLIC_LINK) ? FILE_ATTRIBUTE_SYSTEM : 0;
            if (DWORD attributes = marked | (main && config.read_only ? FILE_ATTRIBUTE_READONLY : 0))
                SetFileAttributesA((dir + "\\" + name).c_str(), attributes);
        }
        set_game_path(dir);
        old_tree = new_tree = snapshot(dir);
        // A symbolic link under an installed name is never followed: every run refuses it.
        refusal = config.tag == SYMBOLIC_LINK ? "Can't Replace File: main.bin [781]\n" : "";
        for (const char *name : INSTALLED_NAMES)
            if (refusal.empty())
                new_tree[name] =
                    " " + read_file(package + "\\" + (strcmp(name, "patch1.bin") ? name : patches[language]));
    }

    void expect_tree(const Tree &expected, const std::string &what, const std::string &dir = "")
    {
        Tree tree = snapshot(dir.empty() ? game : dir);
        tree.erase(STARTED_FILE);
        EXPECT_TRUE(tree == expected) << what << ":" << changes(expected, tree);
    }
};

class UpdateRun : public Update
{
  protected:
    // Runs the updater, answers its dialog OK or Cancel: "caption|message|details|OK|details button|bar position"
    // (UTF-8; "" without a dialog within dialog_ms), then "|exit code". While the dialog is shown, the installation
    // is new when updated; before it, the progress window shows waiting_for, when given.
    std::string run_updater(bool ok, const std::string &updater, bool updated, int dialog_ms = 60000,
                            const char *waiting_for = NULL)
    {
        PROCESS_INFORMATION process;
        if (!start_process("\"" + updater + "\"", work, &process))
            return "";
        bool named = false;
        for (int waited = 0; waiting_for && !named && waited < dialog_ms; waited += 20, Sleep(20)) {
            HWND progress = wait_for_window(process.dwProcessId, IDC_PROGRESS_BAR, true, 0);
            named = progress && control_text(progress, IDC_FILE_LABEL) == waiting_for;
        }
        EXPECT_TRUE(named || !waiting_for) << "no window named " << waiting_for << " while the run waited for it";
        HWND dialog = wait_for_window(process.dwProcessId, IDC_MESSAGE, true, dialog_ms);
        HWND progress = wait_for_window(process.dwProcessId, IDC_PROGRESS_BAR, false, 0);
        std::string seen = !dialog
                               ? ""
                               : window_text(dialog) + "|" + control_text(dialog, IDC_MESSAGE) + "|" +
                                     control_text(dialog, IDC_DETAILS_BOX) + "|" + control_text(dialog, IDOK) + "|" +
                                     control_text(dialog, IDC_DETAILS_BUTTON) + "|" +
                                     std::to_string(SendDlgItemMessageA(progress, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
        if (dialog && updated)
            expect_tree(new_tree, "while the dialog is shown");
        if (dialog)
            PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
        return seen + "|" + std::to_string(finish_process(&process, dialog ? 30000 : 0));
    }

    // "VERSION PARENT": the game started in its directory and the process that started it; "" if none in wait_ms.
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
};

// Each language in its locale, two in the other code page (wine_tests.cmake), from a download folder with a DLL that
// Wine prefers under each name of OSTREVAN_PLANTED_DLLS: the elevated updater loads none. The shell starts the game.
TEST_F(UpdateRun, ReadyInEachLanguageReplacesEverythingAndStartsTheGame)
{
    int language = atoi(getenv("OSTREVAN_LANGUAGE") ? getenv("OSTREVAN_LANGUAGE") : "1");
    std::string planted = getenv("OSTREVAN_PLANTED_DLLS") ? getenv("OSTREVAN_PLANTED_DLLS") : "";
    install(game, language);
    std::string updater = work + "\\Ostrevan_Patch102.exe";
    CopyFileA((package + "\\Ostrevan_Patch102.exe").c_str(), updater.c_str(), FALSE);
    for (size_t at = 0, end = 0; !planted.empty() && end != std::string::npos; at = end + 1) {
        end = planted.find(',', at);
        CopyFileA(env_path("OSTREVAN_PLANTED_DLL").c_str(),
                  (work + "\\" + planted.substr(at, end - at) + ".dll").c_str(), FALSE);
    }
    size_t downloads = list_dir(work).size();
    // Ostrevan.exe held all the run without sharing deletion (the game left running) fails it, nothing changed, the
    // progress window naming the wait; Wine names no holder, so the line asks the player to close every program.
    HANDLE held =
        CreateFileA((game + "\\Ostrevan.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::string failed = run_updater(false, updater, false, 60000, shown(language, WaitingFor, "Ostrevan.exe").c_str());
    CloseHandle(held);
    std::string dialog = shown(language, Title) + "|" + shown(language, Failed) + "|" +
                         boxed(shown(language, FileInUse, "Ostrevan.exe")) + "|" + shown(language, Ok) + "|";
    EXPECT_EQ(failed.substr(0, dialog.size()), dialog);
    EXPECT_EQ(failed.substr(failed.rfind('|') + 1), std::to_string(EXIT_CODE_FAILED));
    expect_tree(old_tree, "after the run that the held file failed");
    // Beside it, a scanner (scanner.cpp) holds each new or changed file for 3 s without sharing its deletion: the
    // installed files before the run starts, so that the commit waits for them, then the files the run makes.
    std::string scanned = make_temp_dir("scanner"), log = scanned + "\\held.txt";
    PROCESS_INFORMATION scanner;
    ASSERT_TRUE(start_process("\"" + env_path("OSTREVAN_SCANNER") + "\" \"" + game + "\" 3000 \"" + log + "\"", scanned,
                              &scanner));
    for (int waited = 0; read_file(log).find("held Ostrevan.exe") == std::string::npos && waited < 20000; waited += 20)
        Sleep(20);
    // Each text in its language's code page, the notes in Windows-1252, whatever the system's code page.
    EXPECT_EQ(run_updater(true, updater, true),
              shown(language, Title) + "|" + shown(language, Succeeded) + "|" +
                  decoded(read_file(package + "\\Patch102Notes.txt"), NOTES_CODE_PAGE) + "|" + shown(language, Ok) +
                  "|" + shown(language, ShowDetails) + "|85|" + std::to_string(EXIT_CODE_UPDATED));
    finish_process(&scanner, 0); // it runs until ended
    // The unpacked files are the run's alone until they are in place: no other program can hold one.
    for (const char *name : INSTALLED_NAMES)
        EXPECT_EQ(read_file(log).find(std::string("held ~") + name + "\n"), std::string::npos) << "held: ~" << name;
    remove_tree(scanned);
    for (const std::string &name : list_dir(work))
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0)
            ADD_FAILURE() << name.substr(0, name.size() - 7) << " was loaded by " << read_file(work + "\\" + name);
    EXPECT_EQ(list_dir(work).size(), downloads) << "the updater writes nothing beside itself";
    EXPECT_EQ(started(10000), "1.02 explorer.exe");
    expect_tree(new_tree, "after the update");
}

// A link to a read-only file outside the game folder, symbolic or hard, under each name the run writes or an
// installed one: that file keeps its bytes, name and attributes, and the run updates (a hard link is removed as
// a name) or fails naming the file, leaving the old installation. A game folder reached through a link updates.
TEST_F(UpdateRun, LinksInTheGameFolderLeadNowhereElse)
{
    std::string outside = make_temp_dir("outside"), target = outside + "\\target.dll", via = outside + "\\game";
    for (bool symbolic : {true, false}) {
        for (std::string name :
             {"~Patch102.journal", "main.bin", "~Patch102Notes.txt", "~Config.exe", "~Config.exe.bak", "~Ostrevan.exe",
              "~Ostrevan.exe.bak", "~main.bin", "~main.bin.bak", "~patch1.bin", "~patch1.bin.bak"}) {
            SCOPED_TRACE((symbolic ? "a symbolic link " : "a hard link ") + name);
            install(game, 1);
            SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
            write_file(target, "not the game's " + name);
            SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
            std::string link = game + "\\" + name;
            DeleteFileA(link.c_str());
            ASSERT_TRUE(symbolic ? make_symbolic_link(link, target) : CreateHardLinkA(link.c_str(), target.c_str(), 0));
            Tree planted = snapshot(game), beyond = snapshot(outside);
            std::string seen = run_updater(false, package + "\\Ostrevan_Patch102.exe", false);
            expect_tree(beyond, "outside the game folder", outside);
            bool failed = seen.find(catalogue_text(1, Succeeded)) == std::string::npos;
            EXPECT_FALSE(failed && !symbolic && name[0] == '~') << "a hard link is removed as a name";
            std::string file = name[0] != '~' || name == JOURNAL ? name : name.substr(1, name.find(".bak") - 1);
            EXPECT_TRUE(!failed || seen.find(": " + file + " [") != std::string::npos) << seen;
            int code = failed ? failure_code(seen, false) : EXIT_CODE_UPDATED;
            EXPECT_EQ(seen.substr(seen.rfind('|') + 1), std::to_string(code)) << seen;
            expect_tree(failed ? planted : new_tree, failed ? "after a failed update" : "after the update");
            make_symbolic_link(link, "");
        }
    }
    install(game, 1);
    ASSERT_TRUE(make_symbolic_link(via, game));
    set_game_path(via);
    EXPECT_NE(run_updater(false, package + "\\Ostrevan_Patch102.exe", true).find(catalogue_text(1, Succeeded)),
              std::string::npos);
    expect_tree(new_tree, "after the update through a link");
    make_symbolic_link(via, "");
    remove_tree(outside);
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
    EXPECT_EQ(finish_process(&second, 20000), static_cast<DWORD>(EXIT_CODE_ALREADY_RUNNING))
        << "the second updater did not leave by itself";
    EXPECT_EQ(GetForegroundWindow(), dialog);
    DestroyWindow(other);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(finish_process(&first, 30000), static_cast<DWORD>(EXIT_CODE_UPDATED));
    EXPECT_EQ(started(1000), "");
    expect_tree(new_tree, "after the update");
}

class Sweep : public Update
{
  protected:
    std::string updater = updater_with(0, false);
    std::string hold = "0"; // of mode "hold": how many ms, and " delete" when the holder shares deletion
    std::string shell_user; // the SID that the desktop shell's token answers, "" for Wine's own answers
    std::string holders;    // "windows": the Restart Manager answers as Windows', "" for Wine's own answers
    int cut_state = 0;      // of mode "cut": which of the states that the power cut may leave
    int cells = 0;

    void TearDown() override
    {
        Update::TearDown();
        if (cells > 0)
            printf("[ sweep    ] %d cells held\n", cells);
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

    // A run of program (the sweep updater by default) faulted at operation at, answered OK or Cancel, without a window.
    SweepRun run(const Config &config, const char *mode, int at, bool ok = false, const char *without = "",
                 std::string program = "")
    {
        SweepRun r;
        std::string report = work + "\\report.txt", fault_at = std::to_string(at), state = std::to_string(cut_state);
        char tag[16];
        snprintf(tag, sizeof tag, "%lx", static_cast<unsigned long>(config.tag));
        const char *settings[][2] = {{"MODE", mode},
                                     {"AT", fault_at.c_str()},
                                     {"HOLD", hold.c_str()},
                                     {"FS", config.file_system},
                                     {"VOLUME", config.no_drive_letter ? "nt" : ""},
                                     {"TAG", tag},
                                     {"REPORT", report.c_str()},
                                     {"ANSWER", ok ? "ok" : "cancel"},
                                     {"WITHOUT", without},
                                     {"CUT", state.c_str()},
                                     {"GAME", game.c_str()},
                                     {"SHELL_USER", shell_user.c_str()},
                                     {"HOLDERS", holders.c_str()}};
        for (const auto &setting : settings)
            SetEnvironmentVariableA((std::string("OSTREVAN_SWEEP_") + setting[0]).c_str(), setting[1]);
        DeleteFileA(report.c_str());
        PROCESS_INFORMATION process;
        EXPECT_TRUE(start_process("\"" + (program.empty() ? updater : program) + "\"", work, &process));
        r.exit_code = finish_process(&process, 60000);
        r.report = "\n" + read_file(report);
        // The game starts after an update that succeeded and was answered OK, and only then.
        EXPECT_EQ(r.lines("launch "), ok && r.shows(Succeeded) ? game + "\\Ostrevan.exe\n" : "");
        return r;
    }

    // Each installed file that is not its new bytes (nor its old ones, where those may stay), and what it is
    // instead: missing, zeros, the old version or other bytes. "" when every one is whole.
    std::string losses(bool old_may_stay)
    {
        Tree tree = snapshot(game);
        std::string lost;
        for (const char *name : INSTALLED_NAMES) {
            std::string now = tree.count(name) ? tree[name].substr(1) : "<none>";
            std::string old = old_tree.count(name) ? old_tree[name].substr(1) : "<none>";
            if ((old_may_stay && now == old) || (new_tree.count(name) && now == new_tree[name].substr(1)))
                continue;
            lost += std::string(" ") + name + " is " +
                    (!tree.count(name)                                  ? "missing"
                     : now.find_first_not_of('\0') == std::string::npos ? "zeros"
                     : now == old                                       ? "the old version"
                                  : "other bytes (" + std::to_string(now.size()) + ")") +
                    ";";
        }
        return lost;
    }

    // True when r ended as every run does that nothing interrupts: with success, or with the refusal.
    bool finished(const SweepRun &r) const
    {
        return refusal.empty() ? r.exit_code == EXIT_CODE_UPDATED && r.shows(Succeeded)
                               : r.exit_code == EXIT_CODE_FAILED && r.text("details") == boxed(refusal);
    }

    // The next run, without a fault, ends at exactly the new installation.
    SweepRun expect_next_run_finishes(const Config &config, const char *after)
    {
        SweepRun next = run(config, "count", 0);
        EXPECT_TRUE(finished(next)) << after << next.text("details");
        expect_tree(new_tree, after);
        return next;
    }

    // A failed run, or one held to its end: the dialog names the file with the injected reason (a hold's in the
    // player's words, within the wait's bound); the installation is as the run found it (old, or new after an earlier
    // crash or the commit point) but for a faulted or held file of its own that it could not remove, not one it made
    // and could not write. An undo that was stopped leaves each file whole, and its journal, for the next run.
    void expect_stopped_run_kept_its_promise(const SweepRun &r, bool held, bool nested)
    {
        Tree tree = snapshot(game);
        bool undo_stopped = tree.count(JOURNAL) != 0;
        std::string file = held ? r.lines("held ") : r.lines("faulted "),
                    name = file.substr(0, file.find_first_of(" \n"));
        if (name[0] == '~' && name != JOURNAL &&
            (held || file.find(" created") == std::string::npos ||
             r.lines("injected ").find(" Delete ") != std::string::npos))
            tree.erase(name);
        std::string slept = r.lines("sleep ");
        int waited = 0;
        for (size_t at = 0; at < slept.size(); at = slept.find('\n', at) + 1)
            waited += atoi(slept.c_str() + at);
        EXPECT_LE(waited, 30000) << "the run waited past its bound";
        if (finished(r)) {
            EXPECT_TRUE(tree == new_tree) << "a run that was not stopped:" << changes(new_tree, tree);
            return;
        }
        ASSERT_TRUE(r.shows(Failed)) << "no result dialog";
        EXPECT_EQ(r.exit_code, static_cast<DWORD>(failure_code(r.text("details"), undo_stopped)));
        if (undo_stopped && (held || r.text("details").rfind("Can't Restore File: ", 0) == 0))
            EXPECT_EQ(losses(true), "") << "an undo that was stopped";
        else
            EXPECT_TRUE(tree == old_tree || (nested && tree == new_tree)) << "a failed run:" << changes(old_tree, tree);
        // A file that stays held is named in the player's words, and by the progress window while the run waits.
        std::string player_name =
            name.substr(name[0] == '~', name.rfind(".bak") == name.size() - 4 ? name.size() - 5 : std::string::npos);
        bool named = held && r.lines("row ").find(" Waiting for " + player_name + "\n") != std::string::npos &&
                     (r.text("details").find("File In Use: " + player_name + " ") != std::string::npos ||
                      r.text("details").find("File In Use: " + name + " ") != std::string::npos);
        std::string injected = r.lines("injected "), code; // the injected error as a failure line ends: "[70]\r\n"
        code = "[" + injected.substr(injected.rfind(' ') + 1, injected.size() - injected.rfind(' ') - 2) + "]\r\n";
        for (const std::string &name : std::initializer_list<std::string>{
                 "Patch102Notes.txt", "Config.exe", "Ostrevan.exe", "main.bin", "patch1.bin", JOURNAL, game})
            named = named || r.text("details").find(": " + name + " " + code) != std::string::npos;
        EXPECT_TRUE(named) << "the details name no file with the reason " << code << r.text("details");
    }

    // The cell: the run faulted at operation k leaves what it must (held briefly, it ends as if nothing had been in
    // its way; crashed, every file whole); from neither installation, the next run, returned, ends at the new one.
    SweepRun expect_cell_kept_the_promise(const Config &config, Fault fault, int k, bool nested)
    {
        hold = fault == HOLD ? "2000" : fault == HOLD_SHARED ? "2000 delete" : k % 2 ? "0 delete" : "0";
        SweepRun r = run(config, fault == FAIL ? "fail" : fault == CRASH ? "crash" : "hold", k);
        SCOPED_TRACE(std::string(FAULT_NAMES[fault]) + " at " + r.lines("injected ") + r.lines("held ") +
                     r.lines("faulted ") + "operation " + std::to_string(k));
        ++cells;
        if (fault == CRASH) {
            EXPECT_EQ(r.exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
            EXPECT_EQ(losses(true), "") << "after the crash";
        } else if (fault == FAIL || fault == HOLD_LONG) {
            expect_stopped_run_kept_its_promise(r, fault == HOLD_LONG, nested);
        } else {
            EXPECT_TRUE(finished(r)) << r.text("details");
            expect_tree(new_tree, "after a brief hold");
        }
        Tree tree = snapshot(game);
        return tree != old_tree && tree != new_tree ? expect_next_run_finishes(config, "the run after it") : SweepRun();
    }
};

// A run without faults shows every row and starts the game after OK, writing over what an earlier run left under an
// unpacked file's name; held by a scanner that shares its deletion, that name stays pending and the run waits.
TEST_F(Sweep, RunShowsEveryRowThenTheDialogOverTheNewFiles)
{
    std::string leftover = game + "\\~Patch102Notes.txt";
    install(game, 1);
    write_file(leftover, std::string(100000, 'g'));
    SweepRun r = run(CONFIGS[0], "count", 0, true);
    EXPECT_EQ(r.lines("row "), ALL_ROWS);
    expect_tree(new_tree, "after the update");
    std::vector<Operation> ops = r.operations();
    int k = 1;
    while (k < static_cast<int>(ops.size()) && ops[k - 1].path != leftover)
        ++k;
    install(game, 1);
    write_file(leftover, std::string(100000, 'g'));
    hold = "2000 delete";
    SweepRun held = run(CONFIGS[0], "hold", k);
    EXPECT_TRUE(held.shows(Succeeded) && held.lines("held ") == "~Patch102Notes.txt\n" && !held.lines("sleep ").empty())
        << held.text("details");
    expect_tree(new_tree, "after the update over a leftover that was held");
    // Elevated by an administrator (whose hive is HKEY_CURRENT_USER), the run finds the game in the shell user's.
    install(game, 1);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ostrevan");
    set_game_path(game, PLAYER_SID);
    shell_user = PLAYER_SID;
    hold = "0";
    SweepRun player = run(CONFIGS[0], "count", 0, true);
    EXPECT_TRUE(player.shows(Succeeded) && player.exit_code == EXIT_CODE_UPDATED) << player.text("details");
    expect_tree(new_tree, "after the update found in the player's hive");
}

// A file that stays in use fails the run with its holders as the Restart Manager names them in each language, one of
// another user's session marked so, the list read again as it grows: asked once, when the wait ends, session ended.
TEST_F(Sweep, AFileThatStaysInUseNamesItsHolders)
{
    install(game, 1);
    std::vector<Operation> ops = run(CONFIGS[0], "count", 0).operations();
    int k = 1;
    while (k < static_cast<int>(ops.size()) && ops[k - 1].path != game + "\\Ostrevan.exe")
        ++k;
    holders = "windows";
    for (int language = 1; language <= 3; ++language) {
        SCOPED_TRACE(MARKERS[language]);
        install(game, language);
        SweepRun r = run(CONFIGS[0], "hold", k);
        std::string named = "Ostrevan, Backup Agent (" + std::string(catalogue_text(language, OtherUser)) + ")";
        EXPECT_EQ(r.text("details"),
                  boxed(shown(language, FileInUse, "Ostrevan.exe") + shown(language, HeldBy, named)));
        EXPECT_EQ(r.lines("rm "), "start\nregister " + game + "\\Ostrevan.exe\nlist 0\nlist 1\nlist 2\nend\n");
    }
}

// A verdict before the unpacking, or a payload missing or damaged: its text, no start even after OK, the
// installation as it was, nothing touched before the dialog but the unpacked files, which go after it. A backup
// left as a link to a read-only file goes, and the installed file keeps the attribute that the link shares.
TEST_F(Sweep, FailedRunsShowWhyAndLeaveTheInstallationAsItWas)
{
    enum { NO_INSTALLATION, NO_MARKER, PATH_TOO_LONG, PAYLOAD_MISSING, PAYLOAD_DAMAGED, LEFTOVER_LINK };
    std::string root_file = work.substr(0, 2) + "\\~main.bin";
    for (int verdict = NO_INSTALLATION; verdict <= LEFTOVER_LINK; ++verdict) {
        SCOPED_TRACE(verdict);
        install(game, 1);
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
            install(dir, 1);
            details = "Game Folder Path Too Long: " + dir + " [ce]\n";
        } else {
            if (verdict == LEFTOVER_LINK) {
                SetFileAttributesA((game + "\\main.bin").c_str(), FILE_ATTRIBUTE_READONLY);
                CreateHardLinkA((game + "\\~main.bin.bak").c_str(), (game + "\\main.bin").c_str(), NULL);
            }
            program = updater_with(1104, verdict == PAYLOAD_DAMAGED);
            details =
                "Corrupt Patch File: main.bin Not Found! [" + std::string(verdict != PAYLOAD_DAMAGED ? "716]\n" : "");
            rows = "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n";
        }
        Tree before = snapshot(dir);
        before.erase("~main.bin");
        before.erase("~main.bin.bak");
        SweepRun r = run(CONFIGS[0], "count", 0, true, "", program);
        EXPECT_EQ(r.exit_code,
                  static_cast<DWORD>(verdict == NO_INSTALLATION ? EXIT_CODE_NOT_INSTALLED : EXIT_CODE_FAILED));
        EXPECT_TRUE(r.shows(Failed));
        // A damaged payload's line carries whatever code the platform recorded.
        EXPECT_EQ(r.text("details").substr(0, verdict == PAYLOAD_DAMAGED ? details.size() : std::string::npos),
                  boxed(details));
        EXPECT_EQ(r.lines("row "), rows);
        expect_tree(before, "after the failed run", dir);
        std::string before_dialog = r.report.substr(0, r.report.find("\ndialog\n"));
        EXPECT_TRUE(verdict == LEFTOVER_LINK ||
                    before_dialog.find(program.empty() ? "\nop " : " Delete ") == std::string::npos)
            << r.report;
        if (verdict == NO_INSTALLATION) { // without a game directory, no file is touched
            EXPECT_TRUE(r.operations().empty() && read_file(root_file) == "not the updater's");
            DeleteFileA(root_file.c_str());
        }
    }
}

// A commit cut short leaves its journal and the unpacked files; a run that stops at discovery (no marker) leaves
// them all, and the run after it undoes the commit and updates, a read-only file it never replaced included.
TEST_F(Sweep, RunStoppedAtDiscoveryKeepsWhatACrashLeft)
{
    const Config &config = CONFIGS[2];
    install(game, 1, config);
    std::vector<Operation> ops = run(config, "count", 0).operations();
    int k = 1;
    while (k < static_cast<int>(ops.size()) && ops[k - 1].name != "Rename")
        ++k;
    install(game, 1, config);
    EXPECT_EQ(run(config, "crash", k).exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
    Tree crashed = snapshot(game);
    ASSERT_TRUE(crashed.count(JOURNAL) && crashed.count("~main.bin")) << "operation " << k;
    DeleteFileA((game + "\\local.bin").c_str());
    crashed.erase("local.bin");
    SweepRun stopped = run(config, "count", 0);
    EXPECT_EQ(stopped.text("details"), boxed(catalogue_text(1, Corrupt)));
    EXPECT_EQ(stopped.exit_code, static_cast<DWORD>(EXIT_CODE_INTERRUPTED)) << "the journal stays";
    expect_tree(crashed, "after the run that found no marker");
    write_file(game + "\\local.bin", "");
    expect_next_run_finishes(config, "the run after it");
}

// A run whose progress window or result dialog cannot be created updates and ends the same; without OK, no start.
TEST_F(Sweep, WindowsThatCannotBeCreatedChangeNothingOfTheUpdate)
{
    for (const std::string window : {"progress", "dialog"}) {
        install(game, 1);
        SweepRun r = run(CONFIGS[0], "count", 0, true, window.c_str());
        EXPECT_EQ(r.exit_code, static_cast<DWORD>(EXIT_CODE_UPDATED));
        expect_tree(new_tree, "an update without its " + window);
    }
    install(game, 1);
    EXPECT_EQ(run(CONFIGS[0], "count", 0, true, "dialog", updater_with(1104, false)).exit_code,
              static_cast<DWORD>(EXIT_CODE_FAILED));
    expect_tree(old_tree, "a failed update without its dialog");
}

// In each configuration, a fault of each kind at every operation where it proves something (proof above), or in
// the sample (SWEEP=call) at the first cells proving each thing, spread over the configurations; after each crash,
// the next run likewise (SWEEP_NESTED=all or call), at the calls that no first run makes.
TEST_F(Sweep, FailureOrCrashAtEveryOperation)
{
    auto setting = [](const char *name, const char *unset) { return std::string(getenv(name) ? getenv(name) : unset); };
    std::string first = setting("OSTREVAN_SWEEP", "all"), second = setting("OSTREVAN_SWEEP_NESTED", "none");
    struct Cell {
        size_t config;
        int k, k2; // k2: of the run after the crash at k, 0 for none
        Fault fault;
    };
    typedef std::map<std::string, std::vector<Cell>> Proofs; // the cells that prove each thing
    Proofs proving, proving_nested;
    std::set<std::string> first_sites;
    std::vector<Cell> plan, nested;
    // Every cell, or for the i-th thing to prove its i-th cell, modulo their number: spread over the configurations.
    auto choose = [](const Proofs &proofs, bool all, std::vector<Cell> *cells) {
        size_t i = 0;
        for (const auto &proof : proofs)
            for (size_t j = 0, at = i++ % proof.second.size(); j < proof.second.size(); ++j)
                if (all || j == at)
                    cells->push_back(proof.second[j]);
    };
    for (size_t c = 0; c < sizeof CONFIGS / sizeof CONFIGS[0]; ++c) {
        install(game, 1, CONFIGS[c]);
        std::vector<Operation> ops = run(CONFIGS[c], "count", 0).operations();
        expect_tree(new_tree, std::string(CONFIGS[c].name) + ", a run without faults");
        expect_next_run_finishes(CONFIGS[c], "a run over the new installation");
        for (int k = 1; k <= static_cast<int>(ops.size()); ++k) {
            first_sites.insert(ops[k - 1].site);
            for (int fault = FAIL; fault < FAULTS; ++fault)
                if (std::string proved = proof(ops, k, Fault(fault), CONFIGS[c]); !proved.empty())
                    proving[FAULT_NAMES[fault] + proved].push_back({c, k, 0, Fault(fault)});
        }
        printf("[ sweep    ] %s: %zu operations\n", CONFIGS[c].name, ops.size());
    }
    choose(proving, first == "all", &plan);
    printf("[ sweep    ] %zu cells, then the runs after crashes\n", plan.size());
    for (const Cell &cell : plan) {
        SCOPED_TRACE(CONFIGS[cell.config].name);
        install(game, 1, CONFIGS[cell.config]);
        std::vector<Operation> ops =
            expect_cell_kept_the_promise(CONFIGS[cell.config], cell.fault, cell.k, false).operations();
        for (int k2 = 1; cell.fault == CRASH && k2 <= static_cast<int>(ops.size()); ++k2)
            for (Fault fault : {CRASH, FAIL, HOLD_SHARED, HOLD_LONG})
                if (std::string proved = proof(ops, k2, fault, CONFIGS[cell.config]);
                    !proved.empty() && !first_sites.count(proved.substr(0, proved.find(' '))))
                    proving_nested[FAULT_NAMES[fault] + proved].push_back({cell.config, cell.k, k2, fault});
    }
    if (second != "none")
        choose(proving_nested, second == "all", &nested);
    printf("[ sweep    ] %zu cells in the runs after crashes\n", nested.size());
    for (const Cell &cell : nested) {
        SCOPED_TRACE(std::string(CONFIGS[cell.config].name) + ", after a crash at operation " + std::to_string(cell.k));
        install(game, 1, CONFIGS[cell.config]);
        EXPECT_EQ(run(CONFIGS[cell.config], "crash", cell.k).exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
        expect_cell_kept_the_promise(CONFIGS[cell.config], cell.fault, cell.k2, true);
    }
}

// After every (CUT_STEP-th) operation that changed the folder, and at the run's end, every state a power cut may
// leave (power_cut.h) has each file whole and the next run ends at the new installation; a loss ends the test.
TEST_F(Sweep, PowerCutAfterEveryChange)
{
    // A cut's states grow as a power of three of the writes not flushed. The run leaves at most 18 (without links,
    // after a backup copy's write); three times that is the ceiling: a run that stops flushing fails at once.
    const int STATE_CEILING = 54;
    int step = atoi(getenv("OSTREVAN_CUT_STEP") ? getenv("OSTREVAN_CUT_STEP") : "1");
    for (const Config &config : CONFIGS) {
        install(game, 1, config);
        std::vector<Operation> ops = run(config, "count", 0).operations();
        std::vector<int> cuts;
        for (size_t k = 2; k <= ops.size() + 1; ++k)
            if (strstr(" CreateFileA WriteFile Rename Link Delete SetAttributes ",
                       (" " + ops[k - 2].name + " ").c_str()))
                cuts.push_back(static_cast<int>(k));
        for (size_t i = 0; i < cuts.size(); i += step) {
            const Operation &after = ops[cuts[i] - 2];
            std::string point =
                std::string(config.name) + ", a cut after operation " + std::to_string(cuts[i] - 1) + " (" +
                after.name + " " +
                (after.path.empty() ? "of the file last opened" : after.path.substr(after.path.rfind('\\') + 1)) + ")";
            for (int states = 1; cut_state < states; ++cut_state, ++cells) {
                install(game, 1, config);
                SweepRun cut = run(config, "cut", cuts[i]);
                states = atoi(cut.lines("cut ").c_str());
                if (cut_state == 0) {
                    printf("[ cut      ] %s: %d states\n", point.c_str(), states);
                    fflush(stdout);
                }
                ASSERT_LE(states, STATE_CEILING) << point << " leaves " << states << " states by the model of the "
                                                 << "disk: writes that the run relies on are probably not flushed";
                std::string state = point + ", state " + std::to_string(cut_state) + " of " + std::to_string(states);
                EXPECT_EQ(cut.exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE)) << state;
                std::string lost = losses(true);
                if (lost.empty()) {
                    SCOPED_TRACE(state);
                    expect_next_run_finishes(config, "the run after the power cut");
                    if (HasFailure())
                        lost =
                            " after the next run," + losses(false) + " differing:" + changes(new_tree, snapshot(game));
                } else {
                    ADD_FAILURE() << state << ":" << lost;
                }
                if (HasFailure()) {
                    printf("[ lost     ] %s:%s\n", state.c_str(), lost.c_str());
                    fflush(stdout);
                    return;
                }
            }
            cut_state = 0;
        }
        printf("[ sweep    ] %s: power cuts at %zu points\n", config.name, (cuts.size() + step - 1) / step);
        fflush(stdout);
    }
}

} // namespace
