#include "desktop_files.h"

#include <string.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <vector>

#include "pack_files.h"

namespace {

// An icon as its bytes say: an SVG image, or a square PNG of `size` pixels.
struct IconImage {
    bool svg = false;
    unsigned size = 0;
};

// The menu's main categories, those that it reserves to the desktop's own
// programs, and the other registered ones.
const char *const mainCategories[] = {
    "AudioVideo", "Audio", "Video", "Development", "Education", "Game", "Graphics",
    "Network", "Office", "Science", "Settings", "System", "Utility"};
const char *const reservedCategories[] = {"Screensaver", "TrayIcon", "Applet", "Shell"};
const char *const additionalCategories[] = {
    "Building", "Debugger", "IDE", "GUIDesigner", "Profiling", "RevisionControl",
    "Translation", "Calendar", "ContactManagement", "Database", "Dictionary", "Chart",
    "Email", "Finance", "FlowChart", "PDA", "ProjectManagement", "Presentation",
    "Spreadsheet", "WordProcessor", "2DGraphics", "VectorGraphics", "RasterGraphics",
    "3DGraphics", "Scanning", "OCR", "Photography", "Publishing", "Viewer", "TextTools",
    "DesktopSettings", "HardwareSettings", "Printing", "PackageManager", "Dialup",
    "InstantMessaging", "Chat", "IRCClient", "Feed", "FileTransfer", "HamRadio", "News",
    "P2P", "RemoteAccess", "Telephony", "TelephonyTools", "VideoConference", "WebBrowser",
    "WebDevelopment", "Midi", "Mixer", "Sequencer", "Tuner", "TV", "AudioVideoEditing",
    "Player", "Recorder", "DiscBurning", "ActionGame", "AdventureGame", "ArcadeGame",
    "BoardGame", "BlocksGame", "CardGame", "KidsGame", "LogicGame", "RolePlaying", "Shooter",
    "Simulation", "SportsGame", "StrategyGame", "Art", "Construction", "Music", "Languages",
    "ArtificialIntelligence", "Astronomy", "Biology", "Chemistry", "ComputerScience",
    "DataVisualization", "Economy", "Electricity", "Geography", "Geology", "Geoscience",
    "History", "Humanities", "ImageProcessing", "Literature", "Maps", "Math",
    "NumericalAnalysis", "MedicalSoftware", "Physics", "Robotics", "Spirituality", "Sports",
    "ParallelComputing", "Amusement", "Archiving", "Compression", "Electronics", "Emulator",
    "Engineering", "FileTools", "FileManager", "TerminalEmulator", "Filesystem", "Monitor",
    "Security", "Accessibility", "Calculator", "Clock", "TextEditor", "Documentation",
    "Adult", "Core", "KDE", "GNOME", "XFCE", "GTK", "Qt", "Motif", "Java",
    "ConsoleOnly"};

// The sizes of the icon theme's directories of application icons.
const unsigned iconThemeSizes[] = {16, 22, 24, 32, 36, 48, 64, 72, 96, 128, 192, 256, 512};

// The top-level MIME types a file the application opens can have.
const char *const fileMediaTypes[] = {"application", "audio", "font", "image",
                                      "model", "text", "video"};

// The category given to an entry that names none.
const char defaultCategory[] = "Utility";

// Whether `word` is one of `list`.
template <size_t count>
bool listed(const char *const (&list)[count], const std::string &word) {
    return std::any_of(std::begin(list), std::end(list),
                       [&word](const char *item) { return word == item; });
}

// `list` joined by `separator`.
template <typename List>
std::string joined(const List &list, const char *separator) {
    std::string text;
    for (const auto &item : list) {
        text += (text.empty() ? "" : separator) + std::string(item);
    }
    return text;
}

// Whether `c` is an ASCII letter or digit.
bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether `c` is a lower-case ASCII letter or a digit.
bool isLowerAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Whether `c` is an ASCII digit.
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether `text` is UTF-8 without control characters, line breaks and
// tabs allowed only when `lines`: what a desktop entry and XML can hold.
bool isPlainText(const std::string &text, bool lines) {
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x80) {
            if ((c < 0x20 && !(lines && (c == '\n' || c == '\t'))) || c == 0x7f) {
                return false;
            }
            i++;
            continue;
        }
        size_t length = c >= 0xc2 && c < 0xe0 ? 2 : c >= 0xe0 && c < 0xf0 ? 3
                                                : c >= 0xf0 && c < 0xf5   ? 4
                                                                          : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        unsigned long point = c & (0x7fu >> length);
        for (size_t k = 1; k < length; k++) {
            unsigned char next = (unsigned char)text[i + k];
            if ((next & 0xc0) != 0x80) {
                return false;
            }
            point = point << 6 | (next & 0x3fu);
        }
        if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) ||
            point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff) || point < 0xa0 ||
            point == 0xfffe || point == 0xffff) {
            return false;
        }
        i += length;
    }
    return true;
}

