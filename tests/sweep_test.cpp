// sweep_test.cpp -- the updater's promise, proven on its sweep build (fault_shim.cpp holds its file calls to Windows'
// rules and reports what it did): the rows, the verdicts, windows that cannot be created, commits that an earlier
// run left half done, and a failure, or an end on the spot, at operation k for every k (or every STEP-th), with
// hard links and without (as on FAT and exFAT), with a read-only installed file and without. A failed run leaves
// exactly the old installation (after the commit point, exactly the new one), a crashed one leaves every file
// whole; either way the next run ends at exactly the new installation with nothing left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string>

#include "app/catalogue.h"
#include "tests/sweep_report.h"
#include "tests/win_test_support.h"

namespace
{

const char ALL_ROWS[] = "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n"
                        "57 patch1.bin\n71 patch1.bin\n85 patch1.bin\n";

struct Config {
    const char *name;
    bool links, read_only; // read-only: main.bin
} const CONFIGS[] = {
    {"hard links", true, false},
    {"no hard links, short writes", false, false},
    {"hard links, read-only main.bin", true, true},
    {"no hard links, short writes, read-only main.bin", false, true},
};
const Config &PLAIN = CONFIGS[0];

// What the shim reported of one run.
struct SweepRun {
    DWORD exit_code = 0;
    std::string report;
    int operations() const
    {
        return atoi(report.c_str() + report.find("operations ") + 11);
    }
    std::string lines(const std::string &prefix) const // the report's lines of prefix, without it
    {
        std::string found;
        for (size_t at = report.find("\n" + prefix); at != std::string::npos; at = report.find("\n" + prefix, at + 1))
            found += report.substr(at + 1 + prefix.size(), report.find('\n', at + 1) - at - prefix.size());
        return found;
    }
    std::string text(const char *name) const // what the dialog showed ("message", "details")
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

// A file's content without the read-only mark of the snapshot.
std::string content(std::string entry)
{
    size_t mark = entry.rfind(READ_ONLY_MARK);
    return mark != std::string::npos && mark + strlen(READ_ONLY_MARK) == entry.size() ? entry.substr(0, mark) : entry;
}

class Sweep : public ::testing::Test
{
  protected:
    std::string package = env_path("OSTREVAN_PACKAGE_DIR"), game = make_temp_dir("sweep-game"),
                work = make_temp_dir("sweep-work"), saved = make_temp_dir("sweep-saved"), updater = updater_without(0);
    Tree old_tree, new_tree;
    int cells = 0;

    void TearDown() override
    {
        remove_game_key();
        for (const std::string &dir : {game, work, saved})
            remove_tree(dir);
        if (cells > 0)
            printf("[ sweep    ] %d cells held\n", cells);
    }

    // The sweep updater with every payload of the package but resource_id.
    std::string updater_without(int resource_id)
    {
        std::string copy = work + "\\" + (resource_id ? std::to_string(resource_id) : "Ostrevan_Patch102") + ".exe";
        EXPECT_TRUE(CopyFileA(env_path("OSTREVAN_SWEEP_UPDATER").c_str(), copy.c_str(), FALSE));
        EXPECT_TRUE(copy_payloads(package + "\\Ostrevan_Patch102.exe", copy, resource_id));
        return copy;
    }

    // The English installation 1.01, and what it must become.
    void install(const Config &config)
    {
        remove_tree(game);
        CreateDirectoryA(game.c_str(), NULL);
        install_101(game, 1);
        if (config.read_only)
            SetFileAttributesA((game + "\\main.bin").c_str(), FILE_ATTRIBUTE_READONLY);
        old_tree = snapshot(game);
        new_tree = expected_102(old_tree, package, 1);
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
        EXPECT_NE(r.report.find("\noperations "), std::string::npos) << "no report";
        // The game starts after an update that succeeded and was answered OK, and only then.
        EXPECT_EQ(r.lines("launch "), ok && r.succeeded() ? game + "\\Ostrevan.exe\n" : "");
        return r;
    }

