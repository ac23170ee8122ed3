#include "locate/client_match.h"

int build_accepted(const number_list& accepted, std::uint8_t major, std::uint8_t minor)
{
    const unsigned full = major + 256u * minor;
    const int count = accepted.count < number_list_capacity ? accepted.count : number_list_capacity;
    for (int i = 0; i < count; ++i) {
        const unsigned entry = accepted.values[i];
        if ((entry < 256 && entry == major) || entry == full) return 1;
    }
    return 0;
}