// `text` for a message of one line: each control character as '?'.
std::string shown(const std::string &text) {
    std::string out = text;
    std::replace_if(
        out.begin(), out.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; }, '?');
    return out;
}

// `text` as XML character data or an attribute value in double quotes.
std::string xmlEscaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// `text` as the value of a desktop entry's string key: backslash, line
// break, tab and carriage return escaped.
std::string desktopValue(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

// `path` as one argument of an Exec= value, before the string escaping of
// desktopValue: in double quotes, with '"', '`', '$' and '\' behind a
// backslash, when it holds a character the key reserves; '%' doubled.
std::string execArgument(const std::string &path) {
    std::string argument;
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            argument += '\\';
        }
        argument += c == '%' ? std::string("%%") : std::string(1, c);
    }
    bool reserved = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    return reserved ? "\"" + argument + "\"" : argument;
}

// One element of an id made from `word`: lower case, with '-', '+' and '.'
// as '_', behind '_' when it starts with a digit.
std::string idElement(const std::string &word) {
    std::string element;
    for (char c : word) {
        bool upper = c >= 'A' && c <= 'Z';
        element += c == '-' || c == '+' || c == '.' ? '_' : upper ? (char)(c - 'A' + 'a') : c;
    }
    return !element.empty() && isDigit(element[0]) ? "_" + element : element;
}

// Whether `id` is a reverse-DNS id: at most 255 characters, three or more
// elements separated by '.', each of letters, digits, '_' and '-', not
// starting with a digit.
bool isReverseDnsId(const std::string &id) {
    if (id.empty() || id.size() > 255) {
        return false;
    }
    int elements = 0;
    size_t start = 0;
    while (start <= id.size()) {
        size_t end = std::min(id.find('.', start), id.size());
        std::string element = id.substr(start, end - start);
        if (element.empty() || isDigit(element[0]) ||
            !std::all_of(element.begin(), element.end(),
                         [](char c) { return isAlnum(c) || c == '_' || c == '-'; })) {
            return false;
        }
        elements++;
        start = end + 1;
    }
    return elements >= 3;
}

// The host of an http:// or https:// address, in lower case; "" when
// `url` is not one.
std::string urlHost(const std::string &url) {
    std::string lower;
    for (char c : url) {
        lower += c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    }
    size_t start = lower.compare(0, 7, "http://") == 0    ? 7
                   : lower.compare(0, 8, "https://") == 0 ? 8
                                                          : 0;
    if (start == 0 || !isPlainText(url, false) || url.find(' ') != std::string::npos) {
        return "";
    }
    size_t end = std::min(lower.find_first_of("/?#", start), lower.size());
    std::string authority = lower.substr(start, end - start);
    size_t at = authority.rfind('@');
    std::string host = at == std::string::npos ? authority : authority.substr(at + 1);
    return host.substr(0, host.find(':'));
}

// The id made from `homepage`'s host and `name`; "" when the host is no
// domain name (an address, one label, a character a label cannot have).
std::string idFromHomepage(const std::string &homepage, const std::string &name) {
    std::string host = urlHost(homepage);
    if (host.compare(0, 4, "www.") == 0) {
        host = host.substr(4);
    }
    std::vector<std::string> labels;
    size_t start = 0;
    while (!host.empty() && start <= host.size()) {
        size_t end = std::min(host.find('.', start), host.size());
        std::string label = host.substr(start, end - start);
        if (label.empty() || !std::all_of(label.begin(), label.end(),
                                          [](char c) { return isAlnum(c) || c == '-'; })) {
            return "";
        }
        labels.push_back(label);
        start = end + 1;
    }
    if (labels.size() < 2 || std::all_of(labels.back().begin(), labels.back().end(), isDigit)) {
        return "";
    }
    std::string id;
    for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
        id += idElement(*label) + ".";
    }
    id += idElement(name);
    return isReverseDnsId(id) ? id : "";
}

