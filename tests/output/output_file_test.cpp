#include "output/output_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
const char DEVICE[] = "NUL";
int make_directory(const char* path) {
    return _mkdir(path);
}
bool make_hard_link(const char* existing, const char* name) {
    return CreateHardLinkA(name, existing, nullptr) != 0;
}
#else
const char DEVICE[] = "/dev/null";
int make_directory(const char* path) {
    return mkdir(path, 0700);
}
bool make_hard_link(const char* existing, const char* name) {
    return link(existing, name) == 0;
}
#endif

std::vector<std::string> list(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

void remove_tree(const std::string& path) {
    for (const std::string& name : list(path)) {
        std::string child = path + "/" + name;
        struct stat st;
        if (stat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            remove_tree(child);
        } else {
            std::remove(child.c_str());
        }
    }
    rmdir(path.c_str());
}

std::string read_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "(missing)";
    std::string text;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

void write_file(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// A scratch directory named after the test, made empty at the start: a
// death test's child (which on Windows runs the test again from its start)
// works in the same directory as its parent.
class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::string("scratch-") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        remove_tree(dir);
        ASSERT_EQ(make_directory(dir.c_str()), 0);
#ifndef _WIN32
        umask(022);
#endif
    }
    void TearDown() override {
        remove_tree(dir);
    }
    std::string path(const char* name) const {
        return dir + "/" + name;
    }

    std::string dir;
};

using OutputFileDeathTest = OutputFileTest;

