#include "options.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>

const char packUsage[] =
    "usage: applauncher-pack --name NAME --app-version VERSION --input DIR\n"
    "                        (--main-jar JAR | --main-class CLASS | --entry-point MOD:FUNC |\n"
    "                         --module MODULE | --script FILE) [OPTION...]\n"
    "\n"
    "Turns a Java or Python application into a relocatable tree and .tar.gz\n"
    "(app-image), a .deb or an .rpm, whose bin/NAME is the applauncher launcher.\n"
    "\n"
    "What to make:\n"
    "  --type TYPE             app-image, deb or rpm; repeat or separate with commas\n"
    "                          (default: app-image)\n"
    "  --dest DIR              where the outputs go (default: the working directory)\n"
    "  --prefix DIR            where deb and rpm install the tree, and where the\n"
    "                          app-image's menu entries expect it\n"
    "                          (default: /opt/NAME)\n"
    "  --source-date-epoch N   every time stamp in the outputs (default:\n"
    "                          SOURCE_DATE_EPOCH, else 0)\n"
    "\n"
    "The application:\n"
    "  --name NAME             package and program name: lower-case letters, digits,\n"
    "                          '.', '+', '-'\n"
    "  --app-version VERSION   e.g. 1.2.3\n"
    "  --release N             the package's own revision (default: 1)\n"
    "  --summary LINE          one line saying what it is\n"
    "  --description TEXT      what it does, in sentences\n"
    "  --maintainer 'NAME <EMAIL>'   who answers for the package\n"
    "  --vendor NAME           who makes it (default: the maintainer's name)\n"
    "  --license ID            its licence, an SPDX identifier (e.g. MIT, GPL-3.0-or-later)\n"
    "  --license-file FILE     the licence's full text\n"
    "  --homepage URL          where it lives\n"
    "  --input DIR             the application's files, shipped as share/NAME/\n"
    "\n"
    "How it starts (for the main launcher, or the one --launcher named last):\n"
    "  --main-jar JAR          Java: a jar in DIR whose manifest names the main class\n"
    "  --main-class CLASS      Java: the main class, with --class-path\n"
    "  --class-path JARS       Java: jars in DIR, separated by ':'\n"
    "  --java-option OPTION    Java: a VM option (repeatable)\n"
    "  --entry-point MOD:FUNC  Python: a function, as a console script calls it\n"
    "  --module MODULE         Python: a module run as python3 -m runs it\n"
    "  --script FILE           Python: a script in DIR\n"
    "  --python-option OPTION  Python: an interpreter option (repeatable)\n"
    "  --argument ARG          an argument before the command line's own (repeatable)\n"
    "  --env NAME=VALUE        a variable set before it starts (repeatable)\n"
    "  --launcher NAME         one more program, bin/NAME; the options above that\n"
    "                          follow describe it\n"
    "\n"
    "The runtime:\n"
    "  --java-versions MIN[-MAX]   the Java versions it runs on (e.g. 17 or 11-21)\n"
    "  --java-runtime KIND     system (default: the package depends on the\n"
    "                          distribution's Java) or bundled (a runtime image of\n"
    "                          its own, made with jlink)\n"
    "  --java-modules LIST     bundled: the modules it needs, separated by commas\n"
    "                          (default: what jdeps finds)\n"
    "  --python-wheels DIR     Python: wheels installed into a private virtual\n"
    "                          environment inside the tree\n"
    "  --module-path DIR       Python: where --entry-point's and --module's code is,\n"
    "                          relative to the tree (default: share/NAME, where\n"
    "                          --input's files go)\n"
    "\n"
    "What else it needs (repeatable; relations separated by commas):\n"
    "  --depends LIST          deb: packages added to Depends, each NAME,\n"
    "                          NAME (OP VERSION) with OP one of << <= = >= >>, or\n"
    "                          such alternatives joined by '|'\n"
    "                          (e.g. 'python3-yaml, python3-pathspec (>= 0.9)')\n"
    "  --requires LIST         rpm: packages added to Requires, each NAME or\n"
    "                          NAME OP VERSION with OP one of < <= = >= >\n"
    "\n"
    "On the desktop (the menu entry's options are the launcher's, like --main-jar):\n"
    "  --desktop-entry         the launcher gets a menu entry, named by the id:\n"
    "                          ID.desktop for NAME, ID.LAUNCHER.desktop for another\n"
    "                          (its '-', '+' and '.' as '_')\n"
    "  --display-name TEXT     the menu entry's name (default: the launcher's name);\n"
    "                          NAME's is the software centre's too\n"
    "  --comment TEXT          the menu entry's tooltip (default: the summary)\n"
    "  --categories LIST       its menu categories, separated by ';', the first a\n"
    "                          main one (e.g. Development;IDE; default: Utility)\n"
    "  --terminal              it runs in a terminal\n"
    "  --file-type 'TYPE=GLOB[,GLOB...][:COMMENT]'\n"
    "                          a file type it opens (repeatable), e.g.\n"
    "                          'application/x-notes=*.notes:Notes file'; the entry\n"
    "                          then passes the files it is given as arguments\n"
    "  --wm-class CLASS        the class its windows carry, which matches them to\n"
    "                          the entry\n"
    "  --icon FILE             a square PNG of 16, 22, 24, 32, 36, 48, 64, 72, 96,\n"
    "                          128, 192, 256 or 512 pixels, or an SVG (repeatable,\n"
    "                          one of each size)\n"
    "  --app-id ID             the reverse-DNS id of the desktop files, e.g.\n"
    "                          org.example.NAME (default: from --homepage's host\n"
    "                          and NAME; one of the two is needed)\n"
    "  --appstream             AppStream metadata for software centres, from\n"
    "                          --summary, --description (paragraphs separated by a\n"
    "                          blank line), --license, --vendor and --homepage; the\n"
    "                          metadata is under CC0-1.0, its content rating (OARS)\n"
    "                          declares none of what OARS rates, and the release is\n"
    "                          dated SOURCE_DATE_EPOCH's day\n"
    "\n"
    "The desktop files lie in the tree's share/ (and the packages' /usr/share).\n"
    "Their Exec= names PREFIX/bin/LAUNCHER: the app-image's entries work once the\n"
    "tree is at --prefix (e.g. mv NAME-VERSION /opt/NAME); TryExec= hides them\n"
    "from the menu until then.\n"
    "\n"
    "For CMake (applauncher_add_application() runs these; no --input needed):\n"
    "  --cmake-parts DIR       write, instead of packages, the launchers'\n"
    "                          configurations (DIR/lib), the desktop files\n"
    "                          (DIR/share) and DIR/application.cmake, which sets\n"
    "                          the dependencies the Java versions add; a launcher's\n"
    "                          main may then be its arguments alone\n"
    "  --runtime KIND          with --cmake-parts: python, jvm, or the file name of\n"
    "                          another runtime library\n"
    "  --compile-python DIR    byte-compile the Python files under DIR (repeatable),\n"
    "                          a directory of the installed tree --tree, recording\n"
    "                          their paths under --prefix\n"
    "  --tree DIR              the installed tree --compile-python works in\n"
    "  --options-file FILE     more options, one word a line, read in its place;\n"
    "                          in a word, \\n stands for a line break and \\\\ for\n"
    "                          a backslash\n"
    "\n"
    "  --help                  this text\n"
    "\n"
    "Exit status: 0 every output was made, 1 an input is wrong or a tool failed\n"
    "(no output is then left behind, and earlier outputs stay as they were),\n"
    "2 usage error.\n";

