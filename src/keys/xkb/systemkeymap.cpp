#include "keys/xkb/systemkeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <fstream>

namespace keys {
namespace {

// A value of a shell-style assignment, its quotes removed: `XKBLAYOUT="de,us"`.
std::string Unquoted(std::string value) {
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

} // namespace

KeymapNames SystemKeymapNames(const char* defaultsFile) {
    KeymapNames names;
    if (defaultsFile) {
        std::ifstream file(defaultsFile);
        for (std::string line; std::getline(file, line);) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos || line.compare(0, 3, "XKB") != 0) continue;
            const std::string key = line.substr(0, eq), value = Unquoted(line.substr(eq + 1));
            if (key == "XKBMODEL")
                names.model = value;
            else if (key == "XKBLAYOUT")
                names.layout = value;
            else if (key == "XKBVARIANT")
                names.variant = value;
            else if (key == "XKBOPTIONS")
                names.options = value;
        }
    }
    // The environment wins, as it does for every libxkbcommon program of the session.
    const auto fromEnvironment = [](const char* variable, std::string& name) {
        if (const char* value = std::getenv(variable); value && *value) name = value;
    };
    fromEnvironment("XKB_DEFAULT_MODEL", names.model);
    if (const char* layout = std::getenv("XKB_DEFAULT_LAYOUT"); layout && *layout) {
        // A variant belongs to its layout: the file's variant would be wrong for another one.
        names.layout = layout;
        names.variant.clear();
    }
    fromEnvironment("XKB_DEFAULT_VARIANT", names.variant);
    fromEnvironment("XKB_DEFAULT_OPTIONS", names.options);
    return names;
}

xkb_keymap* SystemKeymap(xkb_context* context, const KeymapNames& names, std::string* why) {
    const auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    const xkb_rule_names rules{nullptr, orNull(names.model), orNull(names.layout), orNull(names.variant),
                               orNull(names.options)};
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!keymap && why)
        *why = "the keyboard layout \"" + (names.layout.empty() ? std::string("us") : names.layout) +
               (names.variant.empty() ? "" : "(" + names.variant + ")") + "\" does not compile";
    return keymap;
}

} // namespace keys