// The file name of `launcher`'s desktop entry.
std::string entryFileName(const PackRequest &request, const LauncherSpec &launcher,
                          const std::string &id) {
    return launcher.name == request.name ? id + ".desktop"
                                         : id + "." + idElement(launcher.name) + ".desktop";
}

// Reads the PNG image `content`: "" and its size in *image, or why it is
// no icon (after the file's name in a message).
std::string readPng(const std::string &content, IconImage *image) {
    static const unsigned char pngEnd[12] = {0,   0,   0,   0,    'I',  'E',
                                             'N', 'D', 0xae, 0x42, 0x60, 0x82};
    const unsigned char *bytes = (const unsigned char *)content.data();
    auto number = [bytes](size_t at) {
        return (unsigned long)bytes[at] << 24 | (unsigned long)bytes[at + 1] << 16 |
               (unsigned long)bytes[at + 2] << 8 | bytes[at + 3];
    };
    if (content.size() < 8 + 25 + 12 || number(8) != 13 || memcmp(bytes + 12, "IHDR", 4) != 0 ||
        memcmp(bytes + content.size() - 12, pngEnd, 12) != 0) {
        return "is not a whole PNG image";
    }
    unsigned long width = number(16);
    unsigned long height = number(20);
    if (width != height) {
        return "is " + std::to_string(width) + "x" + std::to_string(height) +
               " pixels: an icon is square";
    }
    if (std::find(std::begin(iconThemeSizes), std::end(iconThemeSizes), width) ==
        std::end(iconThemeSizes)) {
        std::vector<std::string> sizes;
        for (unsigned size : iconThemeSizes) {
            sizes.push_back(std::to_string(size));
        }
        return "is " + std::to_string(width) + "x" + std::to_string(width) +
               " pixels, a size the icon theme has no place for: give " + joined(sizes, ", ") +
               " pixels square, or an SVG";
    }
    image->svg = false;
    image->size = (unsigned)width;
    return "";
}

// Whether `content` is an SVG image: after an XML declaration, comments
// and a document type, its first element is <svg>, closed further on.
bool isSvg(const std::string &content) {
    size_t at = content.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    for (;;) {
        at = content.find_first_not_of(" \t\r\n", at);
        std::string close = at == std::string::npos                   ? ""
                            : content.compare(at, 2, "<?") == 0        ? "?>"
                            : content.compare(at, 4, "<!--") == 0      ? "-->"
                            : content.compare(at, 9, "<!DOCTYPE") == 0 ? ">"
                                                                       : "";
        if (close.empty()) {
            break;
        }
        size_t bracket = content.find('[', at);
        if (close == ">" && bracket < content.find('>', at)) {
            close = "]>";
            at = bracket;
        }
        size_t end = content.find(close, at + 1);
        at = end == std::string::npos ? end : end + close.size();
    }
    return at != std::string::npos && content.compare(at, 4, "<svg") == 0 &&
           at + 4 < content.size() && content[at + 4] != '\0' &&
           strchr(" \t\r\n>", content[at + 4]) != nullptr &&
           content.find("</svg>", at) != std::string::npos;
}

// Reads `content` as an icon: "" and *image, or why it is no icon (after
// the file's name in a message).
std::string readIcon(const std::string &content, IconImage *image) {
    static const char pngSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    if (content.size() >= 8 && memcmp(content.data(), pngSignature, 8) == 0) {
        return readPng(content, image);
    }
    if (!isSvg(content)) {
        return "is neither a PNG nor an SVG image";
    }
    image->svg = true;
    return "";
}

// Why `type` is no MIME type a file can have, as the message after the
// option; "" when it is one.
std::string mimeTypeProblem(const std::string &type) {
    size_t slash = type.find('/');
    std::string top = type.substr(0, slash);
    std::string sub = slash == std::string::npos ? "" : type.substr(slash + 1);
    bool subtype = !sub.empty() && sub.size() <= 127 && isLowerAlnum(sub[0]) &&
                   std::all_of(sub.begin(), sub.end(), [](char c) {
                       return isLowerAlnum(c) || (c != '\0' && strchr("!#$&^_.+-", c) != nullptr);
                   });
    if (listed(fileMediaTypes, top) && subtype) {
        return "";
    }
    return "is not a MIME type: TYPE/SUBTYPE in lower case, TYPE one of " +
           joined(fileMediaTypes, ", ") + " (e.g. application/x-NAME)";
}