TEST_F(OutputFileTest, NewFileAppearsWholeOnlyOnCommit) {
    std::string target = path("out.rec");
    OutputFile out;
    ASSERT_EQ(output_open(&out, target.c_str(), nullptr, 0), OUTPUT_OK);
    EXPECT_FALSE(out.direct);
    ASSERT_TRUE(output_write(&out, "hello ", 6));
    ASSERT_TRUE(output_write(&out, "world", 5));
    std::vector<std::string> during = list(dir);
    ASSERT_EQ(during.size(), 1u) << "only the new file";
    EXPECT_NE(during[0], "out.rec");
    EXPECT_EQ(read_file(target), "(missing)");
    ASSERT_EQ(output_commit(&out), OUTPUT_OK);
    EXPECT_EQ(list(dir), std::vector<std::string>{"out.rec"});
    EXPECT_EQ(read_file(target), "hello world");
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(OutputFileTest, ExistingFileIsReplacedWholeAndTakesTheNewMode) {
    std::string target = path("page.html");
    write_file(target, "an older and longer text");
#ifndef _WIN32
    chmod(target.c_str(), 0666);
#endif
    OutputFile out;
    ASSERT_EQ(output_open(&out, target.c_str(), nullptr, 0), OUTPUT_OK);
    ASSERT_TRUE(output_write(&out, "new", 3));
    EXPECT_EQ(read_file(target), "an older and longer text") << "untouched until the commit";
    ASSERT_EQ(output_commit(&out), OUTPUT_OK);
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(list(dir), std::vector<std::string>{"page.html"});
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(OutputFileTest, AbortLeavesTheTargetAsItWas) {
    std::string kept = path("kept.rec");
    write_file(kept, "old");
    std::string fresh = path("fresh.rec");
    OutputFile outs[2];
    ASSERT_EQ(output_open(&outs[0], kept.c_str(), nullptr, 0), OUTPUT_OK);
    ASSERT_EQ(output_open(&outs[1], fresh.c_str(), nullptr, 0), OUTPUT_OK);
    for (OutputFile& out : outs) ASSERT_TRUE(output_write(&out, "partial", 7));
    EXPECT_EQ(list(dir).size(), 3u);
    for (OutputFile& out : outs) output_abort(&out);
    EXPECT_EQ(list(dir), std::vector<std::string>{"kept.rec"});
    EXPECT_EQ(read_file(kept), "old");
    output_abort(&outs[0]); // done already: nothing happens
    EXPECT_EQ(read_file(kept), "old");
}

TEST_F(OutputFileTest, OutputsCommitIndependently) {
    std::string first = path("a.rec");
    std::string second = path("b.rec");
    OutputFile a;
    OutputFile b;
    ASSERT_EQ(output_open(&a, first.c_str(), nullptr, 0), OUTPUT_OK);
    ASSERT_EQ(output_open(&b, second.c_str(), nullptr, 0), OUTPUT_OK);
    ASSERT_TRUE(output_write(&a, "A", 1));
    ASSERT_TRUE(output_write(&b, "B", 1));
    ASSERT_EQ(output_commit(&b), OUTPUT_OK);
    output_abort(&a);
    EXPECT_EQ(list(dir), std::vector<std::string>{"b.rec"});
    EXPECT_EQ(read_file(second), "B");
}

TEST_F(OutputFileTest, AnInputIsRefusedWhateverItsName) {
    std::string input = path("in.sql");
    write_file(input, "select 1;\n");
    ASSERT_TRUE(make_hard_link(input.c_str(), path("hard.sql").c_str()));
    FileIdentity identities[2];
    std::string other = path("other.sql");
    write_file(other, "x");
    ASSERT_TRUE(identity_of_path(other.c_str(), &identities[0]));
    ASSERT_TRUE(identity_of_path(input.c_str(), &identities[1]));
    std::vector<std::string> names = {input, dir + "/./in.sql", dir + "/../" + dir + "/in.sql",
                                      path("hard.sql")};
#ifndef _WIN32
    ASSERT_EQ(symlink("in.sql", path("link.sql").c_str()), 0);
    names.push_back(path("link.sql"));
#endif
    std::vector<std::string> before = list(dir);
    for (const std::string& name : names) {
        OutputFile out;
        EXPECT_EQ(output_open(&out, name.c_str(), identities, 2), OUTPUT_IS_INPUT) << name;
        EXPECT_EQ(out.fd, -1);
        EXPECT_EQ(list(dir), before) << name << ": nothing created";
        EXPECT_EQ(read_file(input), "select 1;\n");
    }
    // The identities of other files do not stop an output.
    OutputFile out;
    std::string target = path("out.rec");
    ASSERT_EQ(output_open(&out, target.c_str(), identities, 2), OUTPUT_OK);
    output_abort(&out);
}

TEST_F(OutputFileTest, OneTargetUnderTwoSpellings) {
    ASSERT_EQ(make_directory(path("sub").c_str()), 0);
    write_file(path("old.rec"), "x");
    ASSERT_TRUE(make_hard_link(path("old.rec").c_str(), path("hard.rec").c_str()));
    struct Case {
        std::string a;
        std::string b;
        bool same;
    };
    std::vector<Case> cases = {
        {path("out.rec"), path("out.rec"), true},
        {path("out.rec"), dir + "/./out.rec", true},      // not there yet
        {path("out.rec"), dir + "/sub/../out.rec", true}, // through another directory
        {path("old.rec"), dir + "/../" + dir + "/old.rec", true},
        {path("out.rec"), path("sub/out.rec"), false}, // one name, two directories
        {path("out.rec"), path("out.tsv"), false},
        {path("old.rec"), path("hard.rec"), false}, // two entries, each replaced alone
        {"-", "/dev/stdout", true},
        {"-", "-", true},
        {"-", path("out.rec"), false},
        {"/dev/stderr", "-", false},
        {path("missing/out.rec"), path("missing/./out.rec"), false}, // the open fails anyway
    };
#ifdef _WIN32
    cases.push_back({path("OUT.rec"), dir + "\\out.rec", true});
#else
    ASSERT_EQ(symlink("old.rec", path("link.rec").c_str()), 0);
    cases.push_back({path("link.rec"), path("old.rec"), false}); // the link is replaced itself
    cases.push_back({path("OUT.rec"), path("out.rec"), false});
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(same_output_target(c.a.c_str(), c.b.c_str()), c.same) << c.a << " and " << c.b;
        EXPECT_EQ(same_output_target(c.b.c_str(), c.a.c_str()), c.same) << c.b << " and " << c.a;
    }
}

TEST_F(OutputFileTest, TargetsThatCannotBeOutputs) {
    std::string sub = path("sub");
    ASSERT_EQ(make_directory(sub.c_str()), 0);
    std::string file = path("file");
    write_file(file, "x");
    struct Case {
        std::string target;
        int error;
    };
    const Case cases[] = {
        {sub, EISDIR},
        {path("missing/out.rec"), ENOENT},
        {"", ENOENT},
#ifndef _WIN32
        {file + "/out.rec", ENOTDIR},
#endif
    };
    for (const Case& c : cases) {
        OutputFile out;
        EXPECT_EQ(output_open(&out, c.target.c_str(), nullptr, 0), OUTPUT_CANT_OPEN) << c.target;
        EXPECT_EQ(out.error, c.error) << c.target << ": " << output_error_text(&out);
        EXPECT_EQ(out.fd, -1);
    }
    EXPECT_EQ(list(dir), (std::vector<std::string>{"file", "sub"}));
    EXPECT_TRUE(list(sub).empty());
}

TEST_F(OutputFileTest, StreamsAndDevicesAreWrittenInPlace) {
    OutputFile out;
    ASSERT_EQ(output_open(&out, "-", nullptr, 0), OUTPUT_OK);
    EXPECT_TRUE(out.direct);
    EXPECT_EQ(out.fd, 1);
    EXPECT_EQ(output_commit(&out), OUTPUT_OK);
    ASSERT_EQ(output_open(&out, DEVICE, nullptr, 0), OUTPUT_OK);
    EXPECT_TRUE(out.direct);
    EXPECT_TRUE(output_write(&out, "gone", 4));
    EXPECT_EQ(output_commit(&out), OUTPUT_OK);
    EXPECT_TRUE(list(dir).empty());
}

TEST_F(OutputFileTest, StandardOutputThatIsAnInputIsRefused) {
    std::string input = path("in.sql");
    write_file(input, "select 1;\n");
    FileIdentity identity;
    ASSERT_TRUE(identity_of_path(input.c_str(), &identity));
    std::fflush(stdout);
    int saved = dup(1);
    int fd = open(input.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    dup2(fd, 1);
    close(fd);
    OutputFile out;
    OutputResult result = output_open(&out, "-", &identity, 1);
    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(result, OUTPUT_IS_INPUT);
    EXPECT_EQ(read_file(input), "select 1;\n");
}

TEST_F(OutputFileTest, AFailedCommitRemovesTheNewFile) {
    // The target's name is taken by a directory holding a file after the
    // output opened: the new file cannot be put there.
    std::string target = path("out.rec");
    OutputFile out;
    ASSERT_EQ(output_open(&out, target.c_str(), nullptr, 0), OUTPUT_OK);
    ASSERT_TRUE(output_write(&out, "data", 4));
    ASSERT_EQ(make_directory(target.c_str()), 0);
    write_file(target + "/inside", "kept");
    EXPECT_EQ(output_commit(&out), OUTPUT_CANT_WRITE);
    EXPECT_NE(out.error, 0);
    EXPECT_EQ(list(dir), std::vector<std::string>{"out.rec"});
    EXPECT_EQ(read_file(target + "/inside"), "kept");
}

#ifndef _WIN32
TEST_F(OutputFileTest, ALinkAtTheTargetIsReplacedNotFollowed) {
    std::string victim = path("victim");
    write_file(victim, "precious");
    std::string link_name = path("shared.html");
    ASSERT_EQ(symlink("victim", link_name.c_str()), 0);
    ASSERT_EQ(symlink("nowhere", path("dangling").c_str()), 0);
    for (const std::string& target : {link_name, path("dangling")}) {
        OutputFile out;
        ASSERT_EQ(output_open(&out, target.c_str(), nullptr, 0), OUTPUT_OK) << target;
        ASSERT_TRUE(output_write(&out, "page", 4));
        ASSERT_EQ(output_commit(&out), OUTPUT_OK);
        struct stat st;
        ASSERT_EQ(lstat(target.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << target << " is a file of its own now";
        EXPECT_EQ(read_file(target), "page");
    }
    EXPECT_EQ(read_file(victim), "precious");
}

TEST_F(OutputFileDeathTest, ATerminatingSignalRemovesPendingFiles) {
    std::string target = path("out.rec");
    EXPECT_EXIT(
        {
            OutputFile out;
            if (output_open(&out, target.c_str(), nullptr, 0) != OUTPUT_OK) std::exit(9);
            output_write(&out, "partial", 7);
            if (list(dir).size() != 1) std::exit(8);
            std::raise(SIGTERM);
            std::exit(7); // not reached: the signal ends the process
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(list(dir).empty());
}
#endif

TEST_F(OutputFileDeathTest, ExitRemovesPendingFiles) {
    std::string kept = path("kept.rec");
    write_file(kept, "old");
    EXPECT_EXIT(
        {
            OutputFile a;
            OutputFile b;
            std::string fresh = path("fresh.rec");
            if (output_open(&a, kept.c_str(), nullptr, 0) != OUTPUT_OK ||
                output_open(&b, fresh.c_str(), nullptr, 0) != OUTPUT_OK) {
                std::exit(9);
            }
            output_write(&a, "partial", 7);
            output_write(&b, "partial", 7);
            std::exit(list(dir).size() == 3 ? 3 : 8);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(list(dir), std::vector<std::string>{"kept.rec"});
    EXPECT_EQ(read_file(kept), "old");
}

} // namespace
