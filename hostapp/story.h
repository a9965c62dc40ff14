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
// Ctrl+9 on a WZ: in the list the row of the order number, or Esc when the
// number is empty; a question about a repeated comparison answered yes (at a
// prompt, the user answers instead). True when the step came to what was
// asked, whichever dialogs came on the way: the WZ compared with that order
// (marked, with the order's remarks, no other order changed), or, with no
// order, no document changed; otherwise why not, in why.
bool CompareStep(int section, const Plan::Comparison& comparison, std::string* why = nullptr);
void RepeatStep(int section, int wz);
void RemarksStep(int section, int source, int target);
// The document at source selected in the list, menu command 350 run.
void Command350Step(int section, int source);
// The document at position opened and saved (event 17152 on the headers).
void SaveStep(int section, int position);

// The lines of a document before and after, side by side.
void ShowLineChanges(const std::vector<DocumentItem>& before,
                     const std::vector<DocumentItem>& after, bool order);

}  // namespace hostapp
