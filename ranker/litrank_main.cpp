// litrank's entry point; the program is run_litrank in the ranker.
#include "ranker/litrank.h"

int main(int argc, char** argv) {
    return run_litrank(argc, argv);
}
