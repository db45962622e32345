// What counts as a run of settings commands that went through.

#include "gui/settings/CommandSequence.h"

#include <gtest/gtest.h>

namespace corvane3 {
namespace {

// A dialog closes with success only when every command of its run was accepted; a run that sent
// nothing changed nothing and is never reported as done.
TEST(CommandSequenceTest, OnlyARunWhoseEveryCommandWasAcceptedWentThrough) {
    using O = EStepOutcome;
    const std::pair<std::vector<O>, bool> cases[] = {
        {{}, false},
        {{O::kAccepted}, true},
        {{O::kAccepted, O::kAccepted}, true},
        {{O::kAccepted, O::kRefused, O::kNotSent}, false},
        {{O::kUnanswered}, false},
        {{O::kAccepted, O::kNotUnderstood}, false},
    };
    for (const auto& [outcomes, wentThrough] : cases) {
        EXPECT_EQ(SequenceResult{outcomes}.AllAccepted(), wentThrough) << outcomes.size();
    }
}

}  // namespace
}  // namespace corvane3
