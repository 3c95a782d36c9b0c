// sweep_test.cpp -- the updater's promise at every file operation of a run: built with the counting shim, it is
// made to fail, or is ended on the spot, at operation k for every k (or every STEP-th), with hard links and
// without (as on FAT and exFAT), with a read-only installed file and without. A failed run leaves exactly the
// old installation (or, after the commit point, exactly the new one), a crashed one leaves every file whole;
// either way the next run ends at exactly the new installation with nothing left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "tests/sweep_report.h"
#include "tests/win_test_support.h"

namespace
{

const char *const INSTALLED_NAMES[] = {"Patch102Notes.txt", "Config.exe", "Ostrevan.exe", "main.bin", "patch1.bin"};
const char *const LINE_NAMES[] = {"Patch102Notes.txt", "Config.exe", "Ostrevan.exe",
                                  "main.bin",          "patch1.bin", "~Patch102.journal"};
const char READ_ONLY_FILE[] = "main.bin";

struct Config {
    const char *name;
    bool links;
    bool read_only;
};
const Config CONFIGS[] = {
    {"hard links", true, false},
    {"no hard links", false, false},
    {"hard links, read-only main.bin", true, true},
    {"no hard links, read-only main.bin", false, true},
};

// What the shim reported of one run.
struct SweepRun {
    DWORD exit_code = 0;
    int operations = 0;
    std::string injected; // "<k> <operation> <error in hex>"
    bool dialog = false;
    std::string message, details;
    std::vector<std::string> trace;
};

int env_number(const char *name, int fallback)
{
    const char *value = getenv(name);
    return value && *value ? atoi(value) : fallback;
}

// A file's content without the read-only mark of the snapshot.
std::string content(const std::string &entry)
{
    const std::string mark = READ_ONLY_MARK;
    bool marked = entry.size() >= mark.size() && entry.compare(entry.size() - mark.size(), mark.size(), mark) == 0;
    return marked ? entry.substr(0, entry.size() - mark.size()) : entry;
}

class Sweep : public ::testing::Test
{
  protected:
    std::string package, installed, updater, game, work, saved, report;
    Tree old_tree, new_tree;
    int step = 1, nested_step = 0;
    int cells = 0;

    void SetUp() override
    {
        package = env_path("OSTREVAN_PACKAGE_DIR");
        installed = env_path("OSTREVAN_INSTALL_101");
        step = env_number("OSTREVAN_SWEEP_STEP", 1);
        nested_step = env_number("OSTREVAN_SWEEP_NESTED_STEP", 0);
        work = make_temp_dir("sweep-work");
        game = make_temp_dir("sweep-game");
        saved = make_temp_dir("sweep-saved");
        report = work + "\\report.txt";
        updater = work + "\\Ostrevan_Patch102.exe";
        ASSERT_TRUE(CopyFileA(env_path("OSTREVAN_SWEEP_UPDATER").c_str(), updater.c_str(), FALSE));
        ASSERT_TRUE(copy_payloads(package + "\\Ostrevan_Patch102.exe", updater, 0));
        remove_game_key();
        set_game_path(game);
    }
    void TearDown() override
    {
        remove_game_key();
        remove_tree(game);
        remove_tree(work);
        remove_tree(saved);
        printf("[ sweep    ] %d cells held\n", cells);
    }

    // The English installation 1.01, and what it must become.
    void install(const Config &config)
    {
        remove_tree(game);
        ASSERT_TRUE(CreateDirectoryA(game.c_str(), NULL));
        for (const std::string &name : list_dir(installed))
            ASSERT_TRUE(CopyFileA((installed + "\\" + name).c_str(), (game + "\\" + name).c_str(), FALSE));
        ASSERT_TRUE(write_file(game + "\\local.bin", ""));
        if (config.read_only) {
            ASSERT_TRUE(SetFileAttributesA((game + "\\" + READ_ONLY_FILE).c_str(), FILE_ATTRIBUTE_READONLY));
        }
        old_tree = snapshot(game);
        new_tree = old_tree;
        for (const char *name : INSTALLED_NAMES)
            new_tree[name] = read_file(package + "\\" + (std::string(name) == "patch1.bin" ? "patch1_en.bin" : name));
    }

    static void copy_dir(const std::string &from, const std::string &to)
    {
        remove_tree(to);
        CreateDirectoryA(to.c_str(), NULL);
        for (const std::string &name : list_dir(from))
            CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
    }