// Why `categories` cannot be a menu entry's; "" when they can.
std::string categoriesProblem(const std::vector<std::string> &categories) {
    std::set<std::string> seen;
    for (const std::string &category : categories) {
        bool own = category.size() > 2 && category.compare(0, 2, "X-") == 0 &&
                   std::all_of(category.begin() + 2, category.end(),
                               [](char c) { return isAlnum(c) || c == '-' || c == '_'; });
        if (listed(reservedCategories, category)) {
            return "--categories: " + category + " is reserved to the desktop's own programs";
        }
        if (!own && !listed(mainCategories, category) && !listed(additionalCategories, category)) {
            return "--categories: \"" + shown(category) + "\" is not a menu category (use the "
                   "desktop's own, or X-NAME for one of yours)";
        }
        if (!seen.insert(category).second) {
            return "--categories names " + category + " twice";
        }
    }
    if (!categories.empty() && !listed(mainCategories, categories.front())) {
        return "--categories \"" + joined(categories, ";") + "\" starts with " +
               categories.front() + ", not a main category: start with one of " +
               joined(mainCategories, ", ");
    }
    for (const char *media : {"Audio", "Video"}) {
        if (seen.count(media) != 0 && seen.count("AudioVideo") == 0) {
            return std::string("--categories: ") + media + " goes with AudioVideo (e.g. "
                   "AudioVideo;" + media + ")";
        }
    }
    return "";
}

// The checks of one launcher's desktop options; "" or the problem.
std::string checkLauncherEntry(const LauncherSpec &launcher) {
    std::string who = "launcher " + launcher.name + ": ";
    if (!launcher.desktop) {
        struct Given {
            bool given;
            const char *option;
        };
        for (Given given : {Given{!launcher.displayName.empty(), "--display-name"},
                            Given{!launcher.comment.empty(), "--comment"},
                            Given{!launcher.categories.empty(), "--categories"},
                            Given{launcher.terminal, "--terminal"},
                            Given{!launcher.mimeTypes.empty(), "--file-type"},
                            Given{!launcher.wmClass.empty(), "--wm-class"}}) {
            if (given.given) {
                return who + given.option + " goes with --desktop-entry: give the launcher "
                       "--desktop-entry too";
            }
        }
        return "";
    }
    struct Text {
        const std::string &text;
        const char *option;
    };
    for (Text given : {Text{launcher.displayName, "--display-name"},
                       Text{launcher.comment, "--comment"}, Text{launcher.wmClass, "--wm-class"}}) {
        if (!isPlainText(given.text, false)) {
            return who + given.option + " must be one line of UTF-8 text without control "
                   "characters";
        }
    }
    std::string problem = categoriesProblem(launcher.categories);
    return problem.empty() ? "" : who + problem;
}

// The checks of the file types; "" or the problem.
std::string checkFileTypes(const PackRequest &request) {
    for (size_t i = 0; i < request.mimeTypes.size(); i++) {
        const MimeTypeSpec &type = request.mimeTypes[i];
        std::string problem = mimeTypeProblem(type.type);
        if (!problem.empty()) {
            return "--file-type \"" + shown(type.type) + "\" " + problem;
        }
        if (type.globs.empty()) {
            return "--file-type " + type.type + " has no glob: give TYPE=*.EXT";
        }
        for (const std::string &glob : type.globs) {
            if (!isPlainText(glob, false) || glob.find('/') != std::string::npos) {
                return "--file-type " + type.type + ": \"" + shown(glob) +
                       "\" is not a glob of file names (e.g. *.ext, without '/' or control "
                       "characters)";
            }
        }
        if (!isPlainText(type.comment, false)) {
            return "--file-type " + type.type + ": its comment must be one line of UTF-8 text";
        }
        for (size_t j = 0; j < i; j++) {
            const MimeTypeSpec &earlier = request.mimeTypes[j];
            if (earlier.type == type.type &&
                (earlier.globs != type.globs || earlier.comment != type.comment)) {
                return "--file-type " + type.type + " is given twice with different globs or "
                       "comments: give it the same way each time";
            }
        }
    }
    return "";
}

