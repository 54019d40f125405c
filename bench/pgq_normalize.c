/* Peer comparator: pg_query_normalize over one statement per line.
 *
 *   pgq_normalize FILE
 *
 * Normalises every line (the $1-bind copy of a workload), folds each result
 * into a checksum so the work cannot be skipped, and prints on standard
 * error: statements N errors E checksum C. A statement the PostgreSQL
 * parser rejects still costs its parse and counts as an error. */
#define _GNU_SOURCE
#include <pg_query.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: pgq_normalize FILE\n", stderr);
        return 1;
    }
    FILE* in = fopen(argv[1], "rb");
    if (!in) {
        perror(argv[1]);
        return 1;
    }
    char* line = NULL;
    size_t capacity = 0;
    ssize_t n;
    long long statements = 0, errors = 0;
    uint64_t checksum = 0;
    while ((n = getline(&line, &capacity, in)) > 0) {
        if (line[n - 1] == '\n') line[--n] = '\0';
        if (n == 0) continue;
        PgQueryNormalizeResult r = pg_query_normalize(line);
        statements++;
        if (r.error) {
            errors++;
        } else {
            for (const unsigned char* p = (const unsigned char*)r.normalized_query; *p; p++)
                checksum = (checksum ^ *p) * 0x100000001B3ull;
        }
        pg_query_free_normalize_result(r);
    }
    fprintf(stderr, "statements %lld errors %lld checksum %016llx\n", statements, errors,
            (unsigned long long)checksum);
    free(line);
    fclose(in);
    return 0;
}
