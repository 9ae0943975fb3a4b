#include "report_output.h"

namespace {

// `text` with control characters written as \xNN.
std::string printable(const std::string &text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            (void)snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        } else {
            shown += (char)c;
        }
    }
    return shown;
}

// The length of the valid UTF-8 sequence at text[at], 0 when there is none
// (a stray continuation byte, an overlong form, a surrogate, a code point
// past U+10FFFF, a sequence cut short).
size_t utf8Length(const std::string &text, size_t at) {
    unsigned char lead = (unsigned char)text[at];
    size_t length = lead < 0x80 ? 1 : lead >= 0xc2 && lead <= 0xdf ? 2
                                  : lead >= 0xe0 && lead <= 0xef   ? 3
                                  : lead >= 0xf0 && lead <= 0xf4   ? 4
                                                                   : 0;
    if (length == 0 || text.size() - at < length) {
        return 0;
    }
    for (size_t i = 1; i < length; i++) {
        if (((unsigned char)text[at + i] & 0xc0) != 0x80) {
            return 0;
        }
    }
    unsigned char second = (unsigned char)text[at + 1];
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f) ||
        (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second > 0x8f)) {
        return 0;
    }
    return length;
}

// Prints `lines` as a JSON array of strings.
void printLines(const std::vector<std::string> &lines, FILE *out) {
    (void)fputc('[', out);
    for (size_t i = 0; i < lines.size(); i++) {
        (void)fprintf(out, "%s%s", i == 0 ? "" : ", ", jsonString(lines[i]).c_str());
    }
    (void)fputc(']', out);
}

}  // namespace

std::string jsonString(const std::string &text) {
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        unsigned char c = (unsigned char)text[at];
        size_t length = utf8Length(text, at);
        if (length == 0) {
            json += "\\ufffd";
            at++;
            continue;
        }
        if (c == '"' || c == '\\') {
            json += '\\';
            json += (char)c;
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            (void)snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json.append(text, at, length);
        }
        at += length;
    }
    return json + "\"";
}

void printText(const Report &report, FILE *out) {
    for (size_t i = 0; i < report.steps.size(); i++) {
        const Step &step = report.steps[i];
        (void)fprintf(out, "%zu. %s: %s\n", i + 1, printable(step.name).c_str(),
                printable(step.result).c_str());
        for (const std::string &line : step.detail) {
            (void)fprintf(out, "     %s\n", printable(line).c_str());
        }
        if (!step.ok) {
            (void)fprintf(out, "hint: %s\n", printable(step.hint).c_str());
        }
    }
    (void)fprintf(out, "verdict: %s\n", printable(verdictText(report)).c_str());
}

void printJson(const Report &report, FILE *out) {
    (void)fprintf(out, "{\n  \"subject\": %s,\n  \"ok\": %s,\n  \"verdict\": %s,\n  \"steps\": [",
            jsonString(report.subject).c_str(), reportPasses(report) ? "true" : "false",
            jsonString(verdictText(report)).c_str());
    for (size_t i = 0; i < report.steps.size(); i++) {
        const Step &step = report.steps[i];
        (void)fprintf(out, "%s\n    {\"number\": %zu, \"name\": %s, \"ok\": %s, \"result\": %s,\n",
                i == 0 ? "" : ",", i + 1, jsonString(step.name).c_str(),
                step.ok ? "true" : "false", jsonString(step.result).c_str());
        (void)fputs("     \"detail\": ", out);
        printLines(step.detail, out);
        (void)fprintf(out, ",\n     \"hint\": %s}",
                step.ok ? "null" : jsonString(step.hint).c_str());
    }
    (void)fputs("\n  ]\n}\n", out);
}
