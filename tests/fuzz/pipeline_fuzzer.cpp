// Fuzz target: the whole of litsieve (its main, the record reader, the
// normaliser, the groups and the report) on arbitrary record files.
//
// Input: three control bytes, then the record file.
//   byte 0  bit 0: "-full";  bit 1: report to standard output instead of a
//           file;  bit 2: the report file cannot be created;  bit 3: every
//           write of the report fails as on a full disk
//   byte 1  n > 0: the n-th allocation fails; 0: none fails
//   byte 2  n > 0: the file is read at most n bytes per read; 0: any size
// The program reaches files only through the sys table, which serves the
// input from memory and collects standard output, standard error and the
// report; exits return here through run_guarded.
//
// An independent model computes the outcome from the bytes: the records up to
// the first bad one, each record's normalised text by the reference
// normaliser, the groups with a std::map, and from them the exact report, or
// the exact message and status of the first failure. Checked:
//  1. the run returns 0, or ends through exit with status 1, 2 or -1, never
//     by a crash;
//  2. status, standard error and report bytes are the model's; with a failing
//     allocation the run may instead end with "Not enough memory\n" or "Not
//     enough memory for State\n", status 1, once that allocation was reached;
//  3. the banner comes first on standard output; a failed run writes no
//     report byte; the input is closed before the report file is opened.
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/reference_normaliser.h"

#include "tests/support/allocation_faults.h"

#include "analyzer/litsieve.h"
#include "analyzer/record_reader.h"
#include "analyzer/report.h"
#include "analyzer/statement_groups.h"
#include "normaliser/parser.h"
#include "platform/system_calls.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr std::size_t LONGEST_INPUT = 64 * 1024;
constexpr int INPUT_FD = 3;
constexpr int REPORT_FD = 4;
const char INPUT_NAME[] = "in.rec";
const char REPORT_NAME[] = "out.txt";
const char BANNER_FIRST_LINE[] = "Literal Sieve version 1.2\n";

struct Control {
    bool full;
    bool to_stdout;
    bool report_open_fails;
    bool report_write_fails;
    long fail_allocation;
    std::size_t read_chunk;
};

// The world as the program sees it through `sys` during one run.
struct World {
    const unsigned char* file;
    std::size_t file_size;
    std::size_t position;
    bool input_open;
    bool input_was_opened;
    bool report_open;
    bool report_opened_after_input_closed;
    std::string out; // standard error goes to captured_stderr (run_guarded)
    std::string report;
    bool writes_fail;
};
World world;
Control control;

int fake_open(const char* path, int flags, int) {
    if (std::strcmp(path, INPUT_NAME) == 0 && (flags & O_CREAT) == 0) {
        FUZZ_CHECK(!world.input_was_opened, "the input is opened once");
        world.input_open = world.input_was_opened = true;
        return INPUT_FD;
    }
    FUZZ_CHECK(std::strcmp(path, REPORT_NAME) == 0, std::string("opens only its files: ") + path);
    FUZZ_CHECK((flags & O_CREAT) != 0 && (flags & O_TRUNC) != 0,
               "the report is created or truncated");
    world.report_opened_after_input_closed = world.input_was_opened && !world.input_open;
    if (control.report_open_fails) {
        errno = EACCES;
        return -1;
    }
    world.report_open = true;
    return REPORT_FD;
}

long fake_read(int fd, void* buffer, std::size_t count) {
    FUZZ_CHECK(fd == INPUT_FD && world.input_open, "reads only the open input");
    std::size_t n = std::min(count, world.file_size - world.position);
    if (control.read_chunk != 0) n = std::min(n, control.read_chunk);
    std::memcpy(buffer, world.file + world.position, n);
    world.position += n;
    return static_cast<long>(n);
}

long fake_write(int fd, const void* buffer, std::size_t count) {
    const char* bytes = static_cast<const char*>(buffer);
    bool report_fd = fd == REPORT_FD || (fd == 1 && control.to_stdout);
    if (report_fd && world.writes_fail) {
        errno = ENOSPC;
        return -1;
    }
    if (fd == 1) {
        world.out.append(bytes, count);
    } else {
        FUZZ_CHECK(fd == REPORT_FD && world.report_open, "writes only its descriptors");
        world.report.append(bytes, count);
    }
    return static_cast<long>(count);
}

int fake_close(int fd) {
    if (fd == INPUT_FD) {
        FUZZ_CHECK(world.input_open, "the input is closed once");
        world.input_open = false;
    } else if (fd == REPORT_FD) {
        FUZZ_CHECK(world.report_open, "the report is closed once");
        world.report_open = false;
    } else {
        FUZZ_CHECK(fd == 1 && control.to_stdout, "closes only its descriptors");
    }
    return 0;
}

struct Outcome {
    int status;
    std::string message;
    std::string report;
};

