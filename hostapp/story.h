// The story that the host program plays with the plug-in: which documents it
// opens, what the user answers, and how it shows what changed.
#pragma once

#include <string>
#include <vector>

#include "hostapp/documents.h"

namespace hostapp {

// What the story does with the documents of a file. For the bundled sample
// shop the steps are fixed below; in another file, or where a sample
// document is no longer in the state the story needs, the plan takes the
// first documents that fit.
struct Plan {
    struct Comparison {
        int wz = -1;               // header position
        std::string order_number;  // the order the user chooses (UTF-8)
    };
    std::vector<Comparison> comparisons;
    int repeat = -1;          // a WZ compared above, compared again
    int remarks_source = -1;  // the selected record for command 350
    int remarks_target = -1;  // the header stored afterwards
};
Plan MakePlan(const Snapshot& snapshot);

// Each step narrates itself under its own heading.
void CompareStep(int section, const Plan::Comparison& comparison);
void RepeatStep(int section, int wz);
void RemarksStep(int section, int source, int target);

// The lines of a document before and after, side by side.
void ShowLineChanges(const std::vector<DocumentItem>& before,
                     const std::vector<DocumentItem>& after, bool order);

}  // namespace hostapp
