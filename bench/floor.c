/* The floor of the litsieve benchmark: the least work any correct
 * implementation of litsieve's grouping does.
 *
 * It reads the record file in large blocks, cuts every statement into
 * tokens with the same byte classes and literal rules as litsieve's lexer,
 * builds the normalised text (upper-cased words, single blanks, the
 * placeholders :S :N :D) into one reused buffer and counts the distinct
 * texts in an open-addressing hash table whose texts live in an arena.
 * No per-token or per-record allocation, no system call per record.
 *
 *   floor [-r REPORT] [-full] [-d] INPUT.rec
 *
 * -r writes litsieve's report ("%d\t%d\t%d\t%d\r\n" per reported record,
 * groups numbered in order of first appearance) so that the benchmark can
 * check litsieve's report byte for byte against an independent
 * implementation; it keeps 8 bytes per record for that. -full reports every
 * record. -d prints each normalised text on its own line (for the tests).
 * The summary line goes to standard error:
 *   records N distinct D bytes B tokens T max_tokens M
 * A statement with no token or with 5000 or more tokens ends the run with
 * litsieve's message and status 255, so the floor also validates workloads.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { MAX_TOKENS = 5000, BLOCK = 1 << 20 };

/* Byte classes of litsieve's lexer. A switch on these small numbers becomes
 * a jump table. Underscore starts and continues a word like a letter. */
enum { C_OTHER, C_SPACE, C_DIGIT, C_WORD, C_QUOTE, C_BACKSLASH, C_END };

static unsigned char byte_class[256];
static unsigned char upper[256];
static unsigned char word_byte[256]; /* letter, digit or underscore */

static void init_tables(void) {
    for (int c = 0; c < 256; c++) {
        upper[c] = (unsigned char)(c >= 'a' && c <= 'z' ? c - 32 : c);
        byte_class[c] = C_OTHER;
    }
    for (int c = 0x09; c <= 0x0D; c++) byte_class[c] = C_SPACE;
    byte_class[' '] = C_SPACE;
    for (int c = '0'; c <= '9'; c++) byte_class[c] = C_DIGIT;
    for (int c = 'A'; c <= 'Z'; c++) byte_class[c] = byte_class[c + 32] = C_WORD;
    byte_class['_'] = C_WORD;
    byte_class['\''] = C_QUOTE;
    byte_class['\\'] = C_BACKSLASH;
    for (int c = 0; c < 256; c++)
        word_byte[c] = byte_class[c] == C_WORD || byte_class[c] == C_DIGIT;
}

static void die(const char* message, int status) {
    fputs(message, stderr);
    exit(status);
}

static void* xrealloc(void* p, size_t n) {
    p = realloc(p, n);
    if (!p) die("Not enough memory\n", 1);
    return p;
}

/* ------------------------------------------------------------ date test */

static int is_space(unsigned char c) {
    return byte_class[c] == C_SPACE;
}
static int is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

/* Optional blanks, then an optional sign directly followed by digits.
 * Returns the position after the digits or NULL; *value saturates. */
static const unsigned char* signed_digits(const unsigned char* p, const unsigned char* end,
                                          long* value) {
    int negative = 0;
    while (p < end && is_space(*p)) p++;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        p++;
    }
    if (p >= end || !is_digit(*p)) return NULL;
    long v = 0;
    while (p < end && is_digit(*p)) {
        if (v < 100000) v = v * 10 + (*p - '0');
        p++;
    }
    *value = negative ? -v : v;
    return p;
}

static int is_date_body(const unsigned char* p, const unsigned char* end) {
    static const char months[] = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    long day, year;
    p = signed_digits(p, end, &day);
    if (!p || day < 0 || day > 31 || p >= end || *p != '-') return 0;
    p++;
    if (end - p < 4 || p[3] != '-') return 0;
    int month = 0;
    for (int m = 0; m < 12 && !month; m++)
        month = upper[p[0]] == months[3 * m] && upper[p[1]] == months[3 * m + 1] &&
                upper[p[2]] == months[3 * m + 2];
    if (!month) return 0;
    return signed_digits(p + 4, end, &year) != NULL;
}

/* ------------------------------------------------- normalised text build */

static unsigned char* text; /* the reused normalised-text buffer */
static size_t text_capacity;
static long long total_tokens;
static int max_tokens;

static void reserve(size_t need) {
    if (need > text_capacity) {
        while (text_capacity < need) text_capacity = text_capacity ? 2 * text_capacity : 4096;
        text = xrealloc(text, text_capacity);
    }
}

/* Normalises [p, end) into `text`; returns its length. The worst case is
 * 3 output bytes per input byte (a one-digit number becomes blank + ":N"),
 * so one reservation per statement covers every token. */
