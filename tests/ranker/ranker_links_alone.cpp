// The ranker library linked alone (add_link_test): the larger of two groups
// ranks first.
#include "ranker/ranking.h"

#include <cstring>

int main() {
    dictionary = create_dictionary();
    const char* texts[] = {"select 1", "update t set a = 1", "select 2"};
    std::int32_t id = 1;
    for (const char* text : texts) {
        rank_record(StatementRecord{id++, static_cast<std::int32_t>(std::strlen(text)), text}, nullptr);
    }
    Ranking ranking = rank_groups(RANK_BY_SIZE, 0);
    bool first = ranking.count == 2 && group_table.base[ranking.numbers[0]].size == 2;
    release_ranking(&ranking);
    return first ? 0 : 1;
}
