// A report as plain lines for a person, or as one JSON document for tools.
#ifndef DOCTOR_REPORT_OUTPUT_H
#define DOCTOR_REPORT_OUTPUT_H

#include <stdio.h>

#include <string>

#include "steps.h"

// Prints "N. <name>: <result>" per step, its detail lines indented, the
// hint of a failed step on a line of its own starting "hint: ", then the
// line "verdict: ...". Control characters are shown as \xNN.
void printText(const Report &report, FILE *out);

// Prints {"subject", "ok", "verdict", "steps": [{"number", "name", "ok",
// "result", "detail", "hint"}]}, hint null for a passed step.
void printJson(const Report &report, FILE *out);

// `text` as a JSON string with its quotes: quotes, backslashes and control
// characters escaped, and each byte that is not part of a valid UTF-8
// sequence replaced by U+FFFD (written \ufffd).
std::string jsonString(const std::string &text);

#endif
