// ls: the archive as the archive browser shows it, the orphaned
// measurements it leaves out, then the routes as the route screen shows
// them, with the ids that the other commands take.
#include <cstdio>

#include "archive/measurement.h"
#include "storage/dir.h"
#include "tools/archive/json.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"
#include "tools/archive/walk.h"

namespace {

constexpr int INDENT = 2;

const char* route_item_kind(const RouteLine& l)
{
    if (l.item == 0) return "route";
    return l.point ? "point" : "group";
}

// The label of a measurement at directory index `at`, as UTF-8.
std::string label_of(int at)
{
    char label[MEAS_LABEL_SIZE];
    return meas_label_utf8(meas_label(at, label));
}

void list_text(const std::vector<ArchiveLine>& lines)
{
    for (const ArchiveLine& l : lines) {
        const std::string text = printable(l.measurement ? meas_label_utf8(l.text) : cp1251_to_utf8(l.text));
        std::printf("%*s", l.level * INDENT, "");
        if (l.index < 0)
            std::printf("%s\n", text.c_str());
        else if (l.measurement)
            std::printf("[%u] %s: %s\n", l.id, kind_name(l.kind), text.c_str());
        else
            std::printf("[%u] %s\n", l.id, text.c_str());
    }
    const std::vector<int> orphans = orphan_entries(lines);
    if (!orphans.empty()) std::printf("orphans (their object is not in the archive):\n");
    for (const int at : orphans)
        std::printf("%*s[%u] %s: %s (object %u)\n", INDENT, "", dir_id(at), kind_name(dir_attr(at)),
                    label_of(at).c_str(), dir_parent(at));
    for (const int at : route_entries()) {
        const u32 id = dir_id(at);
        std::string name;
        const std::vector<RouteLine> items = route_lines(id, &name);
        if (items.empty()) {
            std::printf("route [%u]: does not load\n", id);
            continue;
        }
        std::printf("route [%u] %s\n", id, cp1251_printable(name).c_str());
        for (const RouteLine& l : items) {
            std::printf("%*s[%d] %s: %s", (l.level + 1) * INDENT, "", l.item, route_item_kind(l),
                        cp1251_printable(l.text).c_str());
            if (l.ignored) std::printf(" (ignored)");
            if (l.point) std::printf(l.measured ? " (measured: %d)" : " (to measure)", l.measurement);
            std::printf("\n");
        }
    }
}

void list_json(const std::vector<ArchiveLine>& lines)
{
    JsonWriter w;
    w.begin_object();
    w.begin_array("objects");
    bool open_object = false;
    std::vector<ArchiveLine> loose;  // measurements the browser shows at the objects' level
    for (const ArchiveLine& l : lines) {
        if (l.index < 0) continue;
        if (!l.measurement) {
            if (open_object) w.end().end();
            w.begin_object().value("id", l.id).value("name", cp1251_to_utf8(l.text));
            w.begin_array("measurements");
            open_object = true;
            continue;
        }
        if (l.level <= 1) {
            loose.push_back(l);
            continue;
        }
        w.begin_object().value("id", l.id).value("kind", kind_name(l.kind)).value("label", meas_label_utf8(l.text));
        w.end();
    }
    if (open_object) w.end().end();
    w.end();
    w.begin_array("without_object");
    for (const ArchiveLine& l : loose)
        w.begin_object()
            .value("id", l.id)
            .value("kind", kind_name(l.kind))
            .value("label", meas_label_utf8(l.text))
            .end();
    w.end();
    w.begin_array("orphans");
    for (const int at : orphan_entries(lines))
        w.begin_object()
            .value("id", dir_id(at))
            .value("kind", kind_name(dir_attr(at)))
            .value("label", label_of(at))
            .value("object", dir_parent(at))
            .end();
    w.end();
    w.begin_array("routes");
    for (const int at : route_entries()) {
        const u32 id = dir_id(at);
        std::string name;
        const std::vector<RouteLine> items = route_lines(id, &name);
        w.begin_object().value("id", id).value("loads", !items.empty());
        if (!items.empty()) {
            w.value("name", cp1251_to_utf8(name));
            w.begin_array("items");
            for (const RouteLine& l : items) {
                w.begin_object().value("item", l.item).value("level", l.level).value("kind", route_item_kind(l));
                w.value("text", cp1251_to_utf8(l.text)).value("ignored", l.ignored);
                if (l.point) {
                    w.value("measured", l.measured);
                    if (l.measured)
                        w.value("measurement", l.measurement);
                    else
                        w.null("measurement");
                }
                w.end();
            }
            w.end();
        }
        w.end();
    }
    w.end();
    w.end();
    std::fputs(w.text().c_str(), stdout);
}

int run(const std::vector<std::string>& args)
{
    bool json = false;
    if (!tool_json_option(args, "ls", &json)) return TOOL_USAGE;
    const std::vector<ArchiveLine> lines = archive_lines();
    if (json)
        list_json(lines);
    else
        list_text(lines);
    return TOOL_OK;
}

const ToolCommandRegistrar reg({"ls", "[--json]",
                                "the archive as the browser shows it (objects and their measurements) and the "
                                "routes with their points and states, with ids",
                                ToolAccess::Read, run});

}  // namespace
