// Staged outputs: what an output path may name, an output that is an
// input, and all-or-nothing commits that leave nothing behind.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "staged_output.h"
#include "test_util.h"

namespace {

// The names in a folder, hidden ones included, sorted.
std::string listing(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    for (dirent* entry; dir != nullptr && (entry = readdir(dir)) != nullptr;)
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
    if (dir != nullptr) closedir(dir);
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) text += name + " ";
    return text;
}

mode_t kind(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
}

bool write_staged(const std::string& path, const std::string& text, std::string& error) {
    Staged_text out;
    if (!out.open(path, error)) return false;
    out.write(text);
    return out.commit(error);
}

TEST(plumbing_staged_output, special_targets_are_followed_or_written_through_never_replaced) {
    Temp_dir dir;
    write_text(dir.file("real.txt"), "old");
    ASSERT_EQ(symlink("real.txt", dir.file("link").c_str()), 0);
    ASSERT_EQ(symlink("new.txt", dir.file("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
    std::string from_fifo;
    std::thread reader([&] { from_fifo = read_text(dir.file("fifo")); });
    struct Case {
        const char* out;
        const char* where;   // the file that holds the text afterwards; null: refused
        mode_t kind;         // of the output path afterwards
    } cases[] = {
        {"link", "real.txt", S_IFLNK},
        {"dangling", "new.txt", S_IFLNK},
        {"fifo", nullptr, S_IFIFO},
        {"folder", nullptr, S_IFDIR},
    };
    for (const Case& c : cases) {
        std::string error;
        const bool written = write_staged(dir.file(c.out), c.out, error);
        EXPECT_EQ(written, std::string(c.out) != "folder") << c.out << ": " << error;
        if (c.where != nullptr) {
            EXPECT_EQ(read_text(dir.file(c.where)), c.out);
        }
        EXPECT_EQ(kind(dir.file(c.out)), c.kind) << c.out;
    }
    reader.join();
    EXPECT_EQ(from_fifo, "fifo");
    EXPECT_EQ(listing(dir.path()), "dangling fifo folder link new.txt real.txt ");
}

TEST(plumbing_staged_output, an_input_however_spelled_is_never_an_output) {
    Temp_dir dir;
    ASSERT_EQ(mkdir(dir.file("d").c_str(), 0700), 0);
    write_text(dir.file("d/in.txt"), "input");
    write_text(dir.file("other.txt"), "other");
    ASSERT_EQ(symlink("d/in.txt", dir.file("link").c_str()), 0);
    ASSERT_EQ(link(dir.file("d/in.txt").c_str(), dir.file("hard").c_str()), 0);
    const std::vector<std::pair<std::string, bool>> cases = {
        {dir.file("d/../d/./in.txt"), false}, {dir.file("link"), false}, {dir.file("hard"), false},
        {dir.file("other.txt"), true},        {dir.file("new.txt"), true},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(check_not_input(c.first, {"", dir.file("d/in.txt")}, error), c.second) << c.first;
        if (!c.second) {
            EXPECT_NE(error.find("is the input"), std::string::npos) << error;
        }
    }
}

TEST(plumbing_staged_output, a_set_goes_into_place_whole_or_not_at_all) {
    Temp_dir dir;
    write_text(dir.file("a.txt"), "old a");
    Staged_files set;
    std::string a, b, c, error;
    ASSERT_TRUE(set.make_folders(dir.file("new/deeper"), error)) << error;
    ASSERT_TRUE(set.add(dir.file("a.txt"), a, error) && set.add(dir.file("b.txt"), b, error) &&
                set.add(dir.file("new/deeper/c.txt"), c, error))
        << error;
    write_text(a, "new a");
    write_text(b, "new b");
    // A folder comes in the way of b after staging: a must be put back.
    ASSERT_EQ(mkdir(dir.file("b.txt").c_str(), 0700), 0);
    write_text(dir.file("b.txt/keep"), "kept");
    EXPECT_FALSE(set.commit(error));
    EXPECT_NE(error.find("b.txt: cannot write the file: "), std::string::npos) << error;
    EXPECT_EQ(read_text(dir.file("a.txt")), "old a");
    EXPECT_EQ(read_text(dir.file("b.txt/keep")), "kept");
    EXPECT_EQ(listing(dir.path()), "a.txt b.txt ");  // no temporary file, no folder made for c

    Staged_files again;
    ASSERT_TRUE(again.add(dir.file("a.txt"), a, error) && again.add(dir.file("d.txt"), b, error)) << error;
    write_text(a, "new a");
    ASSERT_TRUE(again.commit(error)) << error;
    EXPECT_EQ(read_text(dir.file("a.txt")), "new a");
    EXPECT_EQ(listing(dir.path()), "a.txt b.txt d.txt ");
}

}  // namespace