namespace {

// What an option does with its value ("" for a flag) to the request and
// the launcher that the options describe now. Returns "" or an error.
using OptionAction =
    std::function<std::string(PackRequest &, LauncherSpec &, const std::string &)>;

struct OptionSpec {
    const char *name;
    bool takesValue;
    OptionAction action;
};

// Stores `value` in `field` unless it was given already.
std::string setOnce(std::string &field, const std::string &value, const char *option) {
    if (!field.empty()) {
        return std::string(option) + " is given twice";
    }
    if (value.empty()) {
        return std::string(option) + " needs a value that is not empty";
    }
    field = value;
    return "";
}

// Adds each relation of the comma-separated `value` to `relations`, its
// surrounding blanks trimmed (checkRequest judges their form). An error
// when `value` holds none.
std::string addRelations(std::vector<std::string> &relations, const std::string &value,
                         const char *option) {
    size_t before = relations.size();
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = std::min(value.find(',', start), value.size());
        std::string entry = value.substr(start, end - start);
        size_t first = entry.find_first_not_of(" \t\n");
        if (first != std::string::npos) {
            relations.push_back(entry.substr(first, entry.find_last_not_of(" \t\n") - first + 1));
        }
        start = end + 1;
    }
    return relations.size() > before ? "" : std::string(option) + " needs at least one package";
}

