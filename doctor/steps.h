// The steps a diagnosis is told in, and the report that holds them.
#ifndef DOCTOR_STEPS_H
#define DOCTOR_STEPS_H

#include <string>
#include <vector>

// One numbered step: what was looked at, what was found, the lines that
// back it up and, when it failed, what to change.
struct Step {
    std::string name;
    bool ok = true;
    std::string result;
    std::vector<std::string> detail;
    std::string hint;
};

// The steps of one diagnosis, in order. `subject` names what is checked
// (the application, or the library), `verdictWhenOk` and
// `verdictWhenFailed` complete the verdict line after it.
struct Report {
    std::string subject;
    std::string verdictWhenOk;
    std::string verdictWhenFailed;
    std::vector<Step> steps;
};

// Appends a passed step and returns it, for detail lines to be added.
Step &passStep(Report &report, const std::string &name, const std::string &result);

// Appends a failed step with its hint and returns it.
Step &failStep(Report &report, const std::string &name, const std::string &result,
               const std::string &hint);

// Appends each of `lines` to the step's detail, after `prefix`.
void addDetail(Step &step, const std::vector<std::string> &lines, const std::string &prefix);

// Whether every step passed.
bool reportPasses(const Report &report);

// "<subject> <verdictWhenOk>", or "<subject> <verdictWhenFailed>: <name>:
// <result>" of the first failed step.
std::string verdictText(const Report &report);

#endif
