#pragma once

// The table of page-level cases that every front end must answer alike, with
// the differences the front ends are meant to have, each with its reason.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "front_end.h"
#include "page.h"

namespace orva::conformance {

// How one front end answers a step otherwise; without a check the front end
// has no such command and skips the step.
struct Difference {
    FrontEndKind frontEnd;
    Check expect;
    std::string_view why;
};

// A page's call, or (with a shell command instead) what the bank or the
// person at the key does meanwhile; the check sees the call's answer or the
// command's output.
struct Step {
    PageCall call;
    std::string shell;
    Check expect;
    std::vector<Difference> differences;
};

struct Case {
    std::string name;
    std::vector<Step> steps;
    // Set before the front end starts; texts expanded.
    std::map<std::string, std::string> environment = {};
};

const std::vector<Case>& conformanceCases();

}  // namespace orva::conformance