// Reads "TYPE=GLOB[,GLOB...][:COMMENT]".
std::string addFileType(PackRequest &request, LauncherSpec &launcher, const std::string &value) {
    size_t equals = value.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
        return "--file-type \"" + value + "\" is not TYPE=GLOB[,GLOB...][:COMMENT]";
    }
    MimeTypeSpec type;
    type.type = value.substr(0, equals);
    std::string rest = value.substr(equals + 1);
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        type.comment = rest.substr(colon + 1);
        rest.resize(colon);
    }
    appendSplit(type.globs, rest, ',');
    launcher.mimeTypes.push_back(type.type);
    request.mimeTypes.push_back(type);
    return "";
}

// Every option, in the order --help names them.
const std::vector<OptionSpec> &optionTable() {
    static const std::vector<OptionSpec> table = {
        {"--type", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             appendSplit(r.types, v, ',');
             return std::string();
         }},
        {"--dest", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.destination, v, "--dest");
         }},
        {"--prefix", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.installPrefix, v, "--prefix");
         }},
        {"--source-date-epoch", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             char *end = nullptr;
             long long epoch = strtoll(v.c_str(), &end, 10);
             if (v.empty() || *end != '\0' || epoch < 0) {
                 return "--source-date-epoch needs seconds since 1970, not \"" + v + "\"";
             }
             r.sourceDateEpoch = epoch;
             return std::string();
         }},
        {"--name", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.name, v, "--name");
         }},
        {"--app-version", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.version, v, "--app-version");
         }},
        {"--release", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             r.release = v;
             return std::string();
         }},
        {"--summary", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.summary, v, "--summary");
         }},
        {"--description", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.description, v, "--description");
         }},
        {"--maintainer", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.maintainer, v, "--maintainer");
         }},
        {"--vendor", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.vendor, v, "--vendor");
         }},
        {"--license", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.license, v, "--license");
         }},
        {"--license-file", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.licenseFile, v, "--license-file");
         }},
        {"--homepage", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.homepage, v, "--homepage");
         }},
        {"--input", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.input, v, "--input");
         }},
        {"--main-jar", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.mainJar, v, "--main-jar");
         }},
        {"--main-class", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.mainClass, v, "--main-class");
         }},
        {"--class-path", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             appendSplit(l.classPath, v, ':');
             return std::string();
         }},
        {"--java-option", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             l.javaOptions.push_back(v);
             return std::string();
         }},
        {"--entry-point", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.entryPoint, v, "--entry-point");
         }},
        {"--module", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.module, v, "--module");
         }},
        {"--script", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.script, v, "--script");
         }},
        {"--python-option", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             l.pythonOptions.push_back(v);
             return std::string();
         }},
        {"--argument", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             l.arguments.push_back(v);
             return std::string();
         }},
        {"--env", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             l.environment.push_back(v);
             return std::string();
         }},
        {"--java-versions", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.javaVersions, v, "--java-versions");
         }},
        {"--java-runtime", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             if (v != "system" && v != "bundled") {
                 return "--java-runtime is system or bundled, not \"" + v + "\"";
             }
             r.javaRuntime = v == "bundled" ? JavaRuntime::bundled : JavaRuntime::system;
             return std::string();
         }},
        {"--java-modules", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             appendSplit(r.javaModules, v, ',');
             return std::string();
         }},
        {"--python-wheels", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.pythonWheels, v, "--python-wheels");
         }},
        {"--module-path", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.modulePath, v, "--module-path");
         }},
        {"--depends", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return addRelations(r.debDepends, v, "--depends");
         }},
        {"--requires", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return addRelations(r.rpmRequires, v, "--requires");
         }},
        {"--desktop-entry", false,
         [](PackRequest &, LauncherSpec &l, const std::string &) {
             l.desktop = true;
             return std::string();
         }},
        {"--display-name", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.displayName, v, "--display-name");
         }},
        {"--comment", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.comment, v, "--comment");
         }},
        {"--categories", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             appendSplit(l.categories, v, ';');
             return std::string();
         }},
        {"--terminal", false,
         [](PackRequest &, LauncherSpec &l, const std::string &) {
             l.terminal = true;
             return std::string();
         }},
        {"--file-type", true, addFileType},
        {"--wm-class", true,
         [](PackRequest &, LauncherSpec &l, const std::string &v) {
             return setOnce(l.wmClass, v, "--wm-class");
         }},
        {"--icon", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             r.icons.push_back(v);
             return std::string();
         }},
        {"--app-id", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.appId, v, "--app-id");
         }},
        {"--appstream", false,
         [](PackRequest &r, LauncherSpec &, const std::string &) {
             r.appstream = true;
             return std::string();
         }},
        {"--cmake-parts", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.cmakeParts, v, "--cmake-parts");
         }},
        {"--runtime", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             if (r.runtime != RuntimeKind::unknown || !r.runtimeLibrary.empty()) {
                 return std::string("--runtime is given twice");
             }
             if (v == "python" || v == "jvm") {
                 r.runtime = v == "jvm" ? RuntimeKind::java : RuntimeKind::python;
                 return std::string();
             }
             return setOnce(r.runtimeLibrary, v, "--runtime");
         }},
        {"--compile-python", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             r.compilePython.push_back(v);
             return std::string();
         }},
        {"--tree", true,
         [](PackRequest &r, LauncherSpec &, const std::string &v) {
             return setOnce(r.compileRoot, v, "--tree");
         }},
    };
    return table;
}

