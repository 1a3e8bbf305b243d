// Routes prepared on the PC as the archive tool reads them: the input is a
// route's text, JSON or CSV (first byte even: JSON, odd: CSV). A text that
// is taken must give a route the instrument loads (its own tree check, the
// count, the names), and writing it out again and reading that back must
// give the same items.
#include <cstring>
#include <memory>
#include <string>

#include "archive/route.h"
#include "base/checksum.h"
#include "fuzz.h"
#include "tools/archive/route_io.h"

namespace {

constexpr size_t MAX_TEXT = 256 * 1024;

bool items_equal(const RouteBuffer& a, const RouteBuffer& b)
{
    if (a.header.count != b.header.count) return false;
    return std::memcmp(a.items, b.items, a.header.count * sizeof(RouteItem)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > MAX_TEXT) return 0;
    const bool csv = data[0] & 1;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    static auto buf = std::make_unique<RouteBuffer>();
    static auto again = std::make_unique<RouteBuffer>();
    std::string error;
    const bool taken =
        csv ? route_from_csv(text, "Маршрут", buf.get(), &error) : route_from_json(text, "Маршрут", buf.get(), &error);
    if (!taken) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    const u32 count = buf->header.count;
    FUZZ_CHECK(count >= 2 && count <= ROUTE_MAX_ITEMS);
    FUZZ_CHECK(route_check(buf.get()));
    FUZZ_CHECK(strnlen(buf->header.name, ROUTE_NAME_SIZE) < ROUTE_NAME_SIZE);
    for (u32 i = 0; i < count; ++i) {
        RouteItem it = buf->items[i];
        FUZZ_CHECK(it.name[0] != 0 && strnlen(it.name, ROUTE_NAME_SIZE) < ROUTE_NAME_SIZE);
        FUZZ_CHECK(it.measurement == ROUTE_NO_MEASUREMENT);
        const u16 stored = it.checksum;
        checksum_store(&it, ROUTE_ITEM_SIZE, ROUTE_ITEM_CHECKSUM_AT);
        FUZZ_CHECK(it.checksum == stored);
    }
    // Out and in again: JSON keeps every item.
    FUZZ_CHECK(route_from_json(route_to_json(*buf), "", again.get(), &error));
    FUZZ_CHECK(items_equal(*buf, *again));
    FUZZ_CHECK(route_from_csv(route_to_csv(*buf), "Маршрут", again.get(), &error) ||
               error.find("no groups or points") != std::string::npos);
    return 0;
}