// The checks of the icons; "" or the problem.
std::string checkIcons(const PackRequest &request) {
    std::vector<std::string> places;
    for (const std::string &icon : request.icons) {
        std::string content;
        std::string error;
        if (!isRegularFile(icon) || !readFile(icon, &content, &error)) {
            return "--icon " + shown(icon) + " is not a file that can be read";
        }
        IconImage image;
        std::string problem = readIcon(content, &image);
        if (!problem.empty()) {
            return "--icon " + shown(icon) + " " + problem;
        }
        std::string place = image.svg ? "an SVG image"
                                      : std::to_string(image.size) + "x" +
                                            std::to_string(image.size) + " pixels";
        for (size_t i = 0; i < places.size(); i++) {
            if (places[i] == place) {
                return "--icon " + shown(request.icons[i]) + " and " + shown(icon) +
                       " are both " + place + ": give one icon of each size";
            }
        }
        places.push_back(place);
    }
    return "";
}

// What --appstream needs besides the launchers; "" or the problem.
std::string checkAppStream(const PackRequest &request) {
    if (request.summary.empty()) {
        return "--appstream needs --summary, the line a software centre shows";
    }
    if (request.description.find_first_not_of(" \t\n") == std::string::npos) {
        return "--appstream needs --description, the paragraphs a software centre shows";
    }
    struct Text {
        const std::string &text;
        const char *option;
        bool lines;
    };
    for (Text given : {Text{request.summary, "--summary", false},
                       Text{request.description, "--description", true},
                       Text{request.vendor, "--vendor", false}}) {
        if (!isPlainText(given.text, given.lines)) {
            return std::string(given.option) + " must be UTF-8 text without control characters";
        }
    }
    if (!std::all_of(request.license.begin(), request.license.end(),
                     [](char c) {
                         return isAlnum(c) || (c != '\0' && strchr(".+-: ()", c) != nullptr);
                     })) {
        return "--license \"" + shown(request.license) + "\" is not an SPDX licence expression "
               "(e.g. MIT, GPL-3.0-or-later, LicenseRef-proprietary)";
    }
    if (!request.homepage.empty() && urlHost(request.homepage).empty()) {
        return "--homepage \"" + shown(request.homepage) +
               "\" is not an http:// or https:// address";
    }
    return "";
}

// The paragraphs of `text`: separated by blank lines, the words of each
// joined by one space.
std::vector<std::string> paragraphs(const std::string &text) {
    std::vector<std::string> found;
    size_t end = 0;
    for (size_t start = text.find_first_not_of(" \t\n"); start != std::string::npos;
         start = text.find_first_not_of(" \t\n", end)) {
        bool blankLine =
            std::count(text.begin() + (long)end, text.begin() + (long)start, '\n') >= 2;
        end = std::min(text.find_first_of(" \t\n", start), text.size());
        std::string word = text.substr(start, end - start);
        if (found.empty() || blankLine) {
            found.push_back(word);
        } else {
            found.back() += " " + word;
        }
    }
    return found;
}

// The types `launcher` opens, each once, in the order given.
std::vector<std::string> openedTypes(const LauncherSpec &launcher) {
    std::vector<std::string> types;
    for (const std::string &type : launcher.mimeTypes) {
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.push_back(type);
        }
    }
    return types;
}

// The name `launcher`'s entry shows.
std::string entryName(const LauncherSpec &launcher) {
    return launcher.displayName.empty() ? launcher.name : launcher.displayName;
}

// The text of `launcher`'s desktop entry, its program in `programDir`.
std::string desktopEntry(const PackRequest &request, const LauncherSpec &launcher,
                         const std::string &programDir, const std::string &id) {
    std::string name = entryName(launcher);
    std::string comment = launcher.comment.empty() ? request.summary : launcher.comment;
    std::string program = programDir + "/" + launcher.name;
    std::vector<std::string> types = openedTypes(launcher);
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + desktopValue(name) + "\n";
    if (!comment.empty() && strcasecmp(comment.c_str(), name.c_str()) != 0) {
        text += "Comment=" + desktopValue(comment) + "\n";
    }
    text += "TryExec=" + desktopValue(program) + "\n";
    text += "Exec=" + desktopValue(execArgument(program)) + (types.empty() ? "" : " %F") + "\n";
    if (!request.icons.empty()) {
        text += "Icon=" + id + "\n";
    }
    text += std::string("Terminal=") + (launcher.terminal ? "true" : "false") + "\n";
    text += "Categories=" +
            (launcher.categories.empty() ? std::string(defaultCategory)
                                         : joined(launcher.categories, ";")) +
            ";\n";
    if (!types.empty()) {
        text += "MimeType=" + joined(types, ";") + ";\n";
    }
    if (!launcher.wmClass.empty()) {
        text += "StartupWMClass=" + desktopValue(launcher.wmClass) + "\n";
    }
    return text;
}

