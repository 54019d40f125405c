// The platform library linked alone (add_link_test): a number through the
// output buffer.
#include "platform/output_buffer.h"

#include <cstring>

int main() {
    OutBuffer out;
    out_open(&out, OUT_MEMORY);
    out_number(&out, -2147483648LL);
    bool right = out.used == 11 && std::memcmp(out.data, "-2147483648", 11) == 0;
    out_close(&out);
    return right ? 0 : 1;
}
