// Every case of the table through every front end, each run with its own
// folder, registry and software key.

#include <gtest/gtest.h>

#include "conformance.h"

namespace orva::conformance {
namespace {

struct Run {
    FrontEndKind frontEnd;
    std::size_t index;
};

void PrintTo(const Run& run, std::ostream* out) {
    *out << conformanceCases()[run.index].name << " through the " << nameOf(run.frontEnd);
}

class ConformanceTest : public ::testing::TestWithParam<Run> {};

TEST_P(ConformanceTest, AnswersAsTheTableSays) {
    const Case& road = conformanceCases()[GetParam().index];
    Page page(GetParam().frontEnd);
    for (const auto& [name, value] : road.environment) {
        page.setEnv(name, value);
    }
    for (const Step& step : road.steps) {
        // A call step needs a check; only a front end's difference may leave
        // one out, for a command that front end does not have.
        ASSERT_TRUE(step.expect || !step.shell.empty()) << step.call.command << " checks nothing";
        Check expect = step.expect;
        for (const Difference& difference : step.differences) {
            expect = difference.frontEnd == page.kind() ? difference.expect : expect;
        }
        SCOPED_TRACE(step.shell.empty() ? step.call.command : step.shell);
        if (!step.shell.empty()) {
            const std::string output = page.run(page.expand(step.shell));
            expect = expect ? expect : [](Page&, const std::string&) {};
            expect(page, output);
        } else if (expect) {
            expect(page, page.call(step.call));
        }
        if (HasFailure()) {
            return;
        }
    }
}

std::vector<Run> allRuns() {
    std::vector<Run> runs;
    for (std::size_t i = 0; i < conformanceCases().size(); ++i) {
        for (const FrontEndKind kind :
             {FrontEndKind::host, FrontEndKind::plugin, FrontEndKind::control}) {
            runs.push_back({kind, i});
        }
    }
    return runs;
}

INSTANTIATE_TEST_SUITE_P(Table, ConformanceTest, ::testing::ValuesIn(allRuns()),
                         [](const ::testing::TestParamInfo<Run>& info) {
                             return conformanceCases()[info.param.index].name + "_" +
                                    nameOf(info.param.frontEnd);
                         });

}  // namespace
}  // namespace orva::conformance
