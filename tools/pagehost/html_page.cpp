#include "html_page.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace pagehost {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

int LineAt(const std::string& text, std::size_t pos) {
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + pos, '\n'));
}

// Parses the attributes of a start tag between `begin` and `end` (exclusive).
std::map<std::string, std::string> Attributes(const std::string& html, std::size_t begin,
                                              std::size_t end) {
    std::map<std::string, std::string> out;
    std::size_t i = begin;
    auto space = [&](std::size_t k) {
        return std::isspace(static_cast<unsigned char>(html[k])) != 0;
    };
    while (i < end) {
        while (i < end && (space(i) || html[i] == '/')) ++i;
        const std::size_t nameStart = i;
        while (i < end && !space(i) && html[i] != '=' && html[i] != '/') ++i;
        const std::string name = Lower(html.substr(nameStart, i - nameStart));
        while (i < end && space(i)) ++i;
        std::string value;
        if (i < end && html[i] == '=') {
            ++i;
            while (i < end && space(i)) ++i;
            if (i < end && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                const std::size_t v = i;
                while (i < end && html[i] != quote) ++i;
                value = html.substr(v, i - v);
                if (i < end) ++i;
            } else {
                const std::size_t v = i;
                while (i < end && !space(i)) ++i;
                value = html.substr(v, i - v);
            }
        }
        if (!name.empty()) out[name] = value;
        if (i == nameStart) ++i;  // never stall on a stray character
    }
    return out;
}

// Finds the '>' that ends the tag starting at `lt`, skipping quoted values.
std::size_t TagEnd(const std::string& html, std::size_t lt) {
    char quote = 0;
    for (std::size_t i = lt + 1; i < html.size(); ++i) {
        const char c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace

bool SplitEventSignature(const std::string& text, std::string& name, std::string& args) {
    const std::string t = Trim(text);
    const std::size_t open = t.find('(');
    if (open == std::string::npos) {
        if (t.empty()) return false;
        name = t;
        args.clear();
        return true;
    }
    if (t.back() != ')' || open == 0) return false;
    name = Trim(t.substr(0, open));
    args = Trim(t.substr(open + 1, t.size() - open - 2));
    return !name.empty();
}

bool IsJScript(const std::string& language) {
    const std::string l = Lower(Trim(language));
    return l.empty() || l == "jscript" || l == "javascript" || l == "text/javascript" ||
           l == "text/jscript" || l == "application/javascript";
}

Page ParsePage(const std::string& html) {
    Page page;
    const std::string lower = Lower(html);
    std::size_t pos = 0;
    while ((pos = lower.find('<', pos)) != std::string::npos) {
        if (lower.compare(pos, 4, "<!--") == 0) {
            const std::size_t close = lower.find("-->", pos + 4);
            if (close == std::string::npos) break;
            pos = close + 3;
            continue;
        }
        const std::size_t end = TagEnd(html, pos);
        if (end == std::string::npos) break;
        std::size_t nameEnd = pos + 1;
        while (nameEnd < end && std::isalnum(static_cast<unsigned char>(lower[nameEnd])))
            ++nameEnd;
        const std::string tag = lower.substr(pos + 1, nameEnd - pos - 1);
        if (tag == "object") {
            auto attrs = Attributes(html, nameEnd, end);
            PageObject obj;
            obj.id = attrs.count("id") ? attrs["id"] : attrs["name"];
            obj.classid = attrs["classid"];
            obj.line = LineAt(html, pos);
            page.objects.push_back(obj);
            pos = end + 1;
        } else if (tag == "script") {
            auto attrs = Attributes(html, nameEnd, end);
            const std::size_t bodyStart = end + 1;
            std::size_t close = lower.find("</script", bodyStart);
            if (close == std::string::npos) close = html.size();
            PageScript script;
            script.forId = Trim(attrs["for"]);
            script.language = attrs.count("language") ? attrs["language"] : attrs["type"];
            script.src = Trim(attrs["src"]);
            if (!SplitEventSignature(attrs["event"], script.eventName, script.eventArgs)) {
                script.eventName.clear();
                script.eventArgs.clear();
            }
            script.text = html.substr(bodyStart, close - bodyStart);
            script.line = LineAt(html, bodyStart);
            page.scripts.push_back(script);
            const std::size_t after = close < html.size() ? TagEnd(html, close) : close;
            pos = after == std::string::npos ? html.size() : after + 1;
        } else {
            pos = end + 1;
        }
    }
    return page;
}

}  // namespace pagehost