    void expect_tree(const Tree &expected, const std::string &what)
    {
        Tree tree = snapshot(game);
        EXPECT_TRUE(tree == expected) << what << ":" << changes(expected, tree);
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
            if (attributes != INVALID_FILE_ATTRIBUTES)
                CopyFileA(path.c_str(), (game + "\\~" + name + ".bak").c_str(), FALSE);
            write_file(i < replaced ? path : game + "\\~" + name, content(new_tree[name]));
        }
        write_file(game + "\\~Patch102.journal", (journal + "end\n").substr(0, whole ? std::string::npos : 40));
    }
};

// A run without faults shows every row, then the dialog over the committed files, and starts the game after OK.
TEST_F(Sweep, RunShowsEveryRowThenTheDialogOverTheNewFiles)
{
    install(PLAIN);
    SweepRun r = run(PLAIN, "count", 0, true);
    EXPECT_EQ(r.lines("row "), ALL_ROWS);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.text("details"), read_file(package + "\\Patch102Notes.txt"));
    EXPECT_GT(r.report.find("\ndialog\n"), r.report.rfind("~Patch102.journal")) << "the dialog follows the commit";
}

// Verdicts that stop the run before it unpacks, or a payload that is missing: their text, no start of the game
// even after OK, the installation as it was, and nothing touched before the dialog but the unpacked files, which
// go after it.
TEST_F(Sweep, FailedRunsShowWhyAndLeaveTheInstallationAsItWas)
{
    enum { NO_INSTALLATION, NO_MARKER, PATH_TOO_LONG, PAYLOAD_MISSING };
    const char *const verdicts[] = {"no installation", "no language marker", "path too long", "a payload missing"};
    std::string root_file = work.substr(0, 2) + "\\~main.bin";
    for (int verdict = NO_INSTALLATION; verdict <= PAYLOAD_MISSING; ++verdict) {
        SCOPED_TRACE(verdicts[verdict]);
        install(PLAIN);
        std::string dir = game, details = catalogue_text(1, NotInstalled), rows, program;
        if (verdict == NO_INSTALLATION) {
            remove_game_key();
            write_file(root_file, "not the updater's");
        } else if (verdict == NO_MARKER) {
            DeleteFileA((game + "\\local.bin").c_str());
            write_file(game + "\\~main.bin", "left by an earlier run");
            details = catalogue_text(1, Corrupt);
        } else if (verdict == PATH_TOO_LONG) {
            // The registry value may be 255 characters long; the file calls reach 259.
            dir = game + "\\" + std::string(245 - game.size() - 1, 'd');
            CreateDirectoryA(dir.c_str(), NULL);
            install_101(dir, 1);
            details = "Game Folder Path Too Long: " + dir + " [ce]\n";
        } else {
            program = updater_without(1104);
            details = "Corrupt Patch File: main.bin Not Found! [716]\n";
            rows = "0 Patch102Notes.txt\n14 Config.exe\n28 Ostrevan.exe\n42 main.bin\n";
        }
        Tree before = snapshot(dir);
        before.erase("~main.bin");
        SweepRun r = run(PLAIN, "count", 0, true, "", program);
        EXPECT_TRUE(r.exit_code == 0 && r.failed());
        EXPECT_EQ(r.text("details"), details);
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
    run(PLAIN, "count", 0, true, "dialog", updater_without(1104));
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
    } cases[] = {{0, true, false}, {2, true, false}, {5, true, false}, {0, false, true}, {3, true, true}};
    std::string failing = updater_without(1104);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.replaced) + " replaced" + (c.whole_journal ? "" : ", journal cut short") +
                     (c.torn_backup ? ", main.bin's backup torn" : ""));
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
            SweepRun second = run(config, "count", 0);
            expect_tree(new_tree, "the run after a crash");
            for (int k2 = 1, n = 0; k2 <= second.operations(); k2 += nested_step, ++n, ++cells) {
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
