// litsieve's entry point; the program is run_litsieve in the analyzer.
#include "analyzer/litsieve.h"

int main(int argc, char** argv) {
    return run_litsieve(argc, argv);
}
