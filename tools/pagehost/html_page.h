// What the page host takes from an HTML page: its objects and its scripts.
// Deliberately small: attributes in double or single quotes or bare, tags and
// attribute names in any case, comments skipped.
#pragma once

#include <string>
#include <vector>

namespace pagehost {

struct PageObject {
    std::string id;
    std::string classid;  // "clsid:{...}" as written
    int line = 0;         // 1-based line of the tag
};

struct PageScript {
    std::string forId;      // empty for a plain script block
    std::string eventName;  // e.g. "UpSelectComplete"
    std::string eventArgs;  // e.g. "strPath, strSize, strMode"
    std::string language;   // as written, empty when absent
    std::string src;        // <script src="...">, as written; the block's text is then unused
    std::string text;       // the block's source
    int line = 0;           // 1-based line where the source starts
};

struct Page {
    std::vector<PageObject> objects;
    std::vector<PageScript> scripts;
};

Page ParsePage(const std::string& html);

// "Name(a, b)" -> name "Name", args "a, b"; false when it is not of that shape.
bool SplitEventSignature(const std::string& text, std::string& name, std::string& args);

// True when the language names JScript/JavaScript (or is absent).
bool IsJScript(const std::string& language);

}  // namespace pagehost