// The shared-mime-info definition of every file type, each once; a type
// without a comment gets "<entry name> file", from the first launcher
// that opens it.
std::string mimeInfo(const PackRequest &request) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    std::set<std::string> written;
    for (const MimeTypeSpec &type : request.mimeTypes) {
        if (!written.insert(type.type).second) {
            continue;
        }
        std::string comment = type.comment;
        for (const LauncherSpec &launcher : request.launchers) {
            if (comment.empty() && std::find(launcher.mimeTypes.begin(), launcher.mimeTypes.end(),
                                             type.type) != launcher.mimeTypes.end()) {
                comment = entryName(launcher) + " file";
            }
        }
        text += "  <mime-type type=\"" + xmlEscaped(type.type) + "\">\n";
        text += "    <comment>" + xmlEscaped(comment) + "</comment>\n";
        for (const std::string &glob : type.globs) {
            text += "    <glob pattern=\"" + xmlEscaped(glob) + "\"/>\n";
        }
        text += "  </mime-type>\n";
    }
    return text + "</mime-info>\n";
}

// The day of `epoch` in UTC, YYYY-MM-DD.
std::string isoDate(int64_t epoch) {
    time_t seconds = (time_t)epoch;
    struct tm day {};
    char text[32] = "1970-01-01";
    if (gmtime_r(&seconds, &day) != nullptr) {
        (void)strftime(text, sizeof text, "%Y-%m-%d", &day);
    }
    return text;
}

// The AppStream metadata of the application.
std::string metainfo(const PackRequest &request, const std::string &id) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<component type=\"desktop-application\">\n";
    text += "  <id>" + xmlEscaped(id) + "</id>\n";
    text += "  <metadata_license>CC0-1.0</metadata_license>\n";
    if (!request.license.empty()) {
        text += "  <project_license>" + xmlEscaped(request.license) + "</project_license>\n";
    }
    text += "  <name>" + xmlEscaped(entryName(request.launchers.front())) + "</name>\n";
    text += "  <summary>" + xmlEscaped(request.summary) + "</summary>\n";
    text += "  <description>\n";
    for (const std::string &paragraph : paragraphs(request.description)) {
        text += "    <p>" + xmlEscaped(paragraph) + "</p>\n";
    }
    text += "  </description>\n";
    if (!request.vendor.empty()) {
        text += "  <developer_name>" + xmlEscaped(request.vendor) + "</developer_name>\n";
    }
    if (!request.homepage.empty()) {
        text += "  <url type=\"homepage\">" + xmlEscaped(request.homepage) + "</url>\n";
    }
    for (const LauncherSpec &launcher : request.launchers) {
        if (launcher.desktop) {
            text += "  <launchable type=\"desktop-id\">" +
                    xmlEscaped(entryFileName(request, launcher, id)) + "</launchable>\n";
        }
    }
    std::set<std::string> written;
    std::string provides;
    for (const MimeTypeSpec &type : request.mimeTypes) {
        if (written.insert(type.type).second) {
            provides += "    <mediatype>" + xmlEscaped(type.type) + "</mediatype>\n";
        }
    }
    if (!provides.empty()) {
        text += "  <provides>\n" + provides + "  </provides>\n";
    }
    text += "  <releases>\n";
    text += "    <release version=\"" + xmlEscaped(request.version) + "\" date=\"" +
            isoDate(request.sourceDateEpoch) + "\"/>\n";
    text += "  </releases>\n";
    text += "  <content_rating type=\"oars-1.1\"/>\n";
    return text + "</component>\n";
}