// The option named `word` ("--name" or "--name=value": *inline gets the
// value), or null.
const OptionSpec *findOption(const std::string &word, std::string *inlineValue,
                             bool *hasInline) {
    size_t equals = word.find('=');
    std::string name = word.substr(0, equals);
    *hasInline = equals != std::string::npos;
    *inlineValue = *hasInline ? word.substr(equals + 1) : "";
    for (const OptionSpec &option : optionTable()) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// A line of an options file as the word it stands for: "\\n" a line
// break, "\\\\" a backslash. False when another backslash sequence is there.
bool unescapeWord(const std::string &line, std::string *word) {
    word->clear();
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] != '\\') {
            *word += line[i];
        } else if (i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == '\\')) {
            *word += line[++i] == 'n' ? '\n' : '\\';
        } else {
            return false;
        }
    }
    return true;
}

// The words of the command line, each --options-file FILE replaced by the
// words FILE holds. "" or the error.
std::string commandWords(int argc, char **argv, std::vector<std::string> *words) {
    for (int i = 1; i < argc; i++) {
        std::string word = argv[i];
        std::string file;
        if (word == "--options-file") {
            if (i + 1 >= argc) {
                return "--options-file needs a value";
            }
            file = argv[++i];
        } else if (word.compare(0, 15, "--options-file=") == 0) {
            file = word.substr(15);
        } else {
            words->push_back(word);
            continue;
        }
        FILE *in = fopen(file.c_str(), "r");
        if (in == nullptr) {
            return "--options-file " + file + " cannot be read: " + strerror(errno);
        }
        std::string text;
        char buffer[4096];
        size_t got = 0;
        while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) {
            text.append(buffer, got);
        }
        bool failed = ferror(in) != 0;
        (void)fclose(in);
        if (failed) {
            return "--options-file " + file + " cannot be read";
        }
        size_t start = 0;
        int number = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end;
            number++;
            std::string unescaped;
            if (!unescapeWord(text.substr(start, end - start), &unescaped)) {
                return "--options-file " + file + ":" + std::to_string(number) +
                       ": a backslash other than \\n or \\\\";
            }
            if (unescaped == "--options-file" || unescaped.compare(0, 15, "--options-file=") == 0) {
                return "--options-file " + file + ":" + std::to_string(number) +
                       ": an options file names no other";
            }
            words->push_back(unescaped);
            start = end + 1;
        }
    }
    return "";
}

}  // namespace