static size_t normalise(const unsigned char* p, const unsigned char* end) {
    const unsigned char* nul = memchr(p, 0, (size_t)(end - p));
    if (nul) end = nul;
    reserve(3 * (size_t)(end - p) + 8);
    unsigned char* out = text;
    int tokens = 0;
    for (;;) {
        while (p < end && byte_class[*p] == C_SPACE) p++;
        if (p >= end) break;
        if (++tokens >= MAX_TOKENS) die("yacc stack overflow", 255);
        if (out != text) *out++ = ' ';
        const unsigned char* q = p + 1;
        switch (byte_class[*p]) {
        case C_BACKSLASH:
            if (q < end && *q == '*') { /* \* comment *\ : token ends at the '*' */
                q++;
                while (q < end && !(*q == '*' && q + 1 < end && q[1] == '\\')) q++;
                if (q < end) q++; /* keep the closing asterisk; the backslash is next */
                while (p < q) *out++ = upper[*p++];
                continue;
            }
            *out++ = '\\';
            p = q;
            continue;
        case C_QUOTE: { /* 'string' with '' inside; unterminated runs to the end */
            while (q < end && !(*q == '\'' && !(q + 1 < end && q[1] == '\'')))
                q += *q == '\'' ? 2 : 1;
            out[0] = ':';
            out[1] = is_date_body(p + 1, q) ? 'D' : 'S';
            out += 2;
            p = q < end ? q + 1 : end;
            continue;
        }
        case C_DIGIT: /* digits [. digits] [e|E [+|-] digits] */
            while (q < end && is_digit(*q)) q++;
            if (q < end && *q == '.')
                for (q++; q < end && is_digit(*q); q++) {
                }
            if (q < end && (*q == 'e' || *q == 'E')) {
                q++;
                if (q < end && (*q == '+' || *q == '-')) q++;
                while (q < end && is_digit(*q)) q++;
            }
            out[0] = ':';
            out[1] = 'N';
            out += 2;
            p = q;
            continue;
        case C_WORD:
            *out++ = upper[*p];
            while (q < end && word_byte[*q]) *out++ = upper[*q++];
            p = q;
            continue;
        default: /* any other byte is a token of its own */
            *out++ = upper[*p];
            p = q;
            continue;
        }
    }
    if (tokens == 0) die("syntax error", 255);
    total_tokens += tokens;
    if (tokens > max_tokens) max_tokens = tokens;
    return (size_t)(out - text);
}

/* ------------------------------------------------- distinct-text table */

typedef struct {
    uint64_t hash;              /* 0: empty slot */
    const unsigned char* bytes; /* in the arena */
    uint32_t length;
    int32_t group; /* 0, 1, 2, ... in order of first appearance */
} Slot;

static Slot* slots;
static size_t slot_mask;
static int32_t distinct;
static unsigned char *arena, *arena_end;
static long long arena_bytes;

