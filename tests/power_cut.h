// power_cut.h -- the sweep shim's model of the disk after a power cut (MODE=cut; docs/reliability.md, "Power cuts"):
// the run's changes to the game folder (GAME) are recorded as it makes them; at operation AT the folder is rewritten
// as the CUT-th state that the model allows, and the process ends. Changes of names and attributes reach the disk in
// order: one made on a FILE_FLAG_WRITE_THROUGH handle is there, with all before it, when its call returns; of those
// after, any prefix may be. A file's data is there as of its last FlushFileBuffers, which carries no change of names;
// data written since may be missing, present or zeros. The cut is reported: "cut <states> <changes kept> <changes>".
// Included by fault_shim.h, whose includes, report and names of open handles it uses.
#pragma once

#include <vector>

#include "tests/win_test_support.h"

namespace cut
{

struct NoCase {
    bool operator()(const std::string &a, const std::string &b) const
    {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    }
};
typedef std::map<std::string, int, NoCase> Names; // of the folder, to the files they name

struct File {
    std::string flushed, data; // as of the last flush, and as written
    DWORD attributes;          // when the run found or made it
};
enum Kind { MADE, RENAMED, LINKED, REMOVED, ATTRIBUTED };
struct Change {
    Kind kind;
    int file;
    std::string name, to; // the name it had, the name it gets
    DWORD attributes;
};

struct Opened {
    int file;
    bool through;
};

inline bool on;
inline std::string game;
inline std::vector<File> files;
inline Names names; // as the run left them
inline std::vector<Change> changes;
inline size_t durable;                   // how many changes are on the disk for certain
inline std::map<HANDLE, Opened> handles; // to the folder's files

inline std::string name_in_game(const std::string &path)
{
    size_t length = game.size();
    bool inside = length > 0 && path.size() > length + 1 && _strnicmp(path.c_str(), game.c_str(), length) == 0 &&
                  path[length] == '\\' && path.find('\\', length + 1) == std::string::npos;
    return inside ? path.substr(length + 1) : "";
}

inline void apply(const Change &change, Names *names, std::vector<File> *files)
{
    if (change.kind == RENAMED || change.kind == REMOVED)
        names->erase(change.name);
    if (change.kind == MADE || change.kind == RENAMED || change.kind == LINKED)
        (*names)[change.to] = change.file;
    if (change.kind == ATTRIBUTED && files)
        (*files)[change.file].attributes = change.attributes;
}

inline void record(Kind kind, int file, const std::string &name, const std::string &to, DWORD attributes, bool through)
{
    changes.push_back({kind, file, name, to, attributes});
    apply(changes.back(), &names, NULL);
    durable = through ? changes.size() : durable;
}

inline void make(const std::string &name, const std::string &data, DWORD attributes, bool through)
{
    files.push_back({data, data, attributes});
    record(MADE, static_cast<int>(files.size() - 1), "", name, 0, through);
}

// The folder as the run found it, all of it on the disk.
inline void begin(const std::string &folder)
{
    on = true, game = folder;
    for (const std::string &name : list_dir(game))
        make(name, read_file(game + "\\" + name), GetFileAttributesA((game + "\\" + name).c_str()), true);
}

// The run writes only the files that it creates, from their start.
inline void opened(HANDLE handle, const char *path, DWORD disposition, DWORD flags)
{
    std::string name = on && handle != INVALID_HANDLE_VALUE ? name_in_game(path) : "";
    bool through = (flags & FILE_FLAG_WRITE_THROUGH) != 0;
    if (!name.empty() && disposition == CREATE_NEW)
        make(name, "", FILE_ATTRIBUTE_NORMAL, through);
    if (!name.empty() && names.count(name))
        handles[handle] = {names[name], through};
}

// The file that handle was opened to, or NULL.
inline File *file_of(HANDLE handle)
{
    auto found = handles.find(handle);
    return found == handles.end() ? NULL : &files[found->second.file];
}

inline void written(HANDLE handle, const void *data, DWORD length)
{
    if (File *file = file_of(handle))
        file->data.append(static_cast<const char *>(data), length);
}

inline BOOL flushed(HANDLE handle, BOOL done)
{
    if (File *file = done ? file_of(handle) : NULL)
        file->flushed = file->data;
    return done;
}

// A rename (10), link (11), deletion (13) or attribute change (4) that succeeded on the handle.
inline void changed(HANDLE handle, ULONG kind, const std::string &to, const void *information)
{
    auto found = handles.find(handle);
    if (found == handles.end())
        return;
    const Opened &opened = found->second;
    std::string name = name_in_game(shim::names[handle]);
    DWORD set = kind == 4 ? static_cast<const DWORD *>(information)[8] : 0; // after four times
    if (kind == 10 || kind == 11)
        record(kind == 10 ? RENAMED : LINKED, opened.file, name, name_in_game(to), 0, opened.through);
    else if (kind == 13 && *static_cast<const BOOLEAN *>(information))
        record(REMOVED, opened.file, name, "", 0, opened.through);
    else if (kind == 4 && set != 0)
        record(ATTRIBUTED, opened.file, name, "", set, opened.through);
}

// Rewrites the folder as the choice-th state that a power cut now may leave, and ends the process.
inline void power_cut(int choice)
{
    int prefixes = static_cast<int>(changes.size() - durable + 1), states = prefixes, rest = choice / prefixes;
    size_t kept = durable + static_cast<size_t>(choice % prefixes);
    std::vector<File> state = files;
    for (File &file : state) {
        if (file.data == file.flushed)
            continue;
        std::string zeros = file.flushed.substr(0, file.data.size());
        zeros.resize(file.data.size(), '\0');
        file.data = rest % 3 == 0 ? file.data : rest % 3 == 1 ? file.flushed : zeros;
        states *= 3, rest /= 3;
    }
    shim::note("cut " + std::to_string(states) + " " + std::to_string(kept) + " " + std::to_string(changes.size()) +
               "\n");
    Names kept_names;
    for (size_t i = 0; i < kept; ++i)
        apply(changes[i], &kept_names, &state);

    for (const auto &handle : shim::names)
        CloseHandle(handle.first);
    for (const std::string &name : list_dir(game)) {
        SetFileAttributesA((game + "\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((game + "\\" + name).c_str());
    }
    std::map<int, std::string> first_names;
    for (const auto &name : kept_names) {
        std::string path = game + "\\" + name.first;
        if (first_names.count(name.second)) {
            CreateHardLinkA(path.c_str(), first_names[name.second].c_str(), NULL);
        } else if (FILE *file = fopen(path.c_str(), "wb")) {
            fwrite(state[name.second].data.data(), 1, state[name.second].data.size(), file);
            fclose(file);
        }
        first_names[name.second] = path;
    }
    // The read-only attribute, and the mark of a file that the sweep makes a reparse point.
    for (const auto &name : kept_names)
        if (DWORD kept = state[name.second].attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM))
            SetFileAttributesA((game + "\\" + name.first).c_str(), kept);
    TerminateProcess(GetCurrentProcess(), SWEEP_CRASH_EXIT_CODE);
}

} // namespace cut
