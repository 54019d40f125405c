// litsieve: groups the SQL statements of a record file by their normalised
// text and reports the records whose text occurs more than once.
#include "analyzer/litsieve.h"

#include "analyzer/record_reader.h"
#include "analyzer/report.h"
#include "analyzer/statement_groups.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"
#include "platform/system_calls.h"

#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char BANNER[] = "Literal Sieve version 1.2\n"
                      "Copyright (c) 2026 the Quillon side-tools authors\n"
                      "\n";
constexpr int REPORT_MODE = 0600; // read and write for the owner only

} // namespace

int run_litsieve(int argc, char** argv) {
#ifdef _WIN32
    // The report and every message go out byte for byte: CR LF only where
    // the report format writes it.
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
#endif
    write_all(1, BANNER, sizeof BANNER - 1); // the banner comes first, whatever follows

    if (argc < 2) fail(EXIT_USAGE_OR_MEMORY, MISSING_PARAMETERS);
    int next = 1;
    if (std::strcmp(argv[1], "-full") == 0) {
        full_report = 1;
        ++next;
    }
    // "-full" alone leaves no input name; the open then fails on "(null)".
    const char* input = next < argc ? argv[next] : nullptr;
    const char* report = next + 1 < argc ? argv[next + 1] : nullptr;

    dictionary = create_dictionary();
    if (input == nullptr) fail_to_open(EXIT_INPUT, "(null)");
    read_statements(input);

    // The report is opened only now that the input is closed, so a report
    // path naming the input replaces it only after it was read whole.
    int fd = 1;
    if (report != nullptr) {
        fd = sys.open(report, O_RDWR | O_CREAT | O_TRUNC | O_BINARY, REPORT_MODE);
        if (fd < 0) fail_to_open(EXIT_REPORT_FILE, report);
    }
    bool written = write_report(fd);
    bool closed = sys.close(fd) == 0;
    if (!written || !closed) {
        if (report != nullptr) fail_naming(EXIT_REPORT_FILE, "Can't write ", report, " file.\n");
        fail(EXIT_REPORT_FILE, "Can't write standard output.\n");
    }
    return EXIT_OK;
}
