// The analyzer library linked alone (add_link_test): two records that share
// a normalised text end up in one group.
#include "analyzer/statement_groups.h"

int main() {
    dictionary = create_dictionary();
    process_statement(7, "select * from t where a = 1");
    process_statement(9, "SELECT * FROM T WHERE A = 2");
    const StatementGroup& group = group_of(record_list.base[1]);
    bool one_group = group_table.last == 2 && group.size == 2 && group.first_member == 7;
    return one_group ? 0 : 1;
}
