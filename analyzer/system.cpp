#include "analyzer/system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

int runtime_open(const char* path, int flags, int mode) {
    return ::open(path, flags, mode);
}

long runtime_read(int fd, void* buffer, std::size_t count) {
#ifdef _WIN32
    return ::_read(fd, buffer, static_cast<unsigned>(count));
#else
    return static_cast<long>(::read(fd, buffer, count));
#endif
}

long runtime_write(int fd, const void* buffer, std::size_t count) {
#ifdef _WIN32
    return ::_write(fd, buffer, static_cast<unsigned>(count));
#else
    return static_cast<long>(::write(fd, buffer, count));
#endif
}

int runtime_close(int fd) {
    return ::close(fd);
}

[[noreturn]] void runtime_exit(int status) {
    std::exit(status);
}

} // namespace

const SystemCalls default_system_calls = {runtime_open, runtime_read, runtime_write, runtime_close,
                                          runtime_exit};
SystemCalls sys = default_system_calls;

bool write_all(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        long written = sys.write(fd, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void fail(int status, const char* message) {
    write_all(2, message, std::strlen(message));
    sys.exit(status);
    std::abort(); // only a broken replacement of sys.exit gets here
}

const char MISSING_PARAMETERS[] = "Error. Missing command line parameters.\n";

void fail_naming(int status, const char* before, const char* name, const char* after) {
    Message m;
    message_start(&m);
    message_add(&m, before);
    message_add_name(&m, name);
    message_add(&m, after);
    fail(status, m.text);
}

void fail_to_open(int status, const char* name) {
    fail_naming(status, "Can't open ", name, " file.\n");
}

void (*message_add_name)(Message* m, const char* name) = message_add;

void message_start(Message* m) {
    m->length = 0;
    m->text[0] = '\0';
}

void message_add(Message* m, const char* text) {
    std::size_t room = sizeof m->text - 1 - m->length;
    std::size_t n = std::strlen(text);
    if (n > room) n = room;
    std::memcpy(m->text + m->length, text, n);
    m->length += n;
    m->text[m->length] = '\0';
}

namespace {
// "00" to "99": two digits per division.
struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs digit_pairs;

template <typename Unsigned> char* format_magnitude(Unsigned magnitude, char* p) {
    while (magnitude >= 100) {
        auto pair = static_cast<std::size_t>(magnitude % 100) * 2;
        magnitude /= 100;
        *--p = digit_pairs.text[pair + 1];
        *--p = digit_pairs.text[pair];
    }
    if (magnitude >= 10) {
        auto pair = static_cast<std::size_t>(magnitude) * 2;
        *--p = digit_pairs.text[pair + 1];
        *--p = digit_pairs.text[pair];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return p;
}
} // namespace

char* format_decimal(std::int64_t value, char* end) {
    // Work on the magnitude as unsigned so that the most negative value
    // converts too; 32-bit values, the report's, take the cheaper divisions.
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char* p = magnitude <= UINT32_MAX ? format_magnitude(static_cast<std::uint32_t>(magnitude), end)
                                      : format_magnitude(magnitude, end);
    if (value < 0) *--p = '-';
    return p;
}

void message_add_number(Message* m, std::int64_t value) {
    char digits[24];
    digits[23] = '\0';
    message_add(m, format_decimal(value, digits + 23));
}
