// The user's own work on the documents: the steps named on the command line
// for an unattended run, and the interactive menu.
#pragma once

#include <string>
#include <vector>

namespace hostapp {

struct Step {
    enum class Kind { kCompare, kCommand350, kSave };
    Kind kind = Kind::kCompare;
    std::string number;  // the document (UTF-8): the WZ, the selected one, the saved one
    std::string order;   // kCompare: the order chosen in the list; "-" leaves it with Esc
};

// The documents of the store, one a line: position, kind, number, customer,
// value, lines, remarks.
void ListDocuments();

// The steps against the loaded documents, before anything runs: every named
// document is in the file, a WZ is a WZ and its order an order of the same
// customer. False with the reasons (Polish, one a line).
bool CheckSteps(const std::vector<Step>& steps, std::string& problems);

// Runs the steps in order, each under its heading numbered from section on.
// False when one did not come out as asked (said under its heading).
bool RunSteps(const std::vector<Step>& steps, int& section);

// The interactive menu, until the user saves and quits, quits without saving
// or the input ends (which quits without saving).
enum class MenuEnd { kSave, kQuit, kInputEnded };
MenuEnd RunMenu(int& section);

}  // namespace hostapp
