// route import / route export: routes prepared on the PC go into the
// archive as route files exactly as the instrument writes them (so the
// route screen shows them); routes go out with their points' states and
// linked measurements.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "analysis/plant.h"
#include "archive/route.h"
#include "screens/plant_bearings.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tools/archive/plant_route.h"
#include "tools/archive/route_io.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"

namespace {

bool ends_with(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

int store_route(RouteBuffer* buf, const char* command);

int import_route(const std::vector<std::string>& args)
{
    std::string file, name, format;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--name" || args[i] == "--format") {
            if (i + 1 >= args.size()) return tool_error("route import: " + args[i] + " needs a value");
            (args[i] == "--name" ? name : format) = args[i + 1];
            ++i;
        } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
            file = args[i];
        } else {
            return tool_error("route import: unexpected " + args[i]);
        }
    }
    if (file.empty()) return tool_error("route import: give the route's file (JSON or CSV)");
    if (format.empty()) format = ends_with(file, ".csv") || ends_with(file, ".CSV") ? "csv" : "json";
    if (format != "json" && format != "csv") return tool_error("route import: unknown format " + format);
    std::string text, error;
    const u64 most = format == "json" ? ROUTE_JSON_MAX_BYTES : ROUTE_CSV_MAX_BYTES;
    if (!tool_read_file(file, most, "a route's file in " + format, &text, &error)) return tool_error(error);
    const std::string fallback = name.empty() ? std::filesystem::path(file).stem().string() : name;
    auto buf = std::make_unique<RouteBuffer>();
    const bool ok = format == "json" ? route_from_json(text, fallback, buf.get(), &error)
                                     : route_from_csv(text, fallback, buf.get(), &error);
    if (!ok) return tool_error(file + ": " + error);
    if (!name.empty()) {
        std::string cp, why;
        if (!route_name_from_utf8(name, &cp, &why)) return tool_error("route import: --name: " + why);
        std::memset(buf->header.name, 0, sizeof buf->header.name);
        std::memcpy(buf->header.name, cp.data(), cp.size());
        std::memset(buf->items[0].name, 0, sizeof buf->items[0].name);
        std::memcpy(buf->items[0].name, cp.data(), cp.size());
    }
    // Only now the archive: nothing is touched for a file that is refused.
    return store_route(buf.get(), "route import");
}

// Stores `buf` as a new route file of the archive (refused when the archive
// has a route of that name); prints what was stored. The exit status.
int store_route(RouteBuffer* buf, const char* command)
{
    std::string error;
    if (!tool_open_archive(tool_flash_path(), ToolAccess::Write, &error)) return tool_error(error);
    if (route_find(buf->header.name) != 0) {
        tool_close_archive();
        return tool_error(std::string(command) + ": the archive already has a route named " +
                          cp1251_to_utf8(buf->header.name) + " (give another with --name)");
    }
    const u32 id = route_save(0, buf);
    tool_close_archive();
    if (id == 0) return tool_error(tool_flash_path() + ": the route could not be stored (archive full?)");
    std::printf("route %u: %s, %u items\n", id, cp1251_printable(buf->header.name).c_str(), buf->header.count);
    return TOOL_OK;
}

int route_from_plant(const std::vector<std::string>& args)
{
    std::string file, name, out;
    bool have_name = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--name" || args[i] == "--out") {
            if (i + 1 >= args.size()) return tool_error("route from-plant: " + args[i] + " needs a value");
            if (args[i] == "--name") have_name = true;
            (args[i] == "--name" ? name : out) = args[i + 1];
            ++i;
        } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
            file = args[i];
        } else {
            return tool_error("route from-plant: unexpected " + args[i]);
        }
    }
    if (file.empty()) return tool_error("route from-plant: give the plant's file (JSON)");
    Plant plant;
    std::string error = plant_load(file, plant_bearing_lookup, &plant);
    if (!error.empty()) return tool_error(error);
    if (!have_name) name = plant_route_name(plant);
    if (!out.empty()) {
        std::string json;
        if (!plant_route_json(plant, name, &json, &error)) return tool_error(have_name ? "--name: " + error : error);
        std::ofstream f(out, std::ios::binary | std::ios::trunc);
        f << json;
        f.close();
        if (!f) return tool_error(out + ": cannot write: " + std::strerror(errno));
        return TOOL_OK;
    }
    auto buf = std::make_unique<RouteBuffer>();
    if (!plant_route_build(plant, name, buf.get(), &error)) return tool_error(error);
    return store_route(buf.get(), "route from-plant");
}

int export_route(const std::vector<std::string>& args)
{
    std::string id_text, format = "json", out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format" || args[i] == "--out") {
            if (i + 1 >= args.size()) return tool_error("route export: " + args[i] + " needs a value");
            (args[i] == "--format" ? format : out) = args[i + 1];
            ++i;
        } else if (id_text.empty() && !args[i].empty() &&
                   args[i].find_first_not_of("0123456789") == std::string::npos && args[i].size() < 10) {
            id_text = args[i];
        } else {
            return tool_error("route export: unexpected " + args[i]);
        }
    }
    if (id_text.empty()) return tool_error("route export: give the route's id (see ls)");
    if (format != "json" && format != "csv") return tool_error("route export: unknown format " + format);
    std::string error;
    if (!tool_open_archive(tool_flash_path(), ToolAccess::Read, &error)) return tool_error(error);
    const u32 id = static_cast<u32>(std::stoul(id_text));
    const int at = dir_find_id(id);
    auto buf = std::make_unique<RouteBuffer>();
    if (at < 0 || dir_type(at) != FILE_TYPE_ROUTE) {
        tool_close_archive();
        return tool_error("route export: " + id_text + " is not a route of the archive (see ls)");
    }
    const bool loaded = route_load(id, buf.get()) == id;
    if (loaded) route_drop_stale_links(buf.get());  // only links to the points' own measurements go out
    tool_close_archive();
    if (!loaded) return tool_error("route export: route " + id_text + " does not load (see verify)");
    const std::string text = format == "json" ? route_to_json(*buf) : route_to_csv(*buf);
    if (out.empty()) {
        std::fputs(text.c_str(), stdout);
        return TOOL_OK;
    }
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) return tool_error(out + ": cannot write: " + std::strerror(errno));
    return TOOL_OK;
}

int run(const std::vector<std::string>& args)
{
    if (args.empty()) return tool_error("route: give import, export or from-plant");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "import") return import_route(rest);
    if (args[0] == "export") return export_route(rest);
    if (args[0] == "from-plant") return route_from_plant(rest);
    return tool_error("route: unknown subcommand " + args[0] + " (import, export or from-plant)");
}

const ToolCommandRegistrar reg({"route",
                                "import FILE [--name NAME] | export ID [--format json|csv] [--out FILE] | "
                                "from-plant PLANT [--name NAME] [--out FILE]",
                                "a route prepared on the PC (JSON or CSV) into the archive; a route out with its "
                                "points' states and measurements; the route of a virtual plant (its groups, machines "
                                "and points, with the settings their faults call for) into the archive, or as route "
                                "JSON with --out",
                                ToolAccess::None, run});

}  // namespace
