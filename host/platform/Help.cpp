#include "host/platform/Help.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <pugixml.hpp>

namespace fs = std::filesystem;

namespace host::platform {

namespace {

// The topics and their pages, relative to the help folder. The reference
// documents live one folder up, where readers of the repository find them.
struct TopicFile {
    const char* id;
    const char* file;
};
constexpr TopicFile kTopics[] = {
    {"ABOUT_CUSTOMER_PROSPECTING", "ABOUT_CUSTOMER_PROSPECTING.html"},
    {"ABOUT_CUSTOMER_PROFILE", "ABOUT_CUSTOMER_PROFILE.html"},
    {"OWN_DATA", "../own-data.md"},
    {"CONFIGURATION", "../configuration.md"},
    {"QUERY_FILES", "../query-files.md"},
};

HelpViewer& Viewer() {
    static HelpViewer viewer;
    return viewer;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool IsHelpFolder(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p / kTopics[0].file, ec);
}

std::string Collapse(const std::string& s) {
    std::string out;
    bool space = false;
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = true;
            continue;
        }
        if (space && !out.empty()) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

// Columns a UTF-8 text takes: one per character.
size_t Columns(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

void Wrap(std::ostream& out, const std::string& text, const std::string& first, const std::string& rest,
          size_t width) {
    std::istringstream words(text);
    std::string word, line = first;
    bool empty = true;
    while (words >> word) {
        if (!empty && Columns(line) + 1 + Columns(word) > width) {
            out << line << "\n";
            line = rest;
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    if (!empty) out << line << "\n";
}

std::string InlineText(const pugi::xml_node& n) {
    std::string s;
    for (auto c : n.children()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) s += c.value();
        else if (c.type() == pugi::node_element) s += InlineText(c);
    }
    return s;
}

void Render(std::ostream& out, const pugi::xml_node& node, size_t width, int depth) {
    for (auto n : node.children()) {
        if (n.type() != pugi::node_element) continue;
        std::string tag = n.name();
        std::string indent(static_cast<size_t>(depth) * 2, ' ');
        if (tag == "h1" || tag == "h2") {
            std::string t = Collapse(InlineText(n));
            out << t << "\n" << std::string(Columns(t), tag == "h1" ? '=' : '-') << "\n\n";
        } else if (tag == "h3") {
            out << Collapse(InlineText(n)) << "\n\n";
        } else if (tag == "p") {
            Wrap(out, Collapse(InlineText(n)), indent, indent, width);
            out << "\n";
        } else if (tag == "pre") {
            out << InlineText(n) << "\n";
        } else if (tag == "ul" || tag == "ol") {
            int number = 0;
            for (auto li : n.children("li")) {
                std::string mark = tag == "ol" ? std::to_string(++number) + ". " : "- ";
                Wrap(out, Collapse(InlineText(li)), indent + "  " + mark,
                     indent + std::string(2 + mark.size(), ' '), width);
            }
            out << "\n";
        } else {
            Render(out, n, width, depth);
        }
    }
}

}  // namespace

std::string HelpFolder() {
    if (const char* env = std::getenv("PLEXA_HELP_DIR"); env && *env) return env;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        // An installed program, one in the build folder, or one in a
        // sub-folder of it (the tests).
        for (fs::path dir = exe.parent_path(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
            if (IsHelpFolder(dir / "docs/help")) return (dir / "docs/help").string();
            if (IsHelpFolder(dir / "share/plexa/help")) return (dir / "share/plexa/help").string();
        }
    }
#ifdef PLEXA_HELP_DIR
    if (IsHelpFolder(PLEXA_HELP_DIR)) return PLEXA_HELP_DIR;
#endif
    return "";
}

std::vector<HelpTopic> HelpTopics() {
    std::vector<HelpTopic> topics;
    std::string folder = HelpFolder();
    if (folder.empty()) return topics;
    for (const TopicFile& t : kTopics) {
        fs::path path = fs::path(folder) / t.file;
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) continue;
        HelpTopic topic{t.id, "", path.lexically_normal().string(), path.extension() == ".html"};
        std::string body = ReadAll(topic.path);
        if (topic.html) {
            pugi::xml_document doc;
            doc.load_string(body.c_str());
            topic.title = Collapse(doc.select_node("//title").node().text().as_string());
        } else {
            std::istringstream lines(body);
            std::string line;
            while (std::getline(lines, line))
                if (line.rfind("# ", 0) == 0) {
                    topic.title = line.substr(2);
                    break;
                }
        }
        if (topic.title.empty()) topic.title = t.id;
        topics.push_back(topic);
    }
    return topics;
}

std::optional<HelpTopic> FindHelpTopic(const std::string& id) {
    std::string wanted;
    for (char c : id) wanted += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (auto& t : HelpTopics())
        if (t.id == wanted) return t;
    return std::nullopt;
}

std::string HelpTopicBody(const HelpTopic& topic) { return ReadAll(topic.path); }

std::string HelpTopicText(const HelpTopic& topic, int width) {
    std::string body = HelpTopicBody(topic);
    if (!topic.html) return body;
    pugi::xml_document doc;
    if (!doc.load_string(body.c_str())) return body;
    std::ostringstream out;
    auto html = doc.document_element();
    Render(out, html.child("body") ? html.child("body") : html, static_cast<size_t>(std::max(20, width)), 0);
    std::string text = out.str();
    size_t start = text.find_first_not_of('\n');
    return start == std::string::npos ? "" : text.substr(start);
}

void SetHelpViewer(HelpViewer viewer) { Viewer() = std::move(viewer); }

void ShowTopic(const HelpTopic& topic) {
    if (Viewer()) Viewer()(topic);
    else std::cerr << "help: " << topic.title << " (plexa help " << topic.id << ")\n";
}

}  // namespace host::platform