void appendSplit(std::vector<std::string> &out, const std::string &text, char separator) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            out.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
}

CommandLine parseCommandLine(int argc, char **argv) {
    CommandLine line;
    PackRequest &request = line.request;
    request.launchers.emplace_back();
    const char *epoch = getenv("SOURCE_DATE_EPOCH");
    if (epoch != nullptr && *epoch != '\0') {
        char *end = nullptr;
        long long value = strtoll(epoch, &end, 10);
        if (*end != '\0' || value < 0) {
            line.error = std::string("SOURCE_DATE_EPOCH is not seconds since 1970: \"") + epoch +
                         "\"";
            return line;
        }
        request.sourceDateEpoch = value;
    }
    std::vector<std::string> words;
    line.error = commandWords(argc, argv, &words);
    if (!line.error.empty()) {
        return line;
    }
    size_t count = words.size();
    for (size_t i = 0; i < count; i++) {
        const std::string &word = words[i];
        if (word == "--help") {
            line.help = true;
            return line;
        }
        if (word == "--launcher" || word.compare(0, 11, "--launcher=") == 0) {
            std::string name = word.size() > 10 ? word.substr(11) : "";
            if (word == "--launcher") {
                if (i + 1 >= count) {
                    line.error = "--launcher needs a name";
                    return line;
                }
                name = words[++i];
            }
            request.launchers.emplace_back();
            request.launchers.back().name = name;
            continue;
        }
        std::string value;
        bool hasInline = false;
        const OptionSpec *option = findOption(word, &value, &hasInline);
        if (option == nullptr) {
            line.error = word.compare(0, 2, "--") == 0 ? "unknown option " + word
                                                      : "unexpected argument \"" + word +
                                                            "\" (every input is given by an option)";
            return line;
        }
        if (option->takesValue && !hasInline) {
            if (i + 1 >= count) {
                line.error = std::string(option->name) + " needs a value";
                return line;
            }
            value = words[++i];
        } else if (!option->takesValue && hasInline) {
            line.error = std::string(option->name) + " takes no value";
            return line;
        }
        line.error = option->action(request, request.launchers.back(), value);
        if (!line.error.empty()) {
            return line;
        }
    }
    request.launchers.front().name = request.name;
    if (request.types.empty()) {
        request.types.push_back("app-image");
    }
    std::vector<std::string> types;
    for (const std::string &type : request.types) {
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.push_back(type);
        }
    }
    request.types = types;
    if (request.destination.empty()) {
        request.destination = ".";
    }
    return line;
}
