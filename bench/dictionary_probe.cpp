// What litsieve's dictionary holds after a record file, for the benchmark:
// the records are read, normalised and filed exactly as litsieve does
// (read_statements, on LIT_THREADS threads), then one line goes to standard
// output:
//   records N distinct D text_bytes B dictionary_bytes X trie_bytes T
//   leaves L n4 A n16 B n48 C n256 E grown_n4 ... grown_n256 ...
// text_bytes is the sum of the distinct texts' lengths; dictionary_bytes
// everything the dictionary holds from the heap (dictionary_heap_bytes).
#include "analyzer/record_reader.h"
#include "analyzer/statement_groups.h"
#include "analyzer/string_dictionary.h"

#include <cstdint>
#include <cstdio>

namespace {

bool add_length(void* context, const unsigned char*, std::size_t length, std::int32_t) {
    *static_cast<std::uint64_t*>(context) += length;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: dictionary_probe INPUT.rec\n", stderr);
        return 1;
    }
    dictionary = create_dictionary();
    read_statements(argv[1]);
    std::uint64_t text_bytes = 0;
    visit_texts(dictionary, add_length, &text_bytes);
    DictionaryShape shape;
    dictionary_shape(dictionary, &shape);
    std::printf("records %ld distinct %ld text_bytes %llu dictionary_bytes %llu trie_bytes %llu",
                static_cast<long>(record_list.last + 1),
                static_cast<long>(dictionary_last_id(dictionary) - 1),
                static_cast<unsigned long long>(text_bytes),
                static_cast<unsigned long long>(dictionary_heap_bytes(dictionary)),
                static_cast<unsigned long long>(shape.storage_bytes));
    const char* kinds[] = {"leaves", "n4", "n16", "n48", "n256"};
    for (int k = 0; k < 5; ++k) std::printf(" %s %u", kinds[k], shape.nodes[k]);
    for (int k = 1; k < 5; ++k) std::printf(" grown_%s %u", kinds[k], shape.grown[k]);
    std::printf("\n");
    return 0;
}