std::int32_t le32(const unsigned char* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                     std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

Outcome bad_record(std::size_t offset, const char* what) {
    return {EXIT_INPUT,
            "Record at offset " + std::to_string(offset) + " of " + INPUT_NAME + " file " + what +
                ".\n",
            ""};
}

// The model: what the run must end with.
Outcome expected_outcome(const unsigned char* file, std::size_t size) {
    struct Group {
        std::int32_t number;
        std::int32_t first;
        std::int32_t size;
    };
    std::map<std::string, Group> groups;
    std::vector<std::pair<std::int32_t, std::string>> records;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 8) return bad_record(at, "is cut short");
        std::int32_t id = le32(file + at);
        std::int32_t length = le32(file + at + 4);
        if (length < 0) return bad_record(at, "has a negative length");
        if (size - at - 8 < static_cast<std::size_t>(length)) return bad_record(at, "is cut short");
        std::string text(reinterpret_cast<const char*>(file + at + 8),
                         static_cast<std::size_t>(length));
        std::vector<ReferenceToken> tokens = reference_tokens(text.substr(0, text.find('\0')));
        if (tokens.empty()) return {EXIT_INPUT, "syntax error", ""};
        if (tokens.size() > REFERENCE_MOST_TOKENS) return {EXIT_INPUT, "yacc stack overflow", ""};
        std::string normalised = reference_normalised(tokens);
        auto group = groups.find(normalised);
        if (group == groups.end()) {
            std::int32_t number = static_cast<std::int32_t>(groups.size()) + 1;
            group = groups.emplace(normalised, Group{number, id, 0}).first;
        }
        ++group->second.size;
        records.emplace_back(id, normalised);
        at += 8 + static_cast<std::size_t>(length);
    }
    std::string target = control.to_stdout ? "standard output" : std::string(REPORT_NAME) + " file";
    if (!control.to_stdout && control.report_open_fails) {
        return {2, "Can't open " + target + ".\n", ""};
    }
    std::string report;
    for (const auto& [id, normalised] : records) {
        const Group& g = groups.at(normalised);
        if (g.size > 1 || control.full) {
            report += std::to_string(id) + "\t" + std::to_string(g.number) + "\t" +
                      std::to_string(g.size) + "\t" + std::to_string(g.first) + "\r\n";
        }
    }
    if (control.report_write_fails && !report.empty()) {
        return {2, "Can't write " + target + ".\n", ""};
    }
    return {0, "", report};
}

void reset_program_state() {
    full_report = 0;
    dictionary = nullptr;
    record_list = {nullptr, -1, 0};
    group_table = {nullptr, 1, 0};
    if (normalized_text != nullptr) release_normalized_text();
}

int main_status = 0; // what run_litsieve returned

// Nothing here may own heap memory: main leaves it through a long jump.
void run_main(void*) {
    static char program[] = "litsieve";
    static char full[] = "-full";
    static char input[sizeof INPUT_NAME];
    static char report[sizeof REPORT_NAME];
    std::memcpy(input, INPUT_NAME, sizeof input);
    std::memcpy(report, REPORT_NAME, sizeof report);
    char* argv[5] = {program};
    int argc = 1;
    if (control.full) argv[argc++] = full;
    argv[argc++] = input;
    if (!control.to_stdout) argv[argc++] = report;
    argv[argc] = nullptr;
    main_status = run_litsieve(argc, argv);
}

std::string shown(const std::string& text) {
    return text.size() > 300 ? text.substr(0, 300) + "..." : text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    reserve_normaliser_buffer(LONGEST_INPUT);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > LONGEST_INPUT) return -1;
    control = {(data[0] & 1) != 0,
               (data[0] & 2) != 0,
               (data[0] & 4) != 0,
               (data[0] & 8) != 0,
               data[1],
               data[2]};
    const unsigned char* file = data + 3;
    const std::size_t file_size = size - 3;
    Outcome want = expected_outcome(file, file_size);

    world = World{file, file_size, 0, false, false, false, false, "", "", false};
    world.writes_fail = control.report_write_fails;
    sys.open = fake_open;
    sys.read = fake_read;
    sys.write = fake_write;
    sys.close = fake_close;
    reset_program_state();
    start_tracking();
    fail_allocations_from(control.fail_allocation);
    int status = 0;
    bool returned = run_guarded(run_main, nullptr, &status);
    long allocations = allocations_counted();
    stop_failing_allocations();
    reset_program_state();
    free_tracked();
    sys = default_system_calls;

    if (returned) status = main_status;
    FUZZ_CHECK(returned ? status == 0 : status == 1 || status == 2 || status == EXIT_INPUT,
               std::string(returned ? "returned" : "exited") + " with status " +
                   std::to_string(status));
    const std::string& err = captured_stderr;
    FUZZ_CHECK(world.out.compare(0, sizeof BANNER_FIRST_LINE - 1, BANNER_FIRST_LINE) == 0 ||
                   (control.to_stdout && control.report_write_fails),
               "the banner comes first");
    std::string report = world.report;
    if (control.to_stdout && !control.report_write_fails) {
        std::size_t head = world.out.find("\n\n");
        FUZZ_CHECK(head != std::string::npos, "the banner ends with an empty line");
        report = world.out.substr(head + 2);
    }

    bool out_of_memory = control.fail_allocation > 0 && allocations >= control.fail_allocation &&
                         status == 1 &&
                         (err == "Not enough memory\n" || err == "Not enough memory for State\n");
    if (out_of_memory) {
        FUZZ_CHECK(report.empty(), "no report after running out of memory");
        return 0;
    }
    FUZZ_CHECK(status == want.status && err == want.message,
               "status " + std::to_string(status) + " '" + shown(err) + "', expected " +
                   std::to_string(want.status) + " '" + shown(want.message) + "'");
    if (status == 0) {
        FUZZ_CHECK(report == want.report,
                   "report '" + shown(report) + "' expected '" + shown(want.report) + "'");
        FUZZ_CHECK(control.to_stdout || world.report_opened_after_input_closed,
                   "the report is opened after the input is closed");
        FUZZ_CHECK(!world.input_open && !world.report_open, "every file is closed at the end");
    } else {
        FUZZ_CHECK(report.empty(), "no report byte after a failure");
    }
    return 0;
}
