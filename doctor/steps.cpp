#include "steps.h"

#include <algorithm>

Step &passStep(Report &report, const std::string &name, const std::string &result) {
    report.steps.push_back(Step{name, true, result, {}, ""});
    return report.steps.back();
}

Step &failStep(Report &report, const std::string &name, const std::string &result,
               const std::string &hint) {
    report.steps.push_back(Step{name, false, result, {}, hint});
    return report.steps.back();
}

void addDetail(Step &step, const std::vector<std::string> &lines, const std::string &prefix) {
    for (const std::string &line : lines) {
        step.detail.push_back(prefix + line);
    }
}

bool reportPasses(const Report &report) {
    return !report.steps.empty() && std::all_of(report.steps.begin(), report.steps.end(),
                                                [](const Step &step) { return step.ok; });
}

std::string verdictText(const Report &report) {
    auto failed = std::find_if(report.steps.begin(), report.steps.end(),
                               [](const Step &step) { return !step.ok; });
    if (failed != report.steps.end()) {
        return report.subject + " " + report.verdictWhenFailed + ": " + failed->name + ": " +
               failed->result;
    }
    return report.subject + " " + report.verdictWhenOk;
}
