#include "platform/messages.h"

#include "platform/digits.h"
#include "platform/system_calls.h"

#include <cstdlib>
#include <cstring>

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

void message_add_number(Message* m, std::int64_t value) {
    char digits[DECIMAL_MOST + 1];
    digits[DECIMAL_MOST] = '\0';
    message_add(m, format_decimal(value, digits + DECIMAL_MOST));
}