static uint64_t hash_bytes(const unsigned char* p, size_t n) {
    uint64_t h = 0x243F6A8885A308D3ull ^ n;
    uint64_t w;
    while (n >= 8) {
        memcpy(&w, p, 8);
        h = (h ^ w) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    w = 0;
    memcpy(&w, p, n);
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
    return h | 1;
}

static const unsigned char* store(const unsigned char* p, size_t n) {
    if ((size_t)(arena_end - arena) < n) {
        size_t size = n > BLOCK ? n : BLOCK;
        arena = xrealloc(NULL, size);
        arena_end = arena + size;
    }
    memcpy(arena, p, n);
    arena += n;
    arena_bytes += (long long)n;
    return arena - n;
}

static void grow_table(void) {
    size_t old_size = slots ? slot_mask + 1 : 0;
    size_t size = old_size ? 2 * old_size : 1024;
    Slot* old = slots;
    slots = calloc(size, sizeof(Slot));
    if (!slots) die("Not enough memory\n", 1);
    slot_mask = size - 1;
    for (size_t i = 0; i < old_size; i++) {
        if (!old[i].hash) continue;
        size_t j = old[i].hash & slot_mask;
        while (slots[j].hash) j = (j + 1) & slot_mask;
        slots[j] = old[i];
    }
    free(old);
}

/* Returns the group of the text; *is_new tells whether it was added. */
static int32_t intern(const unsigned char* p, size_t n, int* is_new) {
    uint64_t h = hash_bytes(p, n);
    size_t j = h & slot_mask;
    for (;; j = (j + 1) & slot_mask) {
        Slot* s = &slots[j];
        if (!s->hash) break;
        if (s->hash == h && s->length == n && memcmp(s->bytes, p, n) == 0) {
            *is_new = 0;
            return s->group;
        }
    }
    slots[j].hash = h;
    slots[j].bytes = store(p, n);
    slots[j].length = (uint32_t)n;
    slots[j].group = distinct++;
    *is_new = 1;
    if ((size_t)distinct * 2 > slot_mask + 1) grow_table();
    return distinct - 1;
}

/* --------------------------------------------------------------- report */

typedef struct {
    int32_t id;
    int32_t group;
} Record;

static Record* records;
static size_t record_count, record_capacity;
static int32_t *group_first, *group_size;
static size_t group_capacity;

static void note_record(int32_t id, int32_t group, int is_new) {
    if (record_count == record_capacity) {
        record_capacity = record_capacity ? 2 * record_capacity : 65536;
        records = xrealloc(records, record_capacity * sizeof(Record));
    }
    records[record_count].id = id;
    records[record_count].group = group;
    record_count++;
    if (is_new) {
        if ((size_t)group == group_capacity) {
            group_capacity = group_capacity ? 2 * group_capacity : 4096;
            group_first = xrealloc(group_first, group_capacity * sizeof(int32_t));
            group_size = xrealloc(group_size, group_capacity * sizeof(int32_t));
        }
        group_first[group] = id;
        group_size[group] = 0;
    }
    group_size[group]++;
}

static char* put_int(char* out, int32_t v) {
    char digits[12];
    int n = 0;
    uint32_t u = v < 0 ? 0u - (uint32_t)v : (uint32_t)v;
    if (v < 0) *out++ = '-';
    do {
        digits[n++] = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    while (n) *out++ = digits[--n];
    return out;
}

static void write_all(int fd, const char* p, size_t n) {
    while (n) {
        ssize_t w = write(fd, p, n);
        if (w <= 0) die("floor: write failed\n", 2);
        p += w;
        n -= (size_t)w;
    }
}

static void write_report(const char* path, int full) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) die("floor: cannot open the report\n", 2);
    static char buffer[1 << 16];
    char* out = buffer;
    for (size_t i = 0; i < record_count; i++) {
        int32_t g = records[i].group;
        if (group_size[g] < 2 && !full) continue;
        if (out > buffer + sizeof buffer - 64) {
            write_all(fd, buffer, (size_t)(out - buffer));
            out = buffer;
        }
        out = put_int(out, records[i].id);
        *out++ = '\t';
        out = put_int(out, g + 1);
        *out++ = '\t';
        out = put_int(out, group_size[g]);
        *out++ = '\t';
        out = put_int(out, group_first[g]);
        *out++ = '\r';
        *out++ = '\n';
    }
    write_all(fd, buffer, (size_t)(out - buffer));
    if (close(fd) != 0) die("floor: close failed\n", 2);
}

/* ----------------------------------------------------------------- main */

static int32_t le32(const unsigned char* p) {
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                     (uint32_t)p[3] << 24);
}

int main(int argc, char** argv) {
    const char *report = NULL, *input = NULL;
    int full = 0, dump = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            report = argv[++i];
        else if (strcmp(argv[i], "-full") == 0)
            full = 1;
        else if (strcmp(argv[i], "-d") == 0)
            dump = 1;
        else
            input = argv[i];
    }
    if (!input) die("usage: floor [-r REPORT] [-full] [-d] INPUT.rec\n", 1);
    init_tables();
    grow_table();
    int fd = open(input, O_RDONLY);
    if (fd < 0) die("floor: cannot open the input\n", 255);

    size_t capacity = BLOCK, have = 0, at = 0;
    unsigned char* buffer = xrealloc(NULL, capacity);
    long long offset = 0, count = 0;
    int eof = 0;
    for (;;) {
        /* Make [at, have) hold a whole record, reading more when needed. */
        size_t need = 8;
        if (have - at >= 8) {
            int32_t length = le32(buffer + at + 4);
            if (length < 0) {
                fprintf(stderr, "floor: negative length at offset %lld\n", offset);
                return 3;
            }
            need = 8 + (size_t)length;
        }
        if (have - at < need) {
            if (eof) {
                if (have == at) break;
                fprintf(stderr, "floor: truncated record at offset %lld\n", offset);
                return 3;
            }
            memmove(buffer, buffer + at, have - at);
            have -= at;
            at = 0;
            if (need > capacity) {
                while (capacity < need) capacity *= 2;
                buffer = xrealloc(buffer, capacity);
            }
            ssize_t got = read(fd, buffer + have, capacity - have);
            if (got < 0) die("floor: read failed\n", 3);
            eof = got == 0;
            have += (size_t)got;
            continue;
        }
        int32_t id = le32(buffer + at);
        size_t length = need - 8;
        const unsigned char* stmt = buffer + at + 8;
        size_t n = normalise(stmt, stmt + length);
        if (dump) {
            fwrite(text, 1, n, stdout);
            putchar('\n');
        }
        int is_new;
        int32_t group = intern(text, n, &is_new);
        if (report) note_record(id, group, is_new);
        at += need;
        offset += (long long)need;
        count++;
    }
    close(fd);
    if (report) write_report(report, full);
    fprintf(stderr, "records %lld distinct %d bytes %lld tokens %lld max_tokens %d\n", count,
            distinct, arena_bytes, total_tokens, max_tokens);
    return 0;
}