// Writes each icon at its place under `shareDir`/icons/hicolor.
bool writeIcons(const PackRequest &request, const std::string &shareDir, const std::string &id,
                std::string *error) {
    for (const std::string &icon : request.icons) {
        std::string content;
        if (!readFile(icon, &content, error)) {
            return false;
        }
        IconImage image;
        std::string problem = readIcon(content, &image);
        if (!problem.empty()) {
            *error = "--icon " + icon + " " + problem;
            return false;
        }
        std::string size = std::to_string(image.size);
        std::string dir = shareDir + "/icons/hicolor/" +
                          (image.svg ? std::string("scalable") : size + "x" + size) + "/apps";
        if (!makeDirectories(dir, error) ||
            !writeFile(dir + "/" + id + (image.svg ? ".svg" : ".png"), content, 0644, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool wantsDesktopFiles(const PackRequest &request) {
    return std::any_of(request.launchers.begin(), request.launchers.end(),
                       [](const LauncherSpec &launcher) { return launcher.desktop; });
}

std::string applicationId(const PackRequest &request) {
    return !request.appId.empty() ? request.appId : idFromHomepage(request.homepage, request.name);
}

std::string checkDesktopRequest(const PackRequest &request) {
    for (const LauncherSpec &launcher : request.launchers) {
        std::string problem = checkLauncherEntry(launcher);
        if (!problem.empty()) {
            return problem;
        }
    }
    if (!wantsDesktopFiles(request)) {
        if (!request.icons.empty()) {
            return "--icon goes with --desktop-entry: the icon is the menu entry's";
        }
        if (request.appstream) {
            return "--appstream describes an application of the menu: give a launcher "
                   "--desktop-entry";
        }
        return request.appId.empty() ? ""
                                     : "--app-id goes with --desktop-entry: it names the "
                                       "desktop files";
    }
    if (!request.appId.empty() && !isReverseDnsId(request.appId)) {
        return "--app-id \"" + shown(request.appId) + "\" is not a reverse-DNS id: three or more "
               "parts separated by '.', each of letters, digits, '_' and '-', not starting "
               "with a digit (e.g. org.example." + idElement(request.name) + ")";
    }
    std::string id = applicationId(request);
    if (id.empty()) {
        return std::string(request.homepage.empty() ? "a desktop entry needs an id"
                                                    : "--homepage's host is no domain name to "
                                                      "make an id from") +
               ": give --app-id, a domain of yours reversed and the application (e.g. "
               "org.example." + idElement(request.name) + ")";
    }
    std::set<std::string> entries;
    for (const LauncherSpec &launcher : request.launchers) {
        if (launcher.desktop && !entries.insert(entryFileName(request, launcher, id)).second) {
            return "--launcher " + launcher.name + "'s desktop entry would have the name of "
                   "another's, " + entryFileName(request, launcher, id) + ": rename one";
        }
    }
    if (!isPlainText(request.installPrefix, false)) {
        return "--prefix must be one line of UTF-8 text: the menu entries name the programs "
               "in it";
    }
    if (!isPlainText(request.summary, false)) {
        return "--summary must be one line of UTF-8 text: it is the menu entries' comment";
    }
    std::string problem = checkFileTypes(request);
    if (problem.empty()) {
        problem = checkIcons(request);
    }
    if (problem.empty() && request.appstream) {
        problem = checkAppStream(request);
    }
    return problem;
}

bool writeDesktopFiles(const PackRequest &request, const std::string &shareDir,
                       const std::string &programDir, std::string *error) {
    if (!wantsDesktopFiles(request)) {
        return true;
    }
    std::string id = applicationId(request);
    if (id.empty()) {
        *error = "the desktop files have no id: give --app-id";
        return false;
    }
    std::string applications = shareDir + "/applications";
    if (!makeDirectories(applications, error)) {
        return false;
    }
    for (const LauncherSpec &launcher : request.launchers) {
        if (launcher.desktop &&
            !writeFile(applications + "/" + entryFileName(request, launcher, id),
                       desktopEntry(request, launcher, programDir, id), 0644, error)) {
            return false;
        }
    }
    if (!writeIcons(request, shareDir, id, error)) {
        return false;
    }
    std::string mime = shareDir + "/mime/packages";
    if (!request.mimeTypes.empty() &&
        !(makeDirectories(mime, error) &&
          writeFile(mime + "/" + id + ".xml", mimeInfo(request), 0644, error))) {
        return false;
    }
    std::string meta = shareDir + "/metainfo";
    return !request.appstream ||
           (makeDirectories(meta, error) &&
            writeFile(meta + "/" + id + ".metainfo.xml", metainfo(request, id), 0644, error));
}