    SweepRun run(const Config &config, const char *mode, int at)
    {
        SweepRun result;
        SetEnvironmentVariableA("OSTREVAN_SWEEP_MODE", mode);
        SetEnvironmentVariableA("OSTREVAN_SWEEP_AT", std::to_string(at).c_str());
        SetEnvironmentVariableA("OSTREVAN_SWEEP_NO_LINKS", config.links ? "0" : "1");
        SetEnvironmentVariableA("OSTREVAN_SWEEP_REPORT", report.c_str());
        DeleteFileA(report.c_str());
        PROCESS_INFORMATION process;
        if (!start_process("\"" + updater + "\"", work, &process)) {
            ADD_FAILURE() << "cannot start the sweep updater";
            return result;
        }
        result.exit_code = finish_process(&process, 60000);
        std::string text = read_file(report);
        size_t at_line = 0;
        while (at_line < text.size()) {
            size_t end = text.find('\n', at_line);
            std::string line = text.substr(at_line, end - at_line);
            at_line = end == std::string::npos ? text.size() : end + 1;
            if (line.rfind("operations ", 0) == 0) {
                result.operations = atoi(line.c_str() + 11);
            } else if (line.rfind("injected ", 0) == 0) {
                result.injected = line.substr(9);
            } else if (line == "message" || line == "details") {
                size_t close = text.find("\n" REPORT_TEXT_END "\n", at_line);
                (line == "message" ? result.message : result.details) = text.substr(at_line, close - at_line);
                result.dialog = true;
                at_line = close == std::string::npos ? text.size() : close + sizeof REPORT_TEXT_END + 1;
            } else if (line.rfind("op ", 0) == 0) {
                result.trace.push_back(line);
            }
        }
        return result;
    }

    // Every installed file is exactly its old or its new bytes.
    void expect_whole(const char *when)
    {
        Tree tree = snapshot(game);
        for (const char *name : INSTALLED_NAMES) {
            std::string now = content(tree[name]);
            bool whole = (now == content(old_tree[name]) && old_tree.count(name)) || now == content(new_tree[name]);
            EXPECT_TRUE(whole) << when << ": " << name << " is neither old nor new (" << now.size() << " bytes)";
        }
    }

    void expect_tree(const Tree &expected, const char *what)
    {
        Tree tree = snapshot(game);
        EXPECT_TRUE(tree == expected) << what << ":" << changes(expected, tree);
    }

    // The next run, without a fault, ends at exactly the new installation.
    void expect_next_run_finishes(const Config &config, const char *after)
    {
        SweepRun next = run(config, "count", 0);
        EXPECT_EQ(next.exit_code, 0u) << after;
        EXPECT_EQ(next.message, catalogue_text(1, Succeeded)) << after << "\n" << next.details;
        expect_tree(new_tree, after);
    }

    // The run fails and shows which file, with the platform's reason, and leaves the old
    // installation; or its failure came after the commit point and changed nothing of the result.
    void expect_failed_run_kept_its_promise(const SweepRun &r)
    {
        ASSERT_EQ(r.exit_code, 0u);
        ASSERT_TRUE(r.dialog) << "no result dialog";
        if (r.message == catalogue_text(1, Succeeded)) {
            expect_tree(new_tree, "a run that reported success");
            return;
        }
        EXPECT_EQ(r.message, catalogue_text(1, Failed));
        expect_tree(old_tree, "a failed run");
        std::string code = "[" + r.injected.substr(r.injected.rfind(' ') + 1) + "]\n";
        bool named = false;
        for (const char *name : LINE_NAMES)
            named = named || r.details.find(std::string(": ") + name + " " + code) != std::string::npos;
        EXPECT_TRUE(named) << "the details name no file with the reason " << code << r.details;
    }

    int count_operations(const Config &config)
    {
        install(config);
        SweepRun plain = run(config, "count", 0);
        EXPECT_EQ(plain.message, catalogue_text(1, Succeeded)) << plain.details;
        expect_tree(new_tree, "a run without faults");
        EXPECT_GT(plain.operations, 40);
        return plain.operations;
    }
};

TEST_F(Sweep, FailureAtEveryOperation)
{
    for (const Config &config : CONFIGS) {
        int operations = count_operations(config);
        for (int k = 1; k <= operations; k += step) {
            install(config);
            SweepRun r = run(config, "fail", k);
            SCOPED_TRACE(std::string(config.name) + ", operation " + r.injected);
            expect_failed_run_kept_its_promise(r);
            expect_next_run_finishes(config, "the run after a failure");
            ++cells;
        }
        printf("[ sweep    ] failure, %s: %d operations\n", config.name, operations);
    }
}

TEST_F(Sweep, CrashAtEveryOperation)
{
    for (const Config &config : CONFIGS) {
        int operations = count_operations(config);
        for (int k = 1; k <= operations; k += step) {
            install(config);
            SweepRun r = run(config, "crash", k);
            SCOPED_TRACE(std::string(config.name) + ", crash at operation " + r.injected);
            ASSERT_EQ(r.exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
            expect_whole("after the crash");
            ++cells;
            if (nested_step == 0) {
                expect_next_run_finishes(config, "the run after a crash");
                continue;
            }
            // The next run, itself ended at each of its operations, then a third run.
            copy_dir(game, saved);
            SweepRun second = run(config, "count", 0);
            expect_tree(new_tree, "the run after a crash");
            for (int k2 = 1; k2 <= second.operations; k2 += nested_step) {
                copy_dir(saved, game);
                SweepRun again = run(config, "crash", k2);
                SCOPED_TRACE("second crash at operation " + again.injected);
                EXPECT_EQ(again.exit_code, static_cast<DWORD>(SWEEP_CRASH_EXIT_CODE));
                expect_whole("after the second crash");
                expect_next_run_finishes(config, "the third run");
                ++cells;
            }
        }
        printf("[ sweep    ] crash, %s: %d operations\n", config.name, operations);
    }
}

} // namespace
